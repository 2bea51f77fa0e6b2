#include "app/command_line.h"

#include <QCommandLineParser>
#include <QStringList>

#include "platform/command_options.h"

namespace {

// Only help and parse read the table; the values come from the parser.
const std::vector<cli::Option>& ConsoleOptions() {
  static const std::vector<cli::Option> options = {
      {"--lang", 0, "zh|en", "interface language (default: the last choice, else the locale)", {}},
      {"--help", 'h', "", "this text", {}},
      {"--version", 0, "", "print the program's version and exit", {}},
  };
  return options;
}

// Qt's own options, with a value and without, passed on to the application object.
constexpr const char* kQtValueOptions =
    "platform platformpluginpath platformtheme plugin qwindowgeometry qwindowtitle qwindowicon "
    "geometry title icon display name session style stylesheet qmljsdebugger";
constexpr const char* kQtSwitches = "reverse widgetcount nograb dograb sync testability";

QString Latin1(std::string_view text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

void AddOptions(QCommandLineParser& parser) {
  for (const cli::Option& row : ConsoleOptions()) {
    QStringList names = {Latin1(row.name.substr(2))};
    if (row.shortName != 0) names << QString(QLatin1Char(row.shortName));
    parser.addOption(QCommandLineOption(names, Latin1(row.help), Latin1(row.value)));
  }
  for (const QString& name : QString::fromLatin1(kQtValueOptions).split(QLatin1Char(' '))) {
    parser.addOption(QCommandLineOption(name, {}, QStringLiteral("value")));
  }
  for (const QString& name : QString::fromLatin1(kQtSwitches).split(QLatin1Char(' '))) {
    parser.addOption(QCommandLineOption(name));
  }
}

// Why the parser refused the line, worded as the other programs word it.
std::string ParseFault(const QCommandLineParser& parser,
                       const std::vector<std::string>& arguments) {
  if (const QStringList unknown = parser.unknownOptionNames(); !unknown.isEmpty()) {
    const QString& name = unknown.front();
    return "unknown option " + std::string(name.size() == 1 ? "-" : "--") + name.toStdString();
  }
  for (const cli::Option& row : ConsoleOptions()) {
    if (!row.value.empty() && !arguments.empty() && arguments.back() == row.name) {
      return std::string(row.name) + " wants " + std::string(row.value);
    }
  }
  return parser.errorText().toStdString();
}

}  // namespace

ConsoleCommandLine ParseConsoleCommandLine(const std::vector<std::string>& arguments) {
  QCommandLineParser parser;
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  AddOptions(parser);
  QStringList words = {QStringLiteral("tracker-console")};
  for (const std::string& argument : arguments) words << QString::fromLocal8Bit(argument);
  ConsoleCommandLine line;
  if (!parser.parse(words)) {
    line.error = ParseFault(parser, arguments);
  } else if (!parser.positionalArguments().isEmpty()) {
    line.error =
        "unexpected argument \"" + parser.positionalArguments().front().toStdString() + "\"";
  } else if (parser.isSet(QStringLiteral("help"))) {
    line.action = ConsoleCommandLine::Action::kHelp;
  } else if (parser.isSet(QStringLiteral("version"))) {
    line.action = ConsoleCommandLine::Action::kVersion;
  } else if (parser.isSet(QStringLiteral("lang"))) {
    line.language = parser.value(QStringLiteral("lang")).toStdString();
    if (line.language != "zh" && line.language != "en") {
      line.error = "--lang wants zh or en, not \"" + line.language + "\"";
    }
  }
  if (!line.error.empty()) line.action = ConsoleCommandLine::Action::kError;
  return line;
}

std::string ConsoleHelpText() {
  return cli::HelpText(
      "usage: tracker-console [--lang zh|en] [QT-OPTION]...\n"
      "Configures and factory-tests a GSM/GPS tracker attached over USB serial.\n",
      ConsoleOptions(),
      "Qt's own options, such as -platform offscreen or -style Fusion, are passed on.\n"
      "Without a tracker attached, start tracker-sim first to get a virtual one.\n");
}

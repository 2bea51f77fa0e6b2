#include "app/command_line.h"

#include <string_view>

namespace {

bool IsLanguage(std::string_view value) {
  return value == "zh" || value == "en";
}

}  // namespace

ConsoleCommandLine ParseConsoleCommandLine(const std::vector<std::string>& arguments) {
  ConsoleCommandLine line;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string_view argument = arguments[i];
    if (argument == "--help" || argument == "-h") {
      line.action = ConsoleCommandLine::Action::kHelp;
      return line;
    }
    if (argument == "--version") {
      line.action = ConsoleCommandLine::Action::kVersion;
      return line;
    }
    std::string_view value;
    if (argument.starts_with("--lang=")) {
      value = argument.substr(7);
    } else if (argument == "--lang") {
      if (i + 1 < arguments.size()) value = arguments[++i];
    } else {
      continue;  // Qt's, or a stray word: the application object decides
    }
    if (!IsLanguage(value)) {
      line.action = ConsoleCommandLine::Action::kError;
      line.error = "--lang expects zh or en";
      return line;
    }
    line.language = std::string(value);
  }
  return line;
}

std::string ConsoleHelpText() {
  return "usage: tracker-console [--lang zh|en] [QT-OPTION]...\n"
         "Configures and factory-tests a GSM/GPS tracker attached over USB serial.\n\n"
         "  --lang zh|en   interface language (default: the last choice, else the locale)\n"
         "  --help, -h     this text\n"
         "  --version      print the program's version and exit\n\n"
         "Qt's own options, such as -platform offscreen or -style Fusion, are passed on.\n"
         "Without a tracker attached, start tracker-sim first to get a virtual one.\n";
}

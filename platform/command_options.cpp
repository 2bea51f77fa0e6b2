#include "platform/command_options.h"

#include <getopt.h>

#include <algorithm>

namespace cli {

namespace {

// getopt_long's codes for options without a short name; above every character.
constexpr int kFirstLongCode = 256;

bool Listed(const Option& option) {
  return !option.name.empty() && option.take;
}

int CodeOf(const Option& option, std::size_t row) {
  return option.shortName != 0 ? option.shortName : kFirstLongCode + static_cast<int>(row);
}

const Option* RowOf(const std::vector<Option>& options, int code) {
  for (std::size_t row = 0; row < options.size(); ++row) {
    if (Listed(options[row]) && CodeOf(options[row], row) == code) return &options[row];
  }
  return nullptr;
}

// Why getopt_long stopped at an argument: a known option without its value (':') or with one
// it takes none of ('?'), else an option it does not know.
std::string Fault(const std::vector<Option>& options, int code, std::string_view argument) {
  if (const Option* row = RowOf(options, optopt); row != nullptr) {
    return std::string(row->name) +
           (code == ':' ? " wants " + std::string(row->value) : " takes no value");
  }
  if (optopt != 0) return std::string("unknown option -") + static_cast<char>(optopt);
  return "unknown option " + std::string(argument.substr(0, argument.find('=')));
}

// The table in getopt_long's terms; `names` owns the long names the entries point into.
struct GetoptTable {
  std::vector<std::string> names;
  std::vector<option> longOptions;
  // '+': stop at the first word that is no option; ':': report a missing value apart.
  std::string shortOptions = "+:";
};

void Fill(const std::vector<Option>& options, GetoptTable* table) {
  table->names.reserve(options.size());
  for (std::size_t row = 0; row < options.size(); ++row) {
    const Option& o = options[row];
    if (!Listed(o)) continue;
    table->names.emplace_back(o.name.substr(2));
    const int hasValue = o.value.empty() ? no_argument : required_argument;
    table->longOptions.push_back({table->names.back().c_str(), hasValue, nullptr, CodeOf(o, row)});
    if (o.shortName == 0) continue;
    table->shortOptions += o.shortName;
    if (!o.value.empty()) table->shortOptions += ':';
  }
  table->longOptions.push_back({nullptr, 0, nullptr, 0});
}

}  // namespace

// getopt_long keeps its state in globals: one parse at a time.
std::string Parse(const std::vector<std::string>& arguments, const std::vector<Option>& options) {
  GetoptTable table;
  Fill(options, &table);
  std::vector<std::string> words = {"program"};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const int argc = static_cast<int>(words.size());

  optind = 0;  // glibc: start afresh
  opterr = 0;  // the caller words and prints the fault
  for (int code; (code = getopt_long(argc, argv.data(), table.shortOptions.c_str(),
                                     table.longOptions.data(), nullptr)) != -1;) {
    const Option* row = RowOf(options, code);
    if (code == '?' || code == ':' || row == nullptr) return Fault(options, code, argv[optind - 1]);
    const std::string problem = row->take(optarg != nullptr ? optarg : "");
    if (!problem.empty()) return std::string(row->name) + " " + problem;
  }
  const bool stray = optind < argc;
  return stray ? "unexpected argument \"" + words[static_cast<std::size_t>(optind)] + "\"" : "";
}

std::string HelpText(std::string_view head, const std::vector<Option>& options,
                     std::string_view tail) {
  const auto left = [](const Option& o) {
    std::string text = "  ";
    if (o.shortName != 0) text += std::string("-") + o.shortName + ", ";
    text += o.name;
    if (!o.name.empty() && !o.value.empty()) text += ' ';
    return text + std::string(o.value);
  };
  std::size_t width = 0;
  for (const Option& o : options) {
    if (!o.help.empty() && !(o.name.empty() && o.value.empty()))
      width = std::max(width, left(o).size() + 2);
  }
  std::string text = std::string(head) + "\n";
  for (const Option& o : options) {
    if (o.help.empty()) continue;
    if (o.name.empty() && o.value.empty()) {
      text += (&o == &options.front() ? "" : "\n") + std::string(o.help) + "\n";
      continue;
    }
    std::string line = left(o);
    line.resize(width, ' ');
    for (const char c : o.help)
      line += c == '\n' ? "\n" + std::string(width, ' ') : std::string(1, c);
    text += line + "\n";
  }
  if (!tail.empty()) text += "\n" + std::string(tail);
  return text;
}

}  // namespace cli

#pragma once
// The programs' command lines: one table of options gives both the parse (getopt_long) and the
// help page, so every program's help reads alike and no option is parsed one way and
// documented another.

#include <charconv>
#include <cmath>
#include <functional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace cli {

// What an option does with its value (empty for a switch): "" or what is wrong with the value,
// worded to follow the option's name ("wants seconds from 0 to 3600").
using Take = std::function<std::string(std::string_view value)>;

// One row of a program's table. Without a name the row only shows in the help: a heading
// (`help` alone) or a note with `value` in the option column, e.g. "(none of these)".
struct Option {
  std::string_view name;   // "--port"
  char shortName = 0;      // 'h' for -h
  std::string_view value;  // "COMn"; empty: a switch
  std::string_view help;   // lines apart by '\n'; empty: not listed (a hidden option)
  Take take;
};

// `arguments` without the program's name; "" when every one was understood, else the first
// fault: "unknown option --colour", "--port wants COMn", "--all takes no value", "unexpected
// argument "x"", or the option's name followed by what its Take said.
std::string Parse(const std::vector<std::string>& arguments, const std::vector<Option>& options);

// `head` ("usage: ..." and what the program does), the table in two columns, then `tail`.
std::string HelpText(std::string_view head, const std::vector<Option>& options,
                     std::string_view tail);

// The whole of `text` as one number (finite, for floating point); nothing before or after.
template <typename Number>
bool ParseNumber(std::string_view text, Number* out) {
  Number number{};
  const char* end = text.data() + text.size();
  const auto [stop, problem] = std::from_chars(text.data(), end, number);
  if (text.empty() || problem != std::errc() || stop != end) return false;
  if constexpr (std::is_floating_point_v<Number>) {
    if (!std::isfinite(number)) return false;
  }
  *out = number;
  return true;
}

}  // namespace cli

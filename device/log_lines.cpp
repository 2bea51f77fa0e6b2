#include "device/log_lines.h"

#include <chrono>
#include <cstdio>

namespace loglines {
namespace {

constexpr std::size_t kLongTime = 23;  // "YYYY-MM-DD HH:MM:SS.mmm"
constexpr std::size_t kDatePart = 11;  // "YYYY-MM-DD "
constexpr std::size_t kShortTime = 8;  // "HH:MM:SS"

// One line of the pane's text (without CR LF) in the standard form, or nothing.
void AppendStandardLine(std::string_view line, std::string& out) {
  const std::size_t firstTab = line.find('\t');
  const std::size_t secondTab =
      firstTab == std::string_view::npos ? firstTab : line.find('\t', firstTab + 1);
  if (secondTab == std::string_view::npos) {
    out.append(line);
    out.append("\r\n");
    return;
  }
  const std::string_view number = line.substr(0, firstTab);
  const std::string_view time = line.substr(firstTab + 1, secondTab - firstTab - 1);
  const std::string_view text = line.substr(secondTab + 1);
  if (number.substr(1) == kSentMarker || (!text.empty() && text.front() == '$')) return;
  out.append(line.substr(0, firstTab + 1));
  out.append(TimeOfDayPart(time));
  out.append(line.substr(secondTab));
  out.append("\r\n");
}

}  // namespace

std::string TimeText(std::time_t seconds, int milliseconds, bool dateAndMilliseconds) {
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[40] = {};
  // Both forms always fit: the results need no check.
  if (!dateAndMilliseconds) {
    (void)std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return text;
  }
  (void)std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  char millis[8] = {};
  (void)std::snprintf(millis, sizeof millis, ".%03d", milliseconds % 1000);
  return std::string(text) + millis;
}

std::string_view TimeOfDayPart(std::string_view time) {
  return time.size() == kLongTime ? time.substr(kDatePart, kShortTime) : time;
}

std::string Now(bool dateAndMilliseconds) {
  const auto now = std::chrono::system_clock::now();
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
  return TimeText(static_cast<std::time_t>(ms / 1000), static_cast<int>(ms % 1000),
                  dateAndMilliseconds);
}

std::string Compose(std::string_view number, std::string_view time, std::string_view text) {
  std::string line;
  line.reserve(number.size() + time.size() + text.size() + 5);
  line += ' ';
  line.append(number);
  line += '\t';
  line.append(time);
  line += '\t';
  line.append(text);
  line.append("\r\n");
  return line;
}

std::string StandardText(std::string_view paneText) {
  std::string out;
  out.reserve(paneText.size());
  while (!paneText.empty()) {
    const std::size_t end = paneText.find("\r\n");
    AppendStandardLine(paneText.substr(0, end), out);
    if (end == std::string_view::npos) break;
    paneText.remove_prefix(end + 2);
  }
  return out;
}

}  // namespace loglines

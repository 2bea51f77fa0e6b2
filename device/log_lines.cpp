#include "device/log_lines.h"

#include <chrono>
#include <cstdio>
#include <cstring>

namespace loglines {
namespace {

constexpr std::size_t kLongTime = 23;  // "YYYY-MM-DD HH:MM:SS.mmm"
constexpr std::size_t kDatePart = 11;  // "YYYY-MM-DD "
constexpr std::size_t kShortTime = 8;  // "HH:MM:SS"

// Copies `piece` to `at` in `text` (never past where it lies) and returns the end.
std::size_t MoveDown(std::string& text, std::size_t at, std::string_view piece) {
  std::memmove(text.data() + at, piece.data(), piece.size());
  return at + piece.size();
}

// Writes the line text[begin, end) (without CR LF) at `at` in its standard form and moves
// `at` past it; false when the line is left out. The form is never longer than the line.
bool KeepStandardLine(std::string& text, std::size_t begin, std::size_t end, std::size_t& at) {
  const std::string_view line = std::string_view(text).substr(begin, end - begin);
  const std::size_t firstTab = line.find('\t');
  const std::size_t secondTab =
      firstTab == std::string_view::npos ? firstTab : line.find('\t', firstTab + 1);
  if (secondTab == std::string_view::npos) {
    at = MoveDown(text, at, line);
    return true;
  }
  const std::string_view number = line.substr(0, firstTab);
  const std::string_view time = line.substr(firstTab + 1, secondTab - firstTab - 1);
  const std::string_view rest = line.substr(secondTab);
  if (number.substr(1) == kSentMarker || (rest.size() > 1 && rest[1] == '$')) return false;
  at = MoveDown(text, at, line.substr(0, firstTab + 1));
  at = MoveDown(text, at, TimeOfDayPart(time));
  at = MoveDown(text, at, rest);
  return true;
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

std::string StandardText(std::string paneText) {
  // In place, so a full pane is not copied once more: no line grows, so what is written never
  // overtakes what is still to be read.
  std::size_t read = 0;
  std::size_t write = 0;
  while (read < paneText.size()) {
    const std::size_t end = paneText.find("\r\n", read);
    if (end == std::string::npos) {
      KeepStandardLine(paneText, read, paneText.size(), write);
      break;
    }
    if (KeepStandardLine(paneText, read, end, write)) write = MoveDown(paneText, write, "\r\n");
    read = end + 2;
  }
  paneText.resize(write);
  return paneText;
}

}  // namespace loglines

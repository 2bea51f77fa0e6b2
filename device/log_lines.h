#pragma once
// The traffic log's lines: " n\t" (or " >>\t" for a frame the console sent), the time, a tab,
// the text, CR LF. The standard time is the time of day (HH:MM:SS); the operator may ask for
// the date and milliseconds too. The log file keeps the standard form unless the operator asks
// for the extras (sent frames, NMEA sentences, the longer time) there as well.

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace loglines {

// What the operator chose to see in the pane, and whether the file gets it too.
struct LogOptions {
  bool showNmea = false;
  bool dateAndMilliseconds = false;
  bool extrasInFile = false;
};

// The marker that stands where a received line has its number.
inline constexpr std::string_view kSentMarker = ">>";

// "HH:MM:SS", or "YYYY-MM-DD HH:MM:SS.mmm", of a local time.
std::string TimeText(std::time_t seconds, int milliseconds, bool dateAndMilliseconds);
// The "HH:MM:SS" inside a time of either form.
std::string_view TimeOfDayPart(std::string_view time);
// The current local time, as TimeText.
std::string Now(bool dateAndMilliseconds);

// One line: " " + number (or the marker) + "\t" + time + "\t" + text + "\r\n".
std::string Compose(std::string_view number, std::string_view time, std::string_view text);

// The pane's text as the standard file has it: sent frames and NMEA sentences left out, a
// time with date and milliseconds cut to the time of day; every other byte as it is.
std::string StandardText(std::string paneText);

}  // namespace loglines

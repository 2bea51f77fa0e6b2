// The log's line forms: the standard file form kept however the pane shows its lines, and the
// search that never matches inside a two-byte character.

#include "device/log_lines.h"

#include <gtest/gtest.h>

#include "device/log_store.h"

namespace {

TEST(LogLines, RecordingStartsInTheStandardForm) {
  const struct {
    const char* what;
    std::string pane;
    std::string file;
  } rows[] = {
      {"received lines stay byte for byte", " 7\t09:15:02\t\x80\xFF\xD6\xD0\r\n",
       " 7\t09:15:02\t\x80\xFF\xD6\xD0\r\n"},
      {"the long time is cut to the time of day", " 7\t2026-12-06 09:15:02.123\tok#\r\n",
       " 7\t09:15:02\tok#\r\n"},
      {"sent frames and NMEA lines are left out",
       " >>\t09:15:01\tAT+uart:imei,?#\r\n 8\t09:15:02\t$GPGGA,1\r\n 9\t09:15:02\tx\r\n",
       " 9\t09:15:02\tx\r\n"},
  };
  for (const auto& row : rows) EXPECT_EQ(loglines::StandardText(row.pane), row.file) << row.what;
  EXPECT_EQ(loglines::TimeText(0, 45, false).size(), 8U);
  const std::string longTime = loglines::TimeText(0, 45, true);
  EXPECT_EQ(longTime.substr(19), ".045");
  EXPECT_EQ(loglines::TimeOfDayPart(longTime), loglines::TimeText(0, 45, false));
}

TEST(LogLines, SearchFindsCharactersNotBytes) {
  const std::string line = "AT+uart:imei,\xD6\x41 IMEI";  // 0xD6 0x41 is one character
  const struct {
    const char* what;
    std::string term;
    int from;
    bool forward;
    int column;
  } rows[] = {
      {"either case", "imei", 0, true, 8},
      {"the next one", "imei", 9, true, 15},
      {"backwards", "IMEI", 15, false, 8},
      {"not inside a two-byte character", "A", 5, true, -1},
      {"the two-byte character itself", "\xD6\x41", 0, true, 13},
      {"nothing", "gps", 0, true, -1},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(logstore::LogStore::FindInLine(line, row.term, row.from, row.forward), row.column)
        << row.what;
  }
}

}  // namespace

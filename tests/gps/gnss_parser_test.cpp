// Receivers of every constellation, row by row: talkers, used sets, groups per talker, RMC,
// GNS, DOPs and the time to first fix (timed in payloads, one second each).

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/gps/nmea_panel_view.h"

namespace {

struct GnssCase {
  const char* what;
  std::vector<std::string> sentences;
  std::vector<std::string> expected;  // lines of the panel's views
};

const GnssCase kCases[] = {
    {"GSA sentences in a row make one used set; the next second's replace it",
     {"$GNGSA,A,3,01,11", "$GNGSA,A,3,67,83", "$GNGGA,", "$GNGSA,A,3,03", "$GNGSA,A,3,68"},
     {"used: GPS 3; GLONASS 68"}},
    {"GPS and GLONASS groups do not overwrite each other",
     {"$GPGSV,1,1,02,01,10,100,30,03,20,200,", "$GLGSV,1,1,01,66,30,300,25"},
     {"in view: GPS 1 3; GLONASS 66"}},
    {"GLONASS leaves the 32 GPS cells alone",
     {"$GNGGA,,,,,,1,02", "$GNGSA,A,3,04", "$GNGSA,A,3,66", "$GPGSV,1,1,01,04,10,100,40",
      "$GLGSV,1,1,01,66,10,100,30"},
     {"m_snr: 4=40", "g_usedPrns: 4 0 0 0 0 0 0 0 0 0 0 0", "used: GPS 4; GLONASS 66"}},
    {"BeiDou numbers of a GN GSA are the ones BeiDou reports in view",
     {"$GBGSV,1,1,01,201,49,147,44", "$GNGSA,A,3,201"},
     {"in view: BeiDou 201", "used: BeiDou 201"}},
    {"the system id of NMEA 4.10 names the system",
     {"$GNGSA,A,3,05,,,,,,,,,,,,1.0,1.0,1.0,4"},
     {"used: BeiDou 5"}},
    {"a group with a part lost keeps the last complete one",
     {"$GPGSV,2,1,05,01,1,1,,02,1,1,,03,1,1,,04,1,1,", "$GPGSV,2,2,05,05,1,1,",
      "$GPGSV,2,1,05,06,1,1,,07,1,1,,08,1,1,,09,1,1,"},
     {"in view: GPS 1 2 3 4 5"}},
    {"RMC alone: date, speed in km/h, course and a differential fix",
     {"$GPRMC,120000,A,,,,,10.0,45.26,311299,,,D"},
     {"time: \"12:00:00\" \"1999-12-31\"", "speed course: \"18.5\" \"45.3\"",
      "fix: \"定位\" \"差分定位\" \"0\""}},
    {"RMC alone: V after A is no fix",
     {"$GPRMC,120000,A,,,,,,,311299", "$GPRMC,120001,V,,,,,,,311299"},
     {"fix: \"未定位\" \"未定位\" \"0\""}},
    {"GNS of the same second as GGA is shown once; GNS alone is a position",
     {"$GPGGA,000001,,,,,1", "$GNGNS,000001,,,,,AN", "$GNGNS,000002,0100.0000,S,00100.0000,W,NN"},
     {"indicator sets: 2", "position: \"-1.000000\" \" -1.000000\"",
      "fix: \"未定位\" \"未定位\" \"\""}},
    {"DOPs from GSA",
     {"$GPGSA,A,3,04,,,,,,,,,,,,2.5,1.3,2.1"},
     {"dop: P\"2.5\" H\"1.3\" V\"2.1\""}},
    {"first fix: timed from the start, with the fix second's used satellites and signals",
     {"$GPGGA,000001,,,,,0", "$GPGGA,000002,,,,,1,02", "$GPGSA,A,3,04,05",
      "$GPGSV,1,1,02,04,10,100,40,05,20,200,45", "$GPGGA,000003,,,,,1,02",
      "$GPGSV,1,1,02,04,10,100,48,05,20,200,45"},
     {"first fix: 2 s, 2 used, best 45 dB-Hz \"2.0\""}},
    {"first fix again after the receiver lost it, timed from the loss",
     {"$GPGGA,000001,,,,,1,05", "$GPGGA,000002,,,,,0", "$GPGGA,000003,,,,,0",
      "$GPGGA,000004,,,,,1,05"},
     {"first fix: 2 s, 5 used, best 0 dB-Hz \"2.0\""}},
};

TEST(GnssParser, EveryConstellationShowsAsItsSentencesSay) {
  for (const GnssCase& row : kCases) {
    SCOPED_TRACE(row.what);
    nmea_test::PanelRun run;
    for (const std::string& sentence : row.sentences) run.Feed(sentence);
    const std::string view = "\n" + nmea_test::ViewText(run) + nmea_test::GnssViewText(run);
    for (const std::string& line : row.expected) {
      EXPECT_NE(view.find("\n" + line + "\n"), std::string::npos) << line << " in" << view;
    }
  }
}

}  // namespace

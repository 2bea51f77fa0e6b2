// The NMEA parser against the documented worked example and its edge cases, row by row, for
// receivers of every constellation.

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/gps/nmea_panel_view.h"

namespace {

using nmea_test::PanelRun;
using Expected = std::vector<std::string>;

constexpr const char* kWorkedGga =
    "$GPGGA,084512.00,3130.5210,N,12126.8843,E,2,07,1.1,12.5,M,8.4,M,,*6E";
constexpr const char* kWorkedGsa = "$GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1*39";
constexpr const char* kWorkedGsv1 =
    "$GPGSV,3,1,10,04,45,120,42,05,30,210,38,07,10,300,,09,60,045,44*7F";
constexpr const char* kWorkedGsv2 =
    "$GPGSV,3,2,10,12,22,180,35,17,05,090,,20,15,270,28,24,50,330,40*71";
constexpr const char* kWorkedGsv3 = "$GPGSV,3,3,10,25,08,010,,31,40,150,33*74";

// The satellites in view that the panel marks as used, as the satellite view draws them.
std::string MarkedUsed(const PanelRun& run) {
  std::string text;
  for (const gps::SatelliteInView& s : run.panel.m_satellites) {
    if (!s.used) continue;
    text +=
        std::string(" ") + gps::ConstellationName(s.constellation) + " " + std::to_string(s.number);
  }
  return "marked used:" + (text.empty() ? std::string(" none") : text) + "\n";
}

// Each expected "key: value" is a line of the panel's views.
void ExpectView(const PanelRun& run, const Expected& expected) {
  const std::string view =
      "\n" + nmea_test::ViewText(run) + nmea_test::GnssViewText(run) + MarkedUsed(run);
  for (const std::string& line : expected) {
    EXPECT_NE(view.find("\n" + line + "\n"), std::string::npos) << line << " in\n" << view;
  }
}

// The worked example, sentence by sentence: the position fills the panel and blinks, the fix
// status records the first seven satellite fields without refresh, and the satellite group
// stores the used satellites' SNR and refreshes on its last sentence.
TEST(NmeaParser, WorkedExample) {
  PanelRun run;
  run.Feed(kWorkedGga);
  EXPECT_TRUE(run.last.refresh);
  EXPECT_TRUE(run.last.setIndicator);
  ExpectView(
      run, {"m_gpsTime: \"08:45:12\"", "m_latitude: \"31.508683\"", "m_longitude: \"121.448072\"",
            "m_fixType: \"差分定位\"", "m_satsUsed: \"07\"", "m_altitude: \"12.5\"",
            "m_fixState: \"定位\"", "indicator: on", "g_usedSatCount: 7", "g_gpsUpdateToggle: 1"});

  run.Feed(kWorkedGsa);
  EXPECT_FALSE(run.last.refresh);
  EXPECT_FALSE(run.last.setIndicator);
  ExpectView(run, {"m_fixState: \"定位\"", "g_usedPrns: 4 5 0 9 12 0 0 0 0 0 0 0"});

  for (const char* sentence : {kWorkedGsv1, kWorkedGsv2}) {
    run.Feed(sentence);
    EXPECT_FALSE(run.last.refresh);
    ExpectView(run, {"m_snr: (all 0)"});
  }
  ExpectView(run, {"g_snrTable: 4=42 5=38 9=44 12=35"});
  run.Feed(kWorkedGsv3);
  EXPECT_TRUE(run.last.refresh);
  EXPECT_FALSE(run.last.setIndicator);
  ExpectView(run, {"g_snrTable: 4=42 5=38 9=44 12=35", "m_snr: 4=42 5=38 9=44 12=35",
                   "refreshes: 2", "indicator sets: 1"});
}

// --- Edge cases: each row feeds its sentences to a fresh panel ------------------------------

struct PanelCase {
  const char* what;
  std::vector<std::string> sentences;
  Expected expected;
};

const std::string kUsed4And5 = "$GPGGA,,,,,,1,02";  // two satellites in use ...
const std::string kGsa4And5 = "$GPGSA,A,3,04,05";   // ... numbers 4 and 5

std::string EightyFieldSatelliteSentence() {
  std::string sentence = "$GPGSV,1,1,01,04,10,100,42";
  for (int i = 0; i < 72; ++i) sentence += ",77";
  return sentence;
}

const PanelCase kPanelCases[] = {
    // "raw:" feeds the sentence as it stands, without a checksum added.
    {"position without a checksum is shown",
     {"raw:$GPGGA,084512.00,3130.5210,N,12126.8843,E,2,07,1.1,12.5,M,8.4,M,,"},
     {"m_gpsTime: \"08:45:12\"", "m_latitude: \"31.508683\"", "m_satsUsed: \"07\"",
      "refreshes: 1"}},
    {"satellites without checksums are shown",
     {"raw:$GPGGA,,,,,,1,02", "raw:$GPGSA,A,3,04,05",
      "raw:$GPGSV,1,1,02,04,10,100,45,05,20,200,40"},
     {"g_snrTable: 4=45 5=40"}},
    {"position sentence with every data field empty",
     {"$GPGGA,,,,,,,,,,,,,,"},
     {"m_gpsTime: \"\"", "m_latitude: \" 0.000000\"", "m_longitude: \"  0.000000\"",
      "m_satsUsed: \"\"", "m_altitude: \"\"", "m_fixType: \"未定位\"", "indicator: on",
      "refreshes: 1"}},
    {"$GPGGA alone (no commas) is a position sentence with all fields empty",
     {"$GPGGA"},
     {"m_gpsTime: \"\"", "m_latitude: \" 0.000000\"", "m_longitude: \"  0.000000\"",
      "m_satsUsed: \"\"", "m_fixType: \"未定位\"", "indicator sets: 1", "refreshes: 1"}},
    {"second position sentence turns the indicator off",
     {"$GPGGA,", "$GPGGA,"},
     {"indicator: off", "indicator sets: 2", "g_gpsUpdateToggle: 0"}},
    {"time without fraction", {"$GPGGA,225308,"}, {"m_gpsTime: \"22:53:08\""}},
    {"time with a long fraction drops it", {"$GPGGA,000343.0301,"}, {"m_gpsTime: \"00:03:43\""}},
    {"latitude below 10 and longitude below 100 degrees keep their widths",
     {"$GPGGA,000000,0507.1234,N,09930.0000,E,1"},
     {"m_latitude: \" 5.118723\"", "m_longitude: \" 99.500000\""}},
    {"south and west are negative",
     {"$GPGGA,225308,4527.458,S,16709.165,W,1,05,2.1,14.7,M,1.1,M,,"},
     {"m_latitude: \"-45.457633\"", "m_longitude: \"-167.152750\""}},
    {"the minus sign takes a leading space where there is one",
     {"$GPGGA,000000,0507.1234,S,00930.0000,W,1"},
     {"m_latitude: \"-5.118723\"", "m_longitude: \" -9.500000\""}},
    {"satellites in use shown as sent, counted as a number",
     {"$GPGGA,,,,,,1,07,,0046.0"},
     {"m_satsUsed: \"07\"", "g_usedSatCount: 7", "m_altitude: \"0046.0\""}},
    {"without a position sentence a 2D fix status is a fix, and does not refresh",
     {"$GPGSA,A,2,04"},
     {"m_fixState: \"定位\"", "m_fixType: \"非差分定位\"", "refreshes: 0"}},
    {"without a position sentence mode 1 after mode 3 is no fix",
     {"$GPGSA,A,3", "$GPGSA,A,1"},
     {"m_fixState: \"未定位\"", "m_fixType: \"未定位\""}},
    {"after a position sentence the fix status no longer decides the fix",
     {"$GPGGA,,,,,,1", "$GPGSA,A,1"},
     {"m_fixState: \"定位\"", "m_fixType: \"非差分定位\""}},
    {"fix status before any position sentence records no satellites, so no SNR is stored",
     {"$GPGSA,A,3,04,05,09", "$GPGSV,1,1,01,04,45,120,42"},
     {"g_usedPrns: 0 0 0 0 0 0 0 0 0 0 0 0", "g_snrTable: (all 0)", "m_snr: (all 0)"}},
    {"more than 12 satellites in use records 12 numbers (fields 3 to 14), the 12th used",
     {"$GPGGA,,,,,,1,14", "$GPGSA,A,3,1,2,3,4,5,6,7,8,9,10,11,12,1.0,1.0,1.0",
      "$GPGSV,1,1,01,12,1,1,42"},
     {"g_usedSatCount: 14", "g_usedPrns: 1 2 3 4 5 6 7 8 9 10 11 12", "g_snrTable: 12=42"}},
    {"a smaller count of satellites in use leaves the rest of the numbers unused",
     {"$GPGGA,,,,,,1,03", "$GPGSA,A,3,04,05,06", "$GPGGA,,,,,,1,01",
      "$GPGSV,1,1,02,04,1,1,41,05,1,1,51"},
     {"g_snrTable: 4=41"}},
    {"fix status keeps the low byte of a satellite number",
     {"$GPGGA,,,,,,1,01", "$GPGSA,A,3,260"},
     {"g_usedPrns: 4 0 0 0 0 0 0 0 0 0 0 0"}},
    {"fix status clears numbers of the previous one",
     {"$GPGGA,,,,,,1,03", "$GPGSA,A,3,04,05,06", "$GPGGA,,,,,,1,01", "$GPGSA,A,3,07"},
     {"g_usedPrns: 7 0 0 0 0 0 0 0 0 0 0 0"}},
    {"satellites 0 and above 32 never store an SNR, even when listed as used",
     {"$GPGGA,,,,,,1,03", "$GPGSA,A,3,00,33,04",
      "$GPGSV,1,1,03,00,10,100,40,33,10,100,41,04,10,100,42"},
     {"g_snrTable: 4=42", "m_snr: 4=42"}},
    {"satellite number above 255 with a used low byte stores nothing",
     {"$GPGGA,,,,,,1,01", "$GPGSA,A,3,04", "$GPGSV,1,1,01,260,10,100,40"},
     {"g_snrTable: (all 0)"}},
    {"SNR just before the checksum",
     {kUsed4And5, kGsa4And5, "$GPGSV,1,1,01,04,45,120,45"},
     {"g_snrTable: 4=45", "m_snr: 4=45", "refreshes: 2"}},
    {"empty SNR (satellite not tracked) stores 0",
     {kUsed4And5, kGsa4And5, "$GPGSV,1,1,02,04,45,120,45,05,10,200,",
      "$GPGSV,1,1,02,04,45,120,,05,10,200,33"},
     {"g_snrTable: 5=33", "m_snr: 5=33"}},
    {"no satellites in view clears the row and refreshes",
     {kUsed4And5, kGsa4And5, "$GPGSV,1,1,01,04,45,120,45", "$GPGSV,1,1,00"},
     {"g_snrTable: (all 0)", "m_snr: (all 0)", "refreshes: 3"}},
    {"8 in view: sentence 1 of 2 does not refresh",
     {kUsed4And5, kGsa4And5, "$GPGSV,2,1,08,01,1,1,1,02,1,1,2,03,1,1,3,04,1,1,44"},
     {"g_snrTable: 4=44", "m_snr: (all 0)", "refreshes: 1"}},
    {"8 in view: sentence 2 of 2 is the last, reads its 4 blocks and refreshes",
     {kUsed4And5, kGsa4And5, "$GPGSV,2,1,08,01,1,1,1,02,1,1,2,03,1,1,3,06,1,1,6",
      "$GPGSV,2,2,08,07,1,1,7,08,1,1,8,04,1,1,44,05,1,1,55"},
     {"g_snrTable: 4=44 5=55", "m_snr: 4=44 5=55", "refreshes: 2"}},
    {"lost first sentence of a group keeps the old values not overwritten",
     {kUsed4And5, kGsa4And5, "$GPGSV,2,1,05,04,1,1,41,05,1,1,51,01,1,1,1,02,1,1,2",
      "$GPGSV,2,2,05,03,1,1,3", "$GPGSV,2,2,05,05,1,1,52"},
     {"g_snrTable: 4=41 5=52", "m_snr: 4=41 5=52", "refreshes: 3"}},
    {"sentences of one payload are read one by one, at line ends or a spliced '$'",
     {std::string(kWorkedGga) + "\r\n" + kWorkedGsa + "$GPGSV,1,1,00*79"},
     {"m_gpsTime: \"08:45:12\"", "m_fixState: \"定位\"", "g_usedPrns: 4 5 0 9 12 0 0 0 0 0 0 0",
      "refreshes: 1", "indicator sets: 1"}},
    // Receivers of every constellation: talkers, used sets, groups per talker, RMC, GNS, DOPs
    // and the time to first fix (timed in payloads, one second each).
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
    {"a satellite the next second's GSA leaves out is no longer marked used in view",
     {"$GPGSV,1,1,03,04,10,100,40,05,20,200,35,09,30,300,30", "$GPGSA,A,3,04,05", "$GPGGA,",
      "$GPGSA,A,3,04"},
     {"marked used: GPS 4"}},
    {"a used satellite that is not in view marks no other",
     {"$GPGSV,1,1,01,05,20,200,35", "$GPGSA,A,3,04"},
     {"marked used: none"}},
    {"BD is BeiDou's other talker", {"$BDGSV,1,1,01,202,30,100,40"}, {"in view: BeiDou 202"}},
    {"the system id of NMEA 4.10 names the system",
     {"$GNGSA,A,3,05,,,,,,,,,,,,1.0,1.0,1.0,4"},
     {"used: BeiDou 5"}},
    {"a group with a part lost keeps the last complete one",
     {"$GPGSV,2,1,05,01,1,1,,02,1,1,,03,1,1,,04,1,1,", "$GPGSV,2,2,05,05,1,1,",
      "$GPGSV,2,1,05,06,1,1,,07,1,1,,08,1,1,,09,1,1,"},
     {"in view: GPS 1 2 3 4 5"}},
    {"RMC alone: date, speed in km/h, course and a differential fix",
     {"$GPRMC,120000,A,,,,,100.0,45.26,311299,,,D"},
     {"time: \"12:00:00\" \"1999-12-31\"", "speed course: \"185.2\" \"45.3\"",
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
    {"DOPs rounded as printf rounds: exact halves to even, the rest to nearest",
     {"$GPGSA,A,3,04,,,,,,,,,,,,0.25,0.35,0.75"},
     {"dop: P\"0.2\" H\"0.3\" V\"0.8\""}},
    {"first fix: timed from the start, with the fix second's used satellites and signals",
     {"$GPGGA,000001,,,,,0", "$GPGGA,000002,,,,,1,02", "$GPGSA,A,3,04,05",
      "$GPGSV,1,1,02,04,10,100,45,05,20,200,40", "$GPGGA,000003,,,,,1,02",
      "$GPGSV,1,1,02,04,10,100,48,05,20,200,45"},
     {"first fix: 2 s, 2 used, best 45 dB-Hz \"2.0\""}},
    {"first fix again after the receiver lost it, timed from the loss",
     {"$GPGGA,000001,,,,,1,05", "$GPGGA,000002,,,,,0", "$GPGGA,000003,,,,,0",
      "$GPGGA,000004,,,,,1,05"},
     {"first fix: 2 s, 5 used, best 0 dB-Hz \"2.0\""}},
};

TEST(NmeaParser, EdgeCasesShowTheDescribedState) {
  for (const PanelCase& row : kPanelCases) {
    SCOPED_TRACE(row.what);
    PanelRun run;
    for (const std::string& sentence : row.sentences) {
      if (sentence.starts_with("raw:")) {
        run.FeedRaw(sentence.c_str() + 4);
      } else {
        run.Feed(sentence);
      }
    }
    ExpectView(run, row.expected);
  }
}

// --- Sentences that must leave everything as it was ------------------------------------

struct IgnoredCase {
  const char* what;
  std::string sentence;  // fed as received when it has a checksum, else with one added
};

const IgnoredCase kIgnoredCases[] = {
    {"wrong checksum", "$GPGGA,084512.00,3130.5210,N,12126.8843,E,1,03,1.1,12.5,M,8.4,M,,*6F"},
    {"checksum one off", "$GPGSV,1,1,00*78"},
    {"star without its checksum", "$GPGSV,1,1,00*"},
    {"checksum of one digit", "$GPGSV,1,1,00*7"},
    {"text after the checksum", "$GPGSV,1,1,00*79x"},
    {"unknown talker", "$GXGGA,084512.00,0130.5210,N,00126.8843,E,1,03,1.1,12.5,M,8.4,M,,"},
    {"proprietary sentence", "$PSRFEPE,053229.438,V,,,,,"},
    {"course over ground", "$GPVTG,000.0,T,357.0,M,000.0,N,0000.1,K,A"},
    {"type in lower case", "$gpgga,,,,,,1,01"},
    {"type with a trailing character", "$GPGGAX,,,,,,1,01"},
    {"type with a trailing blank", "$GPGSV ,1,1,00"},
    {"type cut short", "$GPGG"},
    {"type without its dollar", "GPGSA,A,2"},
    {"empty payload", ""},
    {"hemisphere letter other than N or S", "$GPGGA,000000,3130.5210,X,12126.8843,E,1"},
    {"hemisphere in lower case", "$GPGGA,000000,3130.5210,n,12126.8843,E,1"},
    {"latitude without its hemisphere", "$GPGGA,000000,3130.5210,,12126.8843,E,1"},
    {"east given for a latitude", "$GPGGA,000000,3130.5210,E,12126.8843,E,1"},
    {"latitude without longitude", "$GPGGA,000000,3130.5210,N,,,1"},
    {"coordinate with blanks and a sign", "$GPGGA,000000, +3130.5210,N,12126.8843,E,1"},
    {"coordinate that is no number", "$GPGGA,000000,nan,N,inf,E,1"},
    {"coordinate in exponent form", "$GPGGA,000000,1e300,N,12126.8843,E,1"},
    {"60 minutes", "$GPGGA,000000,8960.0000,N,00000.0000,E,1"},
    {"latitude beyond 90 degrees", "$GPGGA,000000,9100.0000,N,00000.0000,E,1"},
    {"longitude beyond 180 degrees", "$GPGGA,000000,0000.0000,N,18100.0000,E,1"},
    {"time shorter than hhmmss", "$GPGGA,1234,,,,,1"},
    {"hour 24", "$GPGGA,240000,,,,,1"},
    {"an overlong field", "$GPGGA," + std::string(200, '1') + ",,,,,1"},
    {"a first field longer than 99 characters", "$GPGGA" + std::string(120, 'X') + ",084512"},
    {"satellites in use above 99", "$GPGGA,,,,,,1,300"},
    {"absurd altitude", "$GPGGA,,,,,,1,04,1.0,1e9"},
    {"fix mode other than 1, 2, 3", "$GPGSA,A,03,04"},
    {"satellite number that is no number", "$GPGSA,A,3,x4"},
    {"absurd DOP", "$GPGSA,A,3,04,,,,,,,,,,,,500.0,1.0,1.0"},
    {"absurd message numbers", "$GPGSV,9,2147483647,2147483647,04,1,1,44"},
    {"more satellites than the group has room for", "$GPGSV,1,1,05,04,1,1,44"},
    {"last sentence with more blocks than satellites left", "$GPGSV,2,2,05,04,1,1,44,05,1,1,55"},
    {"80 fields", EightyFieldSatelliteSentence()},
    {"elevation above 90", "$GPGSV,1,1,01,04,91,120,44"},
    {"SNR above 99", "$GPGSV,1,1,01,04,45,120,300"},
    {"RMC status other than A or V", "$GPRMC,000000,X,,,,,,,010120"},
    {"RMC date of month 13", "$GPRMC,000000,A,,,,,,,011320"},
};

TEST(NmeaParser, IgnoredSentencesChangeNothingAndDoNotRefresh) {
  for (const IgnoredCase& row : kIgnoredCases) {
    SCOPED_TRACE(row.what);
    PanelRun run;
    for (const char* sentence : {kWorkedGga, kWorkedGsa, kWorkedGsv1, kWorkedGsv2, kWorkedGsv3}) {
      run.Feed(sentence);
    }
    const std::string before = nmea_test::ViewText(run) + nmea_test::GnssViewText(run);
    run.Feed(row.sentence);
    EXPECT_FALSE(run.last.refresh);
    EXPECT_FALSE(run.last.setIndicator);
    std::string after = nmea_test::ViewText(run) + nmea_test::GnssViewText(run);
    after.replace(after.find("sentences: 6"), 12, "sentences: 5");
    EXPECT_EQ(after, before);
  }
  PanelRun none;
  none.FeedRaw(nullptr);
  EXPECT_FALSE(none.last.refresh);
}

// The position sentence's quality decides the fix type and state, whatever came before.
TEST(NmeaParser, QualityGivesFixTypeAndState) {
  const struct {
    const char* quality;
    const char* type;
    const char* state;
  } rows[] = {
      {"0", "未定位", "未定位"}, {"1", "非差分定位", "定位"}, {"2", "差分定位", "定位"},
      {"3", "无效", "未定位"},   {"4", "差分定位", "定位"},   {"5", "差分定位", "定位"},
      {"6", "未定位", "未定位"}, {"", "未定位", "未定位"},  // 6: dead reckoning
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string("quality '") + row.quality + "'");
    PanelRun run;
    run.Feed("$GPGGA,,,,,,2");
    run.Feed(std::string("$GPGGA,,,,,,") + row.quality);
    ExpectView(run, {std::string("m_fixType: \"") + row.type + "\"",
                     std::string("m_fixState: \"") + row.state + "\""});
  }
}

}  // namespace

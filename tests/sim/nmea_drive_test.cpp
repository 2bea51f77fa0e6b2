// The GPS sentences the virtual tracker streams: valid checksums, consistent groups, a fix
// most of the time with spells without one; and the replay of receiver logs.

#include "tools/sim/nmea_drive.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Fields = std::vector<std::string>;

Fields Split(const std::string& sentence) {
  const std::string body = sentence.substr(0, sentence.find('*'));
  Fields fields;
  std::stringstream stream(body);
  for (std::string field; std::getline(stream, field, ',');) fields.push_back(field);
  if (!body.empty() && body.back() == ',') fields.emplace_back();
  return fields;
}

TEST(NmeaChecksum, MatchesTheWorkedSentences) {
  for (const char* sentence :
       {"$GPGGA,084512.00,3130.5210,N,12126.8843,E,2,07,1.1,12.5,M,8.4,M,,*6E",
        "$GPGSV,3,3,10,25,08,010,,31,40,150,33*74"}) {
    const std::string text = sentence;
    EXPECT_EQ(sim::WithNmeaChecksum(text.substr(1, text.size() - 4)), text);
    EXPECT_TRUE(sim::HasValidNmeaChecksum(text));
  }
  EXPECT_FALSE(sim::HasValidNmeaChecksum("$GPGSV,3,3,10,25,08,010,,31,40,150,33*75"));
  EXPECT_FALSE(sim::HasValidNmeaChecksum("$GPGSV,3,3,10"));
}

// One hour of driving, second by second.
class NmeaDriveHour : public testing::Test {
 protected:
  void SetUp() override {
    sim::NmeaDrive drive(7);
    for (int s = 0; s < 3600; ++s)
      seconds_.push_back(drive.Tick({s / 3600, (s / 60) % 60, s % 60}));
  }
  std::vector<std::vector<std::string>> seconds_;
};

// Each second: GGA, GSA, then one complete GSV group; the satellites GGA and GSA use are
// tracked in the GSV group, and none is listed twice. The sky changes over the hour.
TEST_F(NmeaDriveHour, EverySecondIsOneConsistentGroup) {
  std::set<std::set<int>> skies;
  for (const auto& sentences : seconds_) {
    ASSERT_GE(sentences.size(), 4u);
    for (const std::string& s : sentences) {
      EXPECT_TRUE(sim::HasValidNmeaChecksum(s)) << s;
      EXPECT_EQ(s.find_first_of("\r\n"), std::string::npos) << s;
    }
    const Fields gga = Split(sentences[0]);
    const Fields gsa = Split(sentences[1]);
    ASSERT_EQ(gga[0], "$GPGGA");
    ASSERT_EQ(gsa[0], "$GPGSA");
    ASSERT_EQ(gga.size(), 15u) << sentences[0];
    ASSERT_EQ(gsa.size(), 18u) << sentences[1];
    const std::size_t groupSize = sentences.size() - 2;
    const int inView = std::stoi(Split(sentences[2])[3]);
    EXPECT_TRUE(inView >= 8 && inView <= 14) << inView;
    EXPECT_EQ(groupSize, static_cast<std::size_t>((inView + 3) / 4));
    std::set<int> listed;
    std::set<int> tracked;
    for (std::size_t k = 1; k <= groupSize; ++k) {
      const std::string& sentence = sentences[k + 1];
      const Fields f = Split(sentence);
      ASSERT_EQ(f[0], "$GPGSV");
      const std::vector<int> header{std::stoi(f[1]), std::stoi(f[2]), std::stoi(f[3])};
      EXPECT_EQ(header,
                (std::vector<int>{static_cast<int>(groupSize), static_cast<int>(k), inView}))
          << sentence;
      const std::size_t blocks = std::min<std::size_t>(4, inView - 4 * (k - 1));
      ASSERT_EQ(f.size(), 4 + 4 * blocks) << sentence;
      for (std::size_t b = 4; b < f.size(); b += 4) {
        const int prn = std::stoi(f[b]);
        EXPECT_TRUE(prn >= 1 && prn <= 32) << sentence;
        listed.insert(prn);
        if (f[b + 3].empty()) continue;
        tracked.insert(prn);
        EXPECT_TRUE(std::stoi(f[b + 3]) >= 15 && std::stoi(f[b + 3]) <= 48) << sentence;
      }
    }
    EXPECT_EQ(listed.size(), static_cast<std::size_t>(inView)) << "satellites listed twice";
    skies.insert(listed);
    int used = 0;
    for (std::size_t i = 3; i < 15; ++i) {
      if (gsa[i].empty()) continue;
      ++used;
      EXPECT_TRUE(tracked.count(std::stoi(gsa[i]))) << "used but not tracked: " << sentences[1];
    }
    EXPECT_EQ(std::stoi(gga[7]), used) << sentences[0] << " / " << sentences[1];
    if (gga[6] != "0") {
      EXPECT_TRUE(used >= 4 && used <= 12) << sentences[1];
      EXPECT_EQ(gsa[2], "3") << sentences[1];
    }
  }
  EXPECT_GT(skies.size(), 20u);
}

TEST_F(NmeaDriveHour, FixMostOfTheTimeWithSpellsWithoutWhileDriving) {
  int fixed = 0;
  int spells = 0;
  bool wasFixed = true;
  std::set<std::string> positions;
  for (const auto& sentences : seconds_) {
    const Fields gga = Split(sentences[0]);
    const bool isFixed = gga[6] != "0";
    if (isFixed) {
      ++fixed;
      positions.insert(gga[2] + gga[4]);
      // Around the city centre (31 deg 13.8 min N, 121 deg 28.4 min E), in ddmm.mmmm.
      EXPECT_NEAR(std::stod(gga[2]), 3113.8, 1.0) << sentences[0];
      EXPECT_NEAR(std::stod(gga[4]), 12128.4, 1.5) << sentences[0];
      EXPECT_EQ(gga[3] + gga[5], "NE");
    } else {
      EXPECT_EQ(gga[2] + gga[3] + gga[4] + gga[5], "") << "no fix, but a position";
      if (wasFixed) ++spells;
    }
    wasFixed = isFixed;
  }
  EXPECT_GT(fixed, 3600 * 8 / 10);
  EXPECT_GE(spells, 3);
  EXPECT_GT(positions.size(), 1000u) << "the tracker should be moving";
}

TEST(CountSatellites, ReadsGgaAndTheFirstGsv) {
  const struct {
    const char* description;
    std::vector<std::string> sentences;
    int inView;
    int used;
  } rows[] = {
      {"a full second",
       {"$GPGGA,084512.00,3130.5210,N,12126.8843,E,2,07,1.1,12.5,M,8.4,M,,*6E",
        "$GPGSV,3,1,10,04,45,120,42*7F", "$GPGSV,3,2,11,12,22,180,35*71"},
       10,
       7},
      {"another talker counts too", {"$GNGGA,1,2,3,4,5,6,09*00"}, 0, 9},
      {"GPS and GLONASS groups add up",
       {"$GPGSV,2,1,05,01*00", "$GPGSV,2,2,05,05*00", "$GLGSV,1,1,03,66*00"},
       8,
       0},
      {"nothing to count", {"$GPRMC,1,2*00", "$GP"}, 0, 0},
      {"a GGA cut short", {"$GPGGA,1,2*00"}, 0, 0},
  };
  for (const auto& row : rows) {
    const sim::SkyCounts counts = sim::CountSatellites(row.sentences);
    EXPECT_EQ(counts.inView, row.inView) << row.description;
    EXPECT_EQ(counts.used, row.used) << row.description;
  }
}

TEST(NmeaReplay, GroupsByGgaAndLoops) {
  const char kLog[] =
      "$GPGSV,1,1,00*79\r\n"
      "garbage line\r\n"
      "$GPGGA,1*00\r\n"
      "$GPGSA,A,1*00\n"
      "\n"
      "$GNGGA,2*00\r\n"
      "$GPGSV,1,1,00\0*79\r\n";
  std::string problem;
  std::optional<sim::NmeaReplay> replay =
      sim::NmeaReplay::FromText(std::string_view(kLog, sizeof kLog - 1), &problem);
  ASSERT_TRUE(replay.has_value()) << problem;
  using Group = std::vector<std::string>;
  EXPECT_EQ(replay->groupCount(), 3u);
  EXPECT_EQ(replay->Next(), (Group{"$GPGSV,1,1,00*79"}));
  EXPECT_EQ(replay->Next(), (Group{"$GPGGA,1*00", "$GPGSA,A,1*00"}));
  EXPECT_EQ(replay->Next(), (Group{"$GNGGA,2*00", "$GPGSV,1,1,00*79"}));
  EXPECT_EQ(replay->Next(), (Group{"$GPGSV,1,1,00*79"}));

  problem.clear();
  EXPECT_FALSE(sim::NmeaReplay::FromText("no\nsentences\n", &problem).has_value());
  EXPECT_FALSE(problem.empty());
}

}  // namespace

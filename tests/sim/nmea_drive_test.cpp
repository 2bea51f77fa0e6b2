// The GPS sentences the virtual tracker streams: valid checksums, consistent groups, a fix
// most of the time with spells without one; and the replay of receiver logs.

#include "tools/sim/nmea_drive.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Fields(const std::string& sentence) {
  const std::string body = sentence.substr(0, sentence.find('*'));
  std::vector<std::string> fields;
  std::stringstream stream(body);
  std::string field;
  while (std::getline(stream, field, ',')) fields.push_back(field);
  if (!body.empty() && body.back() == ',') fields.emplace_back();
  return fields;
}

sim::UtcTimeOfDay TimeAt(int second) {
  return {(second / 3600) % 24, (second / 60) % 60, second % 60};
}

TEST(NmeaChecksum, MatchesTheWorkedSentences) {
  const struct {
    const char* body;
    const char* sentence;
  } rows[] = {
      {"GPGGA,084512.00,3130.5210,N,12126.8843,E,2,07,1.1,12.5,M,8.4,M,,",
       "$GPGGA,084512.00,3130.5210,N,12126.8843,E,2,07,1.1,12.5,M,8.4,M,,*6E"},
      {"GPGSV,3,3,10,25,08,010,,31,40,150,33", "$GPGSV,3,3,10,25,08,010,,31,40,150,33*74"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(sim::WithNmeaChecksum(row.body), row.sentence);
    EXPECT_TRUE(sim::HasValidNmeaChecksum(row.sentence));
  }
  EXPECT_FALSE(sim::HasValidNmeaChecksum("$GPGSV,3,3,10,25,08,010,,31,40,150,33*75"));
  EXPECT_FALSE(sim::HasValidNmeaChecksum("$GPGSV,3,3,10"));
}

// One hour of driving, second by second.
class NmeaDriveHour : public testing::Test {
 protected:
  void SetUp() override {
    sim::NmeaDrive drive(7);
    for (int second = 0; second < 3600; ++second) seconds_.push_back(drive.Tick(TimeAt(second)));
  }
  std::vector<std::vector<std::string>> seconds_;
};

TEST_F(NmeaDriveHour, EverySentenceHasAValidChecksumAndNoLineEnd) {
  for (const auto& sentences : seconds_) {
    for (const std::string& s : sentences) {
      EXPECT_TRUE(sim::HasValidNmeaChecksum(s)) << s;
      EXPECT_EQ(s.find_first_of("\r\n"), std::string::npos) << s;
    }
  }
}

TEST_F(NmeaDriveHour, EachSecondIsGgaGsaThenACompleteGsvGroup) {
  for (const auto& sentences : seconds_) {
    ASSERT_GE(sentences.size(), 4u);
    EXPECT_TRUE(sentences[0].starts_with("$GPGGA,")) << sentences[0];
    EXPECT_TRUE(sentences[1].starts_with("$GPGSA,")) << sentences[1];
    const std::size_t groupSize = sentences.size() - 2;
    const int inView = std::stoi(Fields(sentences[2])[3]);
    EXPECT_GE(inView, 8);
    EXPECT_LE(inView, 14);
    EXPECT_EQ(groupSize, static_cast<std::size_t>((inView + 3) / 4));
    std::set<int> prns;
    for (std::size_t k = 1; k <= groupSize; ++k) {
      const std::vector<std::string> f = Fields(sentences[k + 1]);
      ASSERT_EQ(f[0], "$GPGSV");
      EXPECT_EQ(std::stoul(f[1]), groupSize) << sentences[k + 1];
      EXPECT_EQ(std::stoul(f[2]), k) << sentences[k + 1];
      EXPECT_EQ(std::stoi(f[3]), inView) << sentences[k + 1];
      const std::size_t blocks = std::min<std::size_t>(4, inView - 4 * (k - 1));
      ASSERT_EQ(f.size(), 4 + 4 * blocks) << sentences[k + 1];
      for (std::size_t b = 0; b < blocks; ++b) {
        const int prn = std::stoi(f[4 + 4 * b]);
        EXPECT_TRUE(prn >= 1 && prn <= 32) << sentences[k + 1];
        prns.insert(prn);
        const std::string& snr = f[7 + 4 * b];
        if (!snr.empty()) {
          EXPECT_GE(std::stoi(snr), 15) << sentences[k + 1];
          EXPECT_LE(std::stoi(snr), 48) << sentences[k + 1];
        }
      }
    }
    EXPECT_EQ(prns.size(), static_cast<std::size_t>(inView)) << "satellites listed twice";
  }
}

TEST_F(NmeaDriveHour, UsedSatellitesAgreeBetweenGgaGsaAndGsv) {
  for (const auto& sentences : seconds_) {
    const std::vector<std::string> gga = Fields(sentences[0]);
    const std::vector<std::string> gsa = Fields(sentences[1]);
    ASSERT_EQ(gga.size(), 15u) << sentences[0];
    ASSERT_EQ(gsa.size(), 18u) << sentences[1];
    std::set<int> inView;
    for (std::size_t i = 2; i < sentences.size(); ++i) {
      const std::vector<std::string> f = Fields(sentences[i]);
      for (std::size_t b = 4; b + 3 < f.size(); b += 4) {
        if (!f[b + 3].empty()) inView.insert(std::stoi(f[b]));
      }
    }
    int listed = 0;
    for (std::size_t i = 3; i < 15; ++i) {
      if (gsa[i].empty()) continue;
      ++listed;
      EXPECT_TRUE(inView.count(std::stoi(gsa[i]))) << "used but not tracked: " << sentences[1];
    }
    EXPECT_EQ(std::stoi(gga[7]), listed) << sentences[0] << " / " << sentences[1];
    if (gga[6] != "0") {
      EXPECT_GE(listed, 4) << sentences[1];
      EXPECT_LE(listed, 12) << sentences[1];
      EXPECT_EQ(gsa[2], "3") << sentences[1];
    }
  }
}

TEST_F(NmeaDriveHour, FixMostOfTheTimeWithSpellsWithout) {
  int fixed = 0;
  int spells = 0;
  bool wasFixed = true;
  std::set<std::string> positions;
  for (const auto& sentences : seconds_) {
    const std::vector<std::string> gga = Fields(sentences[0]);
    const bool isFixed = gga[6] != "0";
    if (isFixed) {
      ++fixed;
      positions.insert(gga[2] + gga[4]);
      // Around the city centre (31 deg 13.8 min N, 121 deg 28.4 min E), in ddmm.mmmm.
      EXPECT_NEAR(std::stod(gga[2]), 3113.8, 1.0) << sentences[0];
      EXPECT_NEAR(std::stod(gga[4]), 12128.4, 1.5) << sentences[0];
      EXPECT_EQ(gga[3], "N");
      EXPECT_EQ(gga[5], "E");
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

TEST_F(NmeaDriveHour, TheSkyChanges) {
  std::set<std::string> skies;
  for (const auto& sentences : seconds_) {
    std::string prns;
    for (std::size_t i = 2; i < sentences.size(); ++i) {
      const std::vector<std::string> f = Fields(sentences[i]);
      for (std::size_t b = 4; b < f.size(); b += 4) prns += f[b] + " ";
    }
    skies.insert(prns);
  }
  EXPECT_GT(skies.size(), 20u);
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
}

TEST(NmeaReplay, RefusesALogWithoutSentences) {
  std::string problem;
  EXPECT_FALSE(sim::NmeaReplay::FromText("no\nsentences\n", &problem).has_value());
  EXPECT_FALSE(problem.empty());
}

TEST(NmeaReplay, ReadsARealReceiverLog) {
  std::ifstream file(std::string(TC_NMEA_DIR) + "/gp-320fw-2019-04-07-coldboot.nmea",
                     std::ios::binary);
  if (!file) GTEST_SKIP() << "receiver logs not found";
  std::stringstream text;
  text << file.rdbuf();
  std::string problem;
  std::optional<sim::NmeaReplay> replay = sim::NmeaReplay::FromText(text.str(), &problem);
  ASSERT_TRUE(replay.has_value()) << problem;
  EXPECT_GT(replay->groupCount(), 5u);
  for (std::size_t g = 0; g < replay->groupCount(); ++g) {
    for (const std::string& line : replay->Next()) {
      EXPECT_EQ(line.front(), '$');
      EXPECT_EQ(line.find_first_of(std::string("\r\n\0", 3)), std::string::npos);
    }
  }
}

}  // namespace

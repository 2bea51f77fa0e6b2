// The built-in drive as a GPS + GLONASS receiver: GN position and one GSA per system, GPS and
// GLONASS groups apart, and the used count of GGA the sum of both systems' used satellites.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "tools/sim/nmea_drive.h"

namespace {

// The numbers in fields 3 to 14 of a GSA.
std::vector<int> UsedNumbers(const std::string& gsa) {
  std::vector<int> numbers;
  std::size_t at = 0;
  for (int field = 0; field < 15 && at != std::string::npos; ++field, at = gsa.find(',', at)) {
    if (at != 0) ++at;
    if (field >= 3 && std::isdigit(static_cast<unsigned char>(gsa[at]))) {
      numbers.push_back(std::stoi(gsa.substr(at)));
    }
  }
  return numbers;
}

TEST(NmeaDriveGlonass, EverySecondTellsBothSystemsApart) {
  sim::NmeaDrive drive(11, true);
  int glonassUsed = 0;
  for (int s = 0; s < 600; ++s) {
    const std::vector<std::string> second = drive.Tick({0, s / 60, s % 60});
    ASSERT_GE(second.size(), 5u);
    for (const std::string& sentence : second) EXPECT_TRUE(sim::HasValidNmeaChecksum(sentence));
    EXPECT_EQ(second[0].substr(0, 6), "$GNGGA");
    const std::vector<int> gps = UsedNumbers(second[1]);
    const std::vector<int> glonass = UsedNumbers(second[2]);
    EXPECT_TRUE(std::all_of(gps.begin(), gps.end(), [](int n) { return n >= 1 && n <= 32; }));
    EXPECT_TRUE(std::all_of(glonass.begin(), glonass.end(), [](int n) { return n >= 65; }));
    glonassUsed += static_cast<int>(glonass.size());
    const int inView = sim::CountSatellites(second).inView;
    EXPECT_EQ(sim::CountSatellites(second).used, static_cast<int>(gps.size() + glonass.size()));
    EXPECT_EQ(std::count_if(second.begin(), second.end(),
                            [](const std::string& x) { return x.starts_with("$GLGSV,2,1,07"); }),
              1);
    EXPECT_GE(inView, 8 + 7);
  }
  EXPECT_GT(glonassUsed, 600);
}

}  // namespace

// The dialog's side of the NMEA panel: what the operator's widgets show and when.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/gbk.h"
#include "tests/support/console_harness.h"

namespace {

class NmeaDialog : public testing::Test {
 protected:
  // What the widgets show, in UTF-8.
  std::string Shown(const std::string DialogState::*member) {
    return gbk::ToUtf8(surface.Controls().*member);
  }

  ConsoleHarness harness;
  DialogState& state = harness.state;
  RecordingSurface& surface = harness.surface;
  ConfigLogic& logic = harness.logic;
};

TEST_F(NmeaDialog, FixStateAndTypeReachTheWidgetsTogetherWithThePosition) {
  logic.ParseNmea("$GPGGA,084512.00,3130.5210,N,12126.8843,E,2,07,1.1,12.5,M,8.4,M,,*6E");
  EXPECT_EQ(surface.refreshes, 1);
  EXPECT_EQ(Shown(&DialogState::m_fixState), "定位");
  EXPECT_EQ(Shown(&DialogState::m_fixType), "差分定位");
  logic.ParseNmea("$GPGGA,,,,,,0,,,,,,,,*66");
  EXPECT_EQ(surface.refreshes, 2);
  EXPECT_EQ(Shown(&DialogState::m_fixState), "未定位");
  EXPECT_EQ(Shown(&DialogState::m_fixType), "未定位");
  EXPECT_EQ(surface.indicatorHistory, (std::vector<bool>{true, false}));
}

TEST_F(NmeaDialog, FirstFixIsTimedFromTheConnection) {
  auto now = std::chrono::steady_clock::time_point{};
  logic.SetGpsClock([&now] { return now; });
  logic.StartFirstFixClock();
  now += std::chrono::milliseconds(12300);
  logic.ParseNmea("$GPGGA,084512.00,3130.5210,N,12126.8843,E,2,07,1.1,12.5,M,8.4,M,,*6E");
  EXPECT_TRUE(logic.FirstFixInfo().have);
  EXPECT_DOUBLE_EQ(logic.FirstFixInfo().seconds, 12.3);
  EXPECT_EQ(Shown(&DialogState::m_ttff), "12.3");
  logic.ParseNmea("$GPGSV,1,1,01,04,45,120,42*48");
  EXPECT_EQ(state.m_satellites.size(), 1U);
  logic.StartFirstFixClock();  // a new connection forgets the last unit's fix and sky
  EXPECT_FALSE(logic.FirstFixInfo().have);
  EXPECT_EQ(state.m_ttff, "");
  EXPECT_TRUE(state.m_satellites.empty());
}

}  // namespace

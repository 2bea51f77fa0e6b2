// The dialog's side of the NMEA panel: what the operator's widgets show and when.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/gbk.h"
#include "tests/support/console_harness.h"

namespace {

// What the widgets show, in UTF-8.
std::string Shown(ConsoleHarness& h, const std::string DialogState::*member) {
  return gbk::ToUtf8(h.surface.Controls().*member);
}

TEST(NmeaDialog, FixStateAndTypeReachTheWidgetsTogetherWithThePosition) {
  ConsoleHarness h;
  h.logic.ParseNmea("$GPGGA,084512.00,3130.5210,N,12126.8843,E,2,07,1.1,12.5,M,8.4,M,,*6E");
  EXPECT_EQ(h.surface.refreshes, 1);
  EXPECT_EQ(Shown(h, &DialogState::m_fixState), "定位");
  EXPECT_EQ(Shown(h, &DialogState::m_fixType), "差分定位");
  h.logic.ParseNmea("$GPGGA,,,,,,0,,,,,,,,*66");
  EXPECT_EQ(h.surface.refreshes, 2);
  EXPECT_EQ(Shown(h, &DialogState::m_fixState), "未定位");
  EXPECT_EQ(Shown(h, &DialogState::m_fixType), "未定位");
  EXPECT_EQ(h.surface.indicatorHistory, (std::vector<bool>{true, false}));
}

TEST(NmeaDialog, FirstFixIsTimedFromTheConnection) {
  ConsoleHarness h;
  auto now = std::chrono::steady_clock::time_point{};
  h.logic.SetGpsClock([&now] { return now; });
  h.logic.StartFirstFixClock();
  now += std::chrono::milliseconds(12300);
  h.logic.ParseNmea("$GPGGA,084512.00,3130.5210,N,12126.8843,E,2,07,1.1,12.5,M,8.4,M,,*6E");
  EXPECT_TRUE(h.logic.FirstFixInfo().have);
  EXPECT_DOUBLE_EQ(h.logic.FirstFixInfo().seconds, 12.3);
  EXPECT_EQ(Shown(h, &DialogState::m_ttff), "12.3");
  h.logic.ParseNmea("$GPGSV,1,1,01,04,45,120,42*48");
  EXPECT_EQ(h.state.m_satellites.size(), 1U);
  h.logic.StartFirstFixClock();  // a new connection forgets the last unit's fix and sky
  EXPECT_FALSE(h.logic.FirstFixInfo().have);
  EXPECT_EQ(h.state.m_ttff, "");
  EXPECT_TRUE(h.state.m_satellites.empty());
}

}  // namespace

// The dialog's side of the NMEA panel: what the operator's widgets show and when.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/config_logic.h"
#include "platform/gbk.h"
#include "serial/std_ui_dispatcher.h"
#include "tests/support/recording_surface.h"

namespace {

class NmeaDialog : public testing::Test {
 protected:
  NmeaDialog() : surface(state), logic(state, surface, ui, Environment()) {}

  static ConsoleEnvironment Environment() {
    ConsoleEnvironment environment;
    environment.roots.sysClassTty = "/nonexistent-tty-class";
    environment.roots.dev = "/nonexistent-dev";
    environment.roots.portsFolder = "/nonexistent-ports";
    environment.useUdev = false;
    return environment;
  }

  // What the widgets show, in UTF-8.
  std::string Shown(const std::string DialogState::*member) {
    return gbk::ToUtf8(surface.Controls().*member);
  }

  DialogState state;
  RecordingSurface surface;
  StdUiDispatcher ui;
  ConfigLogic logic;
};

TEST_F(NmeaDialog, FixStateReachesTheWidgetsWithTheNextPositionSentence) {
  logic.ParseNmea("$GPGGA,084512.00,3130.5210,N,12126.8843,E,2,07,1.1,12.5,M,8.4,M,,*6E");
  logic.ParseNmea("$GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1*39");
  EXPECT_EQ(gbk::ToUtf8(state.m_fixState), "定位");
  EXPECT_EQ(Shown(&DialogState::m_fixState), "未定位");
  EXPECT_EQ(surface.refreshes, 1);

  logic.ParseNmea("$GPGGA,084513.00,3130.5210,N,12126.8843,E,1,07,1.1,12.5,M,8.4,M,,*6E");
  EXPECT_EQ(surface.refreshes, 2);
  EXPECT_EQ(Shown(&DialogState::m_fixState), "定位");
  EXPECT_EQ(Shown(&DialogState::m_fixType), "非差分定位");
  EXPECT_EQ(Shown(&DialogState::m_gpsTime), "08:45:13");
  EXPECT_EQ(Shown(&DialogState::m_latitude), "31.508683");
  EXPECT_EQ(surface.indicatorHistory, (std::vector<bool>{true, false}));
}

TEST_F(NmeaDialog, FixTextsAreTheDialogsOwn) {
  const std::vector<std::pair<const char*, const char*>> rows = {
      {"$GPGGA,1,,,,,0", "未定位"},
      {"$GPGGA,1,,,,,1", "非差分定位"},
      {"$GPGGA,1,,,,,2", "差分定位"},
      {"$GPGGA,1,,,,,3", "无效"},
  };
  for (const auto& [sentence, fixType] : rows) {
    logic.ParseNmea(sentence);
    EXPECT_EQ(Shown(&DialogState::m_fixType), fixType) << sentence;
  }
  logic.ParseNmea("$GPGSA,A,3");
  EXPECT_EQ(gbk::ToUtf8(state.m_fixState), "定位");
  logic.ParseNmea("$GPGSA,A,2");
  EXPECT_EQ(gbk::ToUtf8(state.m_fixState), "未定位");
}

TEST_F(NmeaDialog, SignalRowShowsOnlyAfterTheLastSentenceOfItsGroup) {
  logic.ParseNmea("$GPGGA,084512.00,3130.5210,N,12126.8843,E,2,07,1.1,12.5,M,8.4,M,,*6E");
  logic.ParseNmea("$GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1*39");
  logic.ParseNmea("$GPGSV,3,1,10,04,45,120,42,05,30,210,38,07,10,300,,09,60,045,44*7F");
  logic.ParseNmea("$GPGSV,3,2,10,12,22,180,35,17,05,090,,20,15,270,28,24,50,330,40*71");
  EXPECT_EQ(surface.Controls().m_snr[3], "0");
  logic.ParseNmea("$GPGSV,3,3,10,25,08,010,,31,40,150,33*74");
  EXPECT_EQ(surface.refreshes, 2);
  EXPECT_EQ(surface.Controls().m_snr[3], "42");
  EXPECT_EQ(surface.Controls().m_snr[11], "35");
  EXPECT_EQ(surface.indicatorHistory.size(), 1U);
}

TEST_F(NmeaDialog, OtherTalkersNeitherChangeNorRefresh) {
  logic.ParseNmea("$GNGGA,084512.00,3130.5210,N,12126.8843,E,2,07,1.1,12.5,M,8.4,M,,*6E");
  logic.ParseNmea("$GPRMC,165007.000,A,4143.6058,N,08338.0778,W,0.55,36.58,180710,,,A*4F");
  EXPECT_EQ(surface.refreshes, 0);
  EXPECT_TRUE(surface.indicatorHistory.empty());
  EXPECT_EQ(state.m_gpsTime, "0");
  EXPECT_EQ(gbk::ToUtf8(state.m_fixType), "未定位");
}

}  // namespace

// The tracker going away and coming back, and a tracker with a bad line: the console shows
// no device when it is gone, reconnects by itself when it is back, and gets the same answers
// through split frames and line noise while frames with a wrong checksum are dropped.

#include <gtest/gtest.h>
#include <signal.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "tests/e2e/e2e_fixture.h"

namespace e2e {
namespace {

// ---------------------------------------------------------------------------------------
// Unplug and replug

struct HotPlugCase {
  const char* description;
  std::vector<std::string> arguments;
  std::function<void(EndToEnd&, SimProcess&)> unplug;   // returns once the port is gone
  std::function<int(EndToEnd&, SimProcess&)> plugBack;  // the port number it comes back as
};

// Test names show the case, not its bytes.
void PrintTo(const HotPlugCase& c, std::ostream* out) {
  *out << c.description;
}

std::string HotPlugName(const ::testing::TestParamInfo<HotPlugCase>& info) {
  const char* names[] = {"SigtermThenNewSimulator", "Sigusr1Toggle", "UnplugReplugSwitches"};
  return names[info.index];
}

class HotPlug : public EndToEnd, public ::testing::WithParamInterface<HotPlugCase> {
 public:
  int Restart(const std::vector<std::string>& arguments) { return StartSim(arguments); }
};

TEST_P(HotPlug, NoDeviceWhileGoneAndReconnectedWhenBack) {
  const HotPlugCase& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(ConnectTo(Join(Quiet(), c.arguments)));
  ASSERT_TRUE(h.RunUntil([&] { return !h.surface.pane.empty(); }));

  c.unplug(*this, *sim);
  ASSERT_TRUE(h.RunUntil([&] { return ShowsNoDevice(); }));
  EXPECT_FALSE(h.logic.Port().IsOpen());
  EXPECT_EQ(h.surface.Controls().m_portName, T(kPortNone)) << "the window shows it";
  EXPECT_FALSE(h.state.m_gsmOk || h.state.m_gpsOk || h.state.m_keyOk);
  EXPECT_TRUE(h.surface.BoxTexts().empty()) << "an unplug is no error";

  EXPECT_EQ(c.plugBack(*this, *sim), 97);
  ASSERT_TRUE(h.RunUntil([&] { return Connected(); }));
  ExpectConnected();

  // The new connection greets the device again, and the numbering restarted at no device.
  ASSERT_TRUE(h.RunUntil([&] { return ParseLogLines(h.surface.pane).size() >= 2; }));
  const std::vector<LogLine> lines = ParseLogLines(h.surface.pane);
  EXPECT_EQ(lines.back().payload, "AT:connect ok!#");
  EXPECT_EQ(lines.back().number, 0);
  // And it is live.
  ASSERT_TRUE(PressAndAwaitNotice(&ConfigLogic::OnReadVersion));
  EXPECT_EQ(h.state.m_version, "TS1.9.0-SIM");
}

INSTANTIATE_TEST_SUITE_P(
    Paths, HotPlug,
    ::testing::Values(
        HotPlugCase{"SIGTERM ends the simulator and removes its port; a new one arrives",
                    {},
                    [](EndToEnd&, SimProcess& sim) { EXPECT_EQ(sim.Stop(), 0); },
                    [](EndToEnd& test, SimProcess&) {
                      return static_cast<HotPlug&>(test).Restart(Quiet());
                    }},
        HotPlugCase{"SIGUSR1 unplugs, SIGUSR1 again plugs back in",
                    {},
                    [](EndToEnd&, SimProcess& sim) {
                      sim.Signal(SIGUSR1);
                      EXPECT_TRUE(sim.WaitForLine("unplugged"));
                    },
                    [](EndToEnd&, SimProcess& sim) {
                      sim.Signal(SIGUSR1);
                      return sim.WaitForPlug();
                    }},
        // The replug waits long enough for the removal to be handled first.
        HotPlugCase{"--unplug-after and --replug-after",
                    {"--unplug-after", "1", "--replug-after", "2"},
                    [](EndToEnd&, SimProcess& sim) { EXPECT_TRUE(sim.WaitForLine("unplugged")); },
                    [](EndToEnd&, SimProcess& sim) { return sim.WaitForPlug(); }}),
    HotPlugName);

// ---------------------------------------------------------------------------------------
// A bad line

struct FaultCase {
  const char* description;
  std::vector<std::string> arguments;
  bool splits;  // frames arrive in more reads than there are frames
};

// Test names show the case, not its bytes.
void PrintTo(const FaultCase& c, std::ostream* out) {
  *out << c.description;
}

std::string FaultName(const ::testing::TestParamInfo<FaultCase>& info) {
  const char* names[] = {"Split", "Garbage", "SplitAndGarbage"};
  return names[info.index];
}

class LineFault : public EndToEnd, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(LineFault, RepliesComeThroughUnchanged) {
  ASSERT_NO_FATAL_FAILURE(ConnectTo(Join(Join(Quiet(), Presets()), GetParam().arguments)));
  struct Read {
    void (ConfigLogic::*press)();
    texts::Id notice;
  };
  const Read reads[] = {
      {&ConfigLogic::OnReadVersion, texts::Id::kNoticeVersionRead},
      {&ConfigLogic::OnReadImei, texts::Id::kNoticeImeiRead},
      {&ConfigLogic::OnReadNumbers, texts::Id::kNoticeNumbersRead},
      {&ConfigLogic::OnReadSos, texts::Id::kNoticeSosRead},
  };
  for (const Read& read : reads) {
    ASSERT_TRUE(PressAndAwaitNotice(read.press));
    ExpectNoticeBox(read.notice);
  }
  EXPECT_EQ(h.state.m_version, "TS-E2E-7");
  EXPECT_EQ(h.state.m_imei, "861234567890123");
  EXPECT_EQ(h.state.m_centerNumber, "13512345678");
  EXPECT_EQ(h.state.m_slaveNumber, "13687654321");
  EXPECT_EQ(h.state.m_sos3, "120");
  // Exactly the device's frames were logged, numbered without gaps.
  const std::vector<LogLine> lines = ParseLogLines(h.surface.pane);
  EXPECT_EQ(Payloads(h.surface.pane),
            (std::vector<std::string>{"AT:connect ok!#", "AT+uart:ver,TS-E2E-7#",
                                      "AT+uart:imei,861234567890123#",
                                      "AT+uart:center_number,13512345678,slave_number,13687654321#",
                                      "AT+uart:sos1,110,sos2,119,sos3,120#"}));
  for (std::size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i].number, static_cast<int>(i));
  // Each delivered read ends with one pane append: the split really cut frames apart.
  if (GetParam().splits) {
    EXPECT_GT(h.surface.paneAppends, static_cast<int>(lines.size()));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Switches, LineFault,
    ::testing::Values(FaultCase{"frames split across reads", {"--split", "3,13,20,40"}, true},
                      FaultCase{"line noise between frames", {"--garbage", "--seed", "7"}, false},
                      FaultCase{"both", {"--split", "2,12,30", "--garbage", "--seed", "11"}, true}),
    FaultName);

TEST_F(EndToEnd, FramesWithABadChecksumAreDroppedAndNothingElse) {
  // Every second frame is bad: the greeting's echo is frame 1, so the version (2) and the
  // numbers (4) are lost while the IMEI (3) and the upload interval (5) come through.
  ASSERT_NO_FATAL_FAILURE(ConnectTo(Join(Join(Quiet(), Presets()), {"--bad-checksum-every", "2"})));
  ASSERT_TRUE(h.RunUntil([&] { return !h.surface.pane.empty(); }));
  h.logic.OnReadVersion();
  h.logic.OnReadImei();
  h.logic.OnReadNumbers();
  h.logic.OnReadUpload();
  // Frames are handled in order, so once the last one is in, the others were handled.
  ASSERT_TRUE(h.RunUntil([&] { return h.state.m_uploadInterval == "30"; }));

  EXPECT_EQ(Payloads(h.surface.pane),
            (std::vector<std::string>{"AT:connect ok!#", "AT+uart:imei,861234567890123#",
                                      "AT+uart:upload,30#"}));
  const std::vector<LogLine> lines = ParseLogLines(h.surface.pane);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].number, static_cast<int>(i)) << "a dropped frame is not counted";
  }
  EXPECT_EQ(h.state.m_version, "");
  EXPECT_EQ(h.state.m_centerNumber, "");
  EXPECT_EQ(h.state.m_imei, "861234567890123");
  EXPECT_EQ(h.surface.noticeTimerStarts, 2);
  EXPECT_EQ(h.logic.NoticeText(), T(kNoticeUploadRead));
}

}  // namespace
}  // namespace e2e

// The tracker going away and coming back, and a tracker with a bad line: the console shows
// no device when it is gone, reconnects by itself when it is back, and gets the same answers
// through split frames and line noise while frames with a wrong checksum are dropped.

#include <gtest/gtest.h>
#include <signal.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/e2e/e2e_fixture.h"

namespace e2e {
namespace {

TEST(EndToEnd, NoDeviceWhileUnpluggedAndReconnectedWhenBack) {
  const struct {
    const char* description;
    Texts arguments;
    std::function<void(Session&)> unplug;   // returns once the port is gone
    std::function<int(Session&)> plugBack;  // the port number it comes back as
  } rows[] = {
      {"SIGTERM ends the simulator and removes its port; a new one arrives",
       {},
       [](Session& s) { EXPECT_EQ(s.sim->Stop(), 0); },
       [](Session& s) { return s.StartSim(Quiet()); }},
      {"SIGUSR1 unplugs, SIGUSR1 again plugs back in",
       {},
       [](Session& s) {
         s.sim->Signal(SIGUSR1);
         EXPECT_TRUE(s.sim->WaitForLine("unplugged"));
       },
       [](Session& s) {
         s.sim->Signal(SIGUSR1);
         return s.sim->WaitForPlug();
       }},
      // The replug waits long enough for the removal to be handled first.
      {"--unplug-after and --replug-after",
       {"--unplug-after", "1", "--replug-after", "2"},
       [](Session& s) { EXPECT_TRUE(s.sim->WaitForLine("unplugged")); },
       [](Session& s) { return s.sim->WaitForPlug(); }},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.description);
    Session s;
    ASSERT_NO_FATAL_FAILURE(s.ConnectTo(Quiet(row.arguments)));
    ASSERT_TRUE(s.h.RunUntil([&] { return !s.surface.pane.empty(); }));

    row.unplug(s);
    ASSERT_TRUE(s.h.RunUntil([&] { return s.ShowsNoDevice(); }));
    EXPECT_FALSE(s.logic.Port().IsOpen());
    EXPECT_FALSE(s.state.m_gsmOk || s.state.m_gpsOk || s.state.m_keyOk);
    EXPECT_TRUE(s.surface.boxes.empty()) << "an unplug is no error";

    EXPECT_EQ(row.plugBack(s), 97);
    ASSERT_TRUE(s.h.RunUntil([&] { return s.Connected(); }));
    // The new connection greets the device again, numbered from 0 again.
    ASSERT_TRUE(s.h.RunUntil([&] { return ParseLogLines(s.surface.pane).size() >= 2; }));
    const LogLine last = ParseLogLines(s.surface.pane).back();
    EXPECT_EQ(last.payload, "AT:connect ok!#");
    EXPECT_EQ(last.number, 0);
    // And it is live.
    ASSERT_TRUE(s.PressAndAwaitNotice(&ConfigLogic::OnReadVersion));
    EXPECT_EQ(s.state.m_version, "TS1.9.0-SIM");
  }
}

// Frames cut into pieces and noise between them: exactly the device's frames are logged,
// numbered without gaps.
TEST(EndToEnd, SplitFramesAndLineNoiseLeaveTheRepliesWhole) {
  Session s;
  ASSERT_NO_FATAL_FAILURE(
      s.ConnectTo(Quiet(Presets({"--split", "2,12,30", "--garbage", "--seed", "11"}))));
  for (const Press read : {&ConfigLogic::OnReadVersion, &ConfigLogic::OnReadImei,
                           &ConfigLogic::OnReadNumbers, &ConfigLogic::OnReadSos}) {
    ASSERT_TRUE(s.PressAndAwaitNotice(read));
  }
  EXPECT_EQ(Payloads(s.surface.pane),
            (Texts{"AT:connect ok!#", "AT+uart:ver,TS-E2E-7#", "AT+uart:imei,861234567890123#",
                   "AT+uart:center_number,13512345678,slave_number,13687654321#",
                   "AT+uart:sos1,110,sos2,119,sos3,120#"}));
  const std::vector<LogLine> lines = ParseLogLines(s.surface.pane);
  for (std::size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i].number, static_cast<int>(i));
  // Each delivered read ends with one pane append: more appends show that frames were cut.
  EXPECT_GT(s.surface.paneAppends, static_cast<int>(lines.size()));
}

TEST(EndToEnd, FramesWithABadChecksumAreDroppedAndNothingElse) {
  // Every second frame is bad: the greeting's echo is frame 1, so the version (2) and the
  // numbers (4) are lost while the IMEI (3) and the upload interval (5) come through.
  Session s;
  ASSERT_NO_FATAL_FAILURE(s.ConnectTo(Quiet(Presets({"--bad-checksum-every", "2"}))));
  ASSERT_TRUE(s.h.RunUntil([&] { return !s.surface.pane.empty(); }));
  s.logic.OnReadVersion();
  s.logic.OnReadImei();
  s.logic.OnReadNumbers();
  s.logic.OnReadUpload();
  // Frames are handled in order, so once the last one is in, the others were handled.
  ASSERT_TRUE(s.h.RunUntil([&] { return s.state.m_uploadInterval == "30"; }));

  EXPECT_EQ(Payloads(s.surface.pane),
            (Texts{"AT:connect ok!#", "AT+uart:imei,861234567890123#", "AT+uart:upload,30#"}));
  const std::vector<LogLine> lines = ParseLogLines(s.surface.pane);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].number, static_cast<int>(i)) << "a dropped frame is not counted";
  }
  EXPECT_EQ(s.state.m_version + s.state.m_centerNumber, "");
  EXPECT_EQ(s.surface.noticeTimerStarts, 2);
}

}  // namespace
}  // namespace e2e

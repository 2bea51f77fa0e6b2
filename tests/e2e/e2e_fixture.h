#pragma once
// The console's logic against the real tracker-sim: a session holds one console and one
// simulator, with the checks that several end-to-end tests share.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "device/texts.h"
#include "tests/support/console_harness.h"

namespace e2e {

using Member = std::string DialogState::*;
using Press = void (ConfigLogic::*)();
using Texts = std::vector<std::string>;

// Parameters unlike the simulator's defaults, so a read shows they came from this device.
inline Texts Presets(Texts extra = {}) {
  extra.insert(extra.end(),
               {"--firmware",  "TS-E2E-7",    "--addr",  "198.51.100.7", "--port",
                "9001",        "--url",       "0",       "--imei",       "861234567890123",
                "--center",    "13512345678", "--slave", "13687654321",  "--language",
                "0",           "--zone",      "11",      "--sos1",       "110",
                "--sos2",      "119",         "--sos3",  "120",          "--monitor",
                "13011112222", "--upload",    "30"});
  return extra;
}

inline Texts Payloads(const std::string& pane) {
  Texts payloads;
  for (const LogLine& line : ParseLogLines(pane)) payloads.push_back(line.payload);
  return payloads;
}

class Session {
 public:
  // Starts a simulator and waits until it has registered its port; returns the port number.
  int StartSim(const Texts& arguments) {
    sim = std::make_unique<SimProcess>(TC_SIM_PATH, h.PortsFolder(), arguments);
    return sim->started() ? sim->WaitForPlug() : 0;
  }

  // Starts a simulator and runs the console's start-up against it.
  void ConnectTo(const Texts& arguments) {
    ASSERT_EQ(StartSim(arguments), 97);
    logic.OnInitDialog();
    ASSERT_TRUE(Connected()) << state.m_linkState << " " << state.m_portName;
  }

  [[nodiscard]] bool Connected() {
    const DialogState& shown = surface.Controls();
    return shown.m_linkState == T(kLinkConnected) && shown.m_portState == T(kPortOpen) &&
           shown.m_portName.starts_with("COM97 (") && logic.Port().IsOpen();
  }

  [[nodiscard]] bool ShowsNoDevice() {
    const DialogState& shown = surface.Controls();
    return shown.m_portState == T(kPortClosed) && shown.m_portName == T(kPortNone) &&
           shown.m_linkState == T(kLinkConnecting) && shown.m_testResult == T(kNotConnected);
  }

  // Presses a button and waits for the notice its reply schedules; false if none came.
  bool PressAndAwaitNotice(Press press) {
    const int before = surface.noticeTimerStarts;
    (logic.*press)();
    return h.RunUntil([&] { return surface.noticeTimerStarts > before; });
  }

  // The notice timer fires: the box shows the notice text and the timer is stopped.
  void ExpectNoticeBox(texts::Id notice) {
    const std::size_t before = surface.boxes.size();
    logic.NoticeTimerProc();
    ASSERT_EQ(surface.boxes.size(), before + 1);
    EXPECT_EQ(surface.boxes.back().text, texts::Gbk(notice));
    EXPECT_FALSE(surface.noticeTimerRunning);
  }

  ConsoleHarness h;
  std::unique_ptr<SimProcess> sim;  // after h: ends before the console goes
  DialogState& state = h.state;
  RecordingSurface& surface = h.surface;
  ConfigLogic& logic = h.logic;
};

}  // namespace e2e

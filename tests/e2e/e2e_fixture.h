#pragma once
// The console's logic against the real tracker-sim: a harness, one simulator at a time, and
// the checks that several end-to-end tests share.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "device/texts.h"
#include "tests/support/console_harness.h"

namespace e2e {

using Member = std::string DialogState::*;
using Flag = bool DialogState::*;

// Nothing from the simulator but answers: no NMEA, no status reports, no plain log lines.
inline std::vector<std::string> Quiet() {
  return {"--no-nmea", "--status-interval", "0", "--log-interval", "0"};
}

// Parameters unlike the simulator's defaults, so a read shows they came from this device.
inline std::vector<std::string> Presets() {
  return {"--version",   "TS-E2E-7",    "--addr",  "198.51.100.7", "--port",
          "9001",        "--url",       "0",       "--imei",       "861234567890123",
          "--center",    "13512345678", "--slave", "13687654321",  "--language",
          "0",           "--zone",      "11",      "--sos1",       "110",
          "--sos2",      "119",         "--sos3",  "120",          "--monitor",
          "13011112222", "--upload",    "30"};
}

inline std::vector<std::string> Join(std::vector<std::string> a,
                                     const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

inline std::vector<std::string> Payloads(const std::string& pane) {
  std::vector<std::string> payloads;
  for (const LogLine& line : ParseLogLines(pane)) payloads.push_back(line.payload);
  return payloads;
}

class EndToEnd : public ::testing::Test {
 protected:
  // Starts a simulator and waits until it has registered its port; returns the port number.
  int StartSim(const std::vector<std::string>& arguments) {
    sim = std::make_unique<SimProcess>(TC_SIM_PATH, h.PortsFolder(), arguments);
    return sim->started() ? sim->WaitForPlug() : 0;
  }

  // Starts a simulator and runs the console's start-up against it.
  void ConnectTo(const std::vector<std::string>& arguments) {
    ASSERT_EQ(StartSim(arguments), 97);
    h.logic.OnInitDialog();
    ExpectConnected();
    ASSERT_TRUE(Connected());
  }

  void ExpectConnected() {
    EXPECT_EQ(h.state.m_portState, T(kPortOpen));
    EXPECT_EQ(h.state.m_portName.substr(0, 5), "COM97") << h.state.m_portName;
    EXPECT_EQ(h.state.m_linkState, T(kLinkConnected));
    EXPECT_TRUE(h.logic.Port().IsOpen());
  }

  [[nodiscard]] bool Connected() const {
    return h.state.m_linkState == T(kLinkConnected) && h.state.m_portState == T(kPortOpen);
  }

  [[nodiscard]] bool ShowsNoDevice() const {
    return h.state.m_portState == T(kPortClosed) && h.state.m_portName == T(kPortNone) &&
           h.state.m_linkState == T(kLinkConnecting) && h.state.m_testResult == T(kNotConnected);
  }

  // What the operator types into a box before pressing a button.
  void Type(Member member, const std::string& text) { h.surface.Controls().*member = text; }
  void Tick(Flag flag, bool ticked) { h.surface.Controls().*flag = ticked; }
  // Empties a member and its box, so a value shown later must have come from the device.
  void Forget(Member member) {
    h.state.*member = std::string();
    h.surface.Controls().*member = std::string();
  }

  // Presses a button and waits for the notice its reply schedules; false if none came.
  bool PressAndAwaitNotice(void (ConfigLogic::*press)()) {
    const int before = h.surface.noticeTimerStarts;
    (h.logic.*press)();
    return h.RunUntil([&] { return h.surface.noticeTimerStarts > before; });
  }

  // The notice timer fires: the box shows the notice text and the timer is stopped.
  void ExpectNoticeBox(texts::Id notice) {
    EXPECT_EQ(h.logic.NoticeText(), texts::Gbk(notice));
    const std::size_t before = h.surface.boxes.size();
    h.logic.NoticeTimerProc();
    ASSERT_EQ(h.surface.boxes.size(), before + 1);
    EXPECT_EQ(h.surface.boxes.back().text, texts::Gbk(notice));
    EXPECT_FALSE(h.surface.noticeTimerRunning);
  }

  ConsoleHarness h;
  std::unique_ptr<SimProcess> sim;
};

}  // namespace e2e

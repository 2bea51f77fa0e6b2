// The connection scan over fake sysfs trees whose live ports are real pseudo-terminals: the
// texts shown, what reaches the tracker, device notices and hot-plug, system error texts.

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/link/device_frames.h"
#include "tests/support/console_harness.h"

namespace {

using fake::FakeSysfs;
using fake::Node;
using Opens = std::vector<std::string>;
using linktest::WireBytes;

// The console's logic on a fake tree, with no answer wait. Start() records the opens of the
// nodes that exist then.
struct ScanRig : ConsoleHarness {
  explicit ScanRig(unsigned settleMilliseconds = 0)
      : ConsoleHarness(settleMilliseconds,
                       [](ConsoleEnvironment& e) { e.answerWaitMilliseconds = 0; }) {}
  ConfigLogic& Start() {
    opens = std::make_unique<fake::OpenRecorder>(tree);
    return logic;
  }
  std::unique_ptr<fake::OpenRecorder> opens;
};

// Builds a tree from tty names: "ttyS2", "ttyACM0", "ttyUSB1:<driver>"; a trailing '-' leaves
// the node missing, a trailing '*' holds it open as another program would.
void Build(FakeSysfs& tree, const std::string& layout) {
  std::istringstream tokens(layout);
  for (std::string token; tokens >> token;) {
    const char mark = token.back();
    if (mark == '-' || mark == '*') token.pop_back();
    const Node node = mark == '-' ? Node::kMissing : Node::kLive;
    const std::size_t colon = token.find(':');
    const std::string name = token.substr(0, colon);
    const int index = std::atoi(name.c_str() + name.find_first_of("0123456789"));
    if (name.starts_with("ttyS")) tree.AddUart(index, 4, node);
    if (name.starts_with("ttyACM")) tree.AddAcm(index, {}, node);
    if (name.starts_with("ttyUSB")) tree.AddUsbSerial(index, token.substr(colon + 1), {}, node);
    if (mark == '*') tree.HoldNode(name);
  }
}

// The window's texts with the tracker on `portName`, or with none ("").
void ExpectTexts(const DialogState& state, const std::string& portName) {
  const bool open = !portName.empty();
  EXPECT_EQ(state.m_portState, open ? T(kPortOpen) : T(kPortClosed));
  EXPECT_EQ(state.m_portName, open ? portName : T(kPortNone));
  EXPECT_EQ(state.m_linkState, open ? T(kWaitingForDevice) : T(kLinkConnecting));
  EXPECT_EQ(state.m_testResult, open ? T(kTesting) : T(kNotConnected));
  EXPECT_FALSE(state.m_gsmOk || state.m_gpsOk || state.m_keyOk);
}

struct ScanCase {
  const char* description;
  std::string tree;
  int knownPortCount;  // as the start-up or the last removal left it
  int lastPortIndex;
  const char* opens;    // device nodes opened, in order (busy ones count, missing do not)
  std::string outcome;  // the port name when connected, else kNoDevice or kUnchanged
  int lastPortIndexAfter;
  bool connectedBefore = false;  // the window says "connected" as the scan starts
};
constexpr const char* kNoDevice = "no device";
constexpr const char* kUnchanged = "unchanged";

Opens Split(const std::string& names) {
  std::istringstream in(names);
  return {std::istream_iterator<std::string>(in), {}};
}

// 64 ports, all missing but ttyUSB17, which is the 50th in number order. ttyS2 and
// ttyS20..29 read Serial2: missing, so their probes fail unseen.
std::string SixtyFourPorts() {
  std::string layout;
  for (int i = 0; i < 32; ++i) layout += " ttyS" + std::to_string(i) + "-";
  for (int i = 0; i < 32; ++i) layout += " ttyUSB" + std::to_string(i) + (i == 17 ? ":ch" : ":ch-");
  return layout;
}

TEST(ScanAndConnect, SearchOrderFallbacksAndOutcomes) {
  const std::vector<ScanCase> cases = {
      {"no ports listed", "", 0, -1, "", kNoDevice, -1},
      {"Serial2 at index 1 beats USBSER at index 3: by index",
       "ttyS0 ttyS2 ttyUSB0:ch341-uart ttyACM0", 4, -1, "ttyS2 ttyS2", "COM3 (ttyS2)", 1},
      {"USBSER busy, later Serial2 connects and is remembered", "ttyUSB0:USBSER* ttyUSB2:Serial", 2,
       -1, "ttyUSB0 ttyUSB2 ttyUSB2", "COM35 (ttyUSB2)", 1},
      {"first USBSER missing, the next one connects", "ttyACM0- ttyACM1", 2, -1, "ttyACM1 ttyACM1",
       "COM66 (ttyACM1)", 1},
      {"both words in one path, busy: probed twice, then the remembered index",
       "ttyUSB2:USBSER_Serial*", 1, -1, "ttyUSB2 ttyUSB2 ttyUSB2", kUnchanged, 0},
      {"start-up with ports but none matching", "ttyS0 ttyUSB0:ch341-uart", 2, -1, "", kNoDevice,
       -1},
      {"more ports than at start-up, none matching: the last entry",
       "ttyS0 ttyUSB0:ch341-uart ttyUSB1:ftdi_sio", 2, -1, "ttyUSB1", "COM34 (ttyUSB1)", 2},
      {"more ports, but the last entry busy", "ttyUSB0:ch341-uart*", 0, -1, "ttyUSB0", kUnchanged,
       0},
      // Another program took the newest port since the last scan: the window must not keep
      // saying "connected".
      {"connected before, the last entry now busy", "ttyS0 ttyUSB0:ch341-uart*", 1, -1, "ttyUSB0",
       kNoDevice, 1, true},
      {"remembered index reopened under its own name", "ttyS0 ttyUSB0:ch341-uart", 2, 1, "ttyUSB0",
       "COM33 (ttyUSB0)", 1},
      {"remembered index beyond the list", "ttyS0", 1, 3, "", kNoDevice, 3},
      {"remembered index below -1 is no index", "ttyS0", 1, -5, "", kNoDevice, -5},
      {"more than 50 ports: 50 held, the last held one opened", SixtyFourPorts(), 0, -1, "ttyUSB17",
       "COM50 (ttyUSB17)", 49},
  };
  for (const ScanCase& c : cases) {
    SCOPED_TRACE(c.description);
    ScanRig rig;
    Build(rig.tree, c.tree);
    ConfigLogic& logic = rig.Start();
    logic.g_knownPortCount = c.knownPortCount;
    logic.g_lastPortIndex = c.lastPortIndex;
    logic.Decoder().frameSequence = 41;
    // Ticked on the screen: the scan's UpdateData(TRUE) takes them into the members.
    DialogState& controls = rig.surface.Controls();
    controls.m_gsmOk = controls.m_gpsOk = controls.m_keyOk = true;
    if (c.connectedBefore) controls.m_linkState = T(kLinkConnected);
    const DialogState before = rig.state;

    const bool connected = logic.ScanAndConnect();

    EXPECT_EQ(rig.opens->Opened(), Split(c.opens));
    EXPECT_EQ(logic.g_lastPortIndex, c.lastPortIndexAfter);
    const bool expectConnected = c.outcome != kNoDevice && c.outcome != kUnchanged;
    EXPECT_EQ(connected, expectConnected);
    EXPECT_EQ(logic.Port().IsOpen(), expectConnected);
    EXPECT_EQ(logic.Port().IsMonitoring(), expectConnected);
    EXPECT_EQ(logic.Decoder().frameSequence, c.outcome == kNoDevice ? 0 : 41);
    EXPECT_TRUE(rig.surface.boxes.empty()) << "the scan never shows a box";
    if (expectConnected) ExpectTexts(rig.state, c.outcome);
    if (c.outcome == kNoDevice) ExpectTexts(rig.state, "");
    if (c.outcome == kUnchanged) {
      EXPECT_EQ(rig.state.m_portName, before.m_portName);
      EXPECT_EQ(rig.state.m_linkState, before.m_linkState);
      EXPECT_TRUE(rig.state.m_gsmOk && rig.state.m_gpsOk && rig.state.m_keyOk);
      EXPECT_EQ(rig.surface.refreshes, 0);
    } else {
      EXPECT_EQ(rig.surface.Controls().m_linkState, rig.state.m_linkState) << "refreshed";
    }
  }
}

TEST(ScanAndConnect, GreetsTheTrackerAndStartsTheArmedTest) {
  for (const bool armed : {false, true}) {
    SCOPED_TRACE(armed ? "test armed" : "test not armed");
    ScanRig rig;
    rig.tree.AddAcm(0, {"1a86", "7523", "A1B2C3", "QinHeng", "USB Serial", "00"});
    ConfigLogic& logic = rig.Start();
    rig.surface.Controls().m_testEnabled = armed;
    rig.surface.portProblem = "stale";
    logic.OnInitDialog();

    ExpectTexts(rig.state, "COM65 (ttyACM0)");
    EXPECT_EQ(rig.surface.portDetails,
              "ttyACM0 · USB 1a86:7523 · QinHeng USB Serial · serial A1B2C3 · interface 00");
    EXPECT_EQ(rig.surface.portProblem, "") << "a connection clears the problem line";
    termios line{};  // a pseudo-terminal's master reads its slave's settings
    ASSERT_EQ(::tcgetattr(rig.tree.PtyOf("ttyACM0")->MasterFd(), &line), 0);
    EXPECT_EQ(::cfgetospeed(&line), B115200);
    EXPECT_EQ(line.c_cflag & (CSIZE | PARENB | CSTOPB), static_cast<tcflag_t>(CS8));
    EXPECT_EQ(line.c_cc[VMIN], 1) << "an empty port must read as EAGAIN, not as a hang-up";
    // A marker after the scan's frames shows what came before it, and that nothing else did.
    // It is the longest frame there is (every text byte escaped): the port must take it whole.
    const std::string marker(125, 'Z');
    logic.SendAtText(marker.c_str());
    std::string expected = WireBytes(devlink::EncodeAtText("connect ok!#"));
    if (armed) expected += WireBytes(devlink::EncodeUartCommand("factory_test"));
    expected += WireBytes(devlink::EncodeAtText(marker));
    EXPECT_EQ(rig.tree.PtyOf("ttyACM0")->ReadExactly(expected.size()), expected);
  }
}

TEST(ScanAndConnect, PortNotPermittedSaysWhatToDo) {
  ScanRig rig;
  rig.tree.AddAcm(0);
  ConfigLogic& logic = rig.Start();
  const auto scan = [&] {
    logic.OnInitDialog();
    return rig.surface.portProblem == T(kPortNotPermitted) && rig.surface.boxes.empty() &&
           !logic.Port().IsOpen();
  };
  if (::geteuid() != 0) {
    ASSERT_EQ(::chmod(rig.tree.PtyOf("ttyACM0")->SlavePath().c_str(), 0), 0);
    EXPECT_TRUE(scan());
    return;
  }
  // As root: a process of its own that drops to a user who may not open the port.
  ASSERT_EQ(::chmod(rig.tree.Root().c_str(), 0755), 0);
  EXPECT_EXIT(
      {
        const bool dropped =
            ::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0;
        std::_Exit(dropped && scan() ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(DeviceChange, OtherEventCodesDoNothing) {
  ScanRig rig;
  rig.tree.AddAcm(0);
  ConfigLogic& logic = rig.Start();
  for (const std::uint32_t code : {0u, 0x8001u, 0x8003u, 0x8005u, 0xFFFFFFFFu}) {
    EXPECT_TRUE(logic.OnDeviceChange(code, 0x1234)) << code;
  }
  EXPECT_TRUE(rig.opens->Opened().empty());
  EXPECT_EQ(rig.surface.refreshes + rig.surface.saves, 0);
  EXPECT_EQ(logic.g_knownPortCount, 0);
}

TEST(DeviceChange, RemovalOfAnotherDeviceReopensTheRememberedPort) {
  ScanRig rig;
  Build(rig.tree, "ttyS0 ttyUSB0:ch341-uart");
  ConfigLogic& logic = rig.Start();
  // The tracker (no word in its path) came after start-up: opened as the last entry.
  logic.g_knownPortCount = 1;
  ASSERT_TRUE(logic.ScanAndConnect());
  EXPECT_EQ(logic.g_lastPortIndex, 1);

  // A USB stick is pulled: the port is closed, the count refreshed, entry 1 reopened.
  EXPECT_TRUE(logic.OnDeviceChange(kDeviceRemoveComplete, 0));
  EXPECT_EQ(logic.g_knownPortCount, 2);
  EXPECT_EQ(rig.opens->Opened(), (Opens{"ttyUSB0", "ttyUSB0"}));
  ExpectTexts(rig.state, "COM33 (ttyUSB0)");
  EXPECT_TRUE(logic.Port().IsMonitoring());
}

TEST(DeviceChange, TrackerGoneShowsNoDeviceAndClosesThePort) {
  // After an arrival too: the window must not say "closed" while the old port is held open.
  for (const std::uint32_t code : {kDeviceRemoveComplete, kDeviceArrival}) {
    SCOPED_TRACE(code);
    ScanRig rig;
    rig.tree.AddAcm(0);
    ConfigLogic& logic = rig.Start();
    logic.OnInitDialog();
    ASSERT_TRUE(logic.Port().IsMonitoring());
    rig.tree.RemoveTty("ttyACM0");
    logic.Decoder().frameSequence = 9;
    EXPECT_TRUE(logic.OnDeviceChange(code, 0));
    ExpectTexts(rig.state, "");
    EXPECT_EQ(logic.Decoder().frameSequence, 0);
    EXPECT_FALSE(logic.Port().IsOpen());
    EXPECT_EQ(rig.surface.portDetails, "");
  }
}

// The port is closed before the settle wait; a quit during that wait scans no more.
TEST(DeviceChange, RemovalClosesFirstAndAQuitDuringTheSettleEndsIt) {
  for (const std::uint32_t code : {kDeviceRemoveComplete, kDeviceArrival}) {
    SCOPED_TRACE(code);
    ScanRig rig(20000);
    rig.tree.AddAcm(0);
    ConfigLogic& logic = rig.Start();
    logic.OnInitDialog();
    ASSERT_TRUE(logic.Port().IsOpen());
    (void)rig.opens->Opened();
    bool openDuringSettle = false;
    // Well inside the wait (a close runs UI tasks too); the quit then cuts the wait short.
    std::thread later([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(1500));
      rig.ui.Post([&] {
        openDuringSettle = logic.Port().IsOpen();
        rig.ui.RequestQuit();
      });
    });
    logic.OnDeviceChange(code, 0);
    later.join();
    EXPECT_EQ(openDuringSettle, code == kDeviceArrival);
    EXPECT_TRUE(rig.opens->Opened().empty());
  }
}

TEST(DeviceChange, NoticeDuringTheWaitRunsToItsEndFirst) {
  ScanRig rig(200);
  rig.tree.AddAcm(0);
  ConfigLogic& logic = rig.Start();
  std::vector<std::string> steps;
  rig.ui.Post([&] {
    steps.push_back("nested removal starts");
    logic.OnDeviceChange(kDeviceRemoveComplete, 0);
    steps.push_back(
        std::string("nested removal ends ") +
        (rig.state.m_linkState == T(kWaitingForDevice) ? "connected" : "not connected"));
    rig.state.m_linkState = "marker";
  });
  logic.OnDeviceChange(kDeviceArrival, 0);
  EXPECT_EQ(steps,
            (std::vector<std::string>{"nested removal starts", "nested removal ends connected"}));
  // The outer handler scanned after the nested one: the marker is overwritten.
  EXPECT_EQ(rig.state.m_linkState, T(kWaitingForDevice));
  EXPECT_EQ(rig.opens->Opened(), (Opens{"ttyACM0", "ttyACM0", "ttyACM0", "ttyACM0"}));
}

TEST(DeviceNotices, RegistrationFailureShowsOneBoxAndStartUpGoesOn) {
  ConsoleHarness rig(0, [](ConsoleEnvironment& e) { e.roots.portsFolder = e.lockFolder + "/f/p"; });
  rig.tree.AddAcm(0);
  std::ofstream(rig.LockFolder() + "/f") << "x";  // a file where a folder should be
  rig.logic.OnInitDialog();
  ASSERT_EQ(rig.surface.boxes.size(), 1u);
  EXPECT_EQ(rig.surface.boxes[0].text, "Can't register device notification: Not a directory");
  EXPECT_EQ(rig.surface.boxes[0].icon, MessageIcon::kExclamation);
  EXPECT_EQ(rig.surface.boxes[0].caption, T(kAppTitle));
  EXPECT_EQ(rig.logic.g_knownPortCount, 1);
  EXPECT_EQ(rig.state.m_linkState, T(kWaitingForDevice));
}

TEST(SystemErrorText, SystemTextsAndFallbacks) {
  const struct {
    std::uint32_t code;
    const char* text;
  } cases[] = {
      {2, "No such file or directory"},
      {0x80040201u, "IDispatch error #1"},
      {0x80040200u, "Unknown error 0x80040200"},
      {0x8004FFFFu, "IDispatch error #65023"},
      {0x80050201u, "Unknown error 0x80050201"},
      {1234, "Unknown error 0x4D2"},
      {4096, "Unknown error 0x1000"},
      {0xFFFFFFFFu, "Unknown error 0xFFFFFFFF"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ConfigLogic::SystemErrorText(c.code), c.text) << std::hex << c.code;
  }
}

}  // namespace

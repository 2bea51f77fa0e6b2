// Finding the tracker: the connection scan over fake sysfs trees whose live ports are real
// pseudo-terminals, the texts the operator sees, what reaches the tracker after connecting,
// device notices and hot-plug, and the system error texts.

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "device/config_logic.h"
#include "link/frame_encoder.h"
#include "platform/gbk.h"
#include "serial/std_ui_dispatcher.h"
#include "tests/support/fake_sysfs.h"
#include "tests/support/recording_surface.h"

namespace {

using fake::FakeSysfs;
using fake::Node;
using Opens = std::vector<std::string>;

constexpr int kGenerousWaitMs = 10000;

std::string Frame(const devlink::StuffedFrame& frame) {
  return std::string(reinterpret_cast<const char*>(frame.bytes.data()),
                     static_cast<std::size_t>(frame.length));
}

// A console logic on a fake tree. The tree is built first; the logic is made on Start().
struct ScanRig {
  FakeSysfs tree;
  StdUiDispatcher ui;
  DialogState state;
  RecordingSurface surface{state};
  std::unique_ptr<ConfigLogic> logic;
  std::unique_ptr<fake::OpenRecorder> opens;

  ConfigLogic& Start(unsigned settleMilliseconds = 0) {
    ConsoleEnvironment env;
    env.roots = tree.Roots();
    env.useUdev = false;
    env.settleMilliseconds = settleMilliseconds;
    logic = std::make_unique<ConfigLogic>(state, surface, ui, env);
    WatchOpens();
    return *logic;
  }
  // Starts recording opens of the nodes that exist now.
  void WatchOpens() { opens = std::make_unique<fake::OpenRecorder>(tree); }
};

void ExpectNoDeviceTexts(const DialogState& state) {
  EXPECT_EQ(state.m_portState, T(kPortClosed));
  EXPECT_EQ(state.m_portName, T(kPortNone));
  EXPECT_EQ(state.m_linkState, T(kLinkConnecting));
  EXPECT_EQ(state.m_testResult, T(kNotConnected));
  EXPECT_FALSE(state.m_gsmOk || state.m_gpsOk || state.m_keyOk);
}

void ExpectConnectedTexts(const DialogState& state, const std::string& portName) {
  EXPECT_EQ(state.m_portState, T(kPortOpen));
  EXPECT_EQ(state.m_portName, portName);
  EXPECT_EQ(state.m_linkState, T(kLinkConnected));
  EXPECT_EQ(state.m_testResult, T(kTesting));
  EXPECT_FALSE(state.m_gsmOk || state.m_gpsOk || state.m_keyOk);
}

// ---------------------------------------------------------------------------------------
// The search

enum class Outcome { kConnected, kNoDevice, kUnchanged };

struct ScanCase {
  const char* description;
  std::function<void(FakeSysfs&)> build;
  int knownPortCount;  // as the start-up or the last removal left it
  int lastPortIndex;
  Opens opens;  // device nodes opened, in order (busy ones count, missing do not)
  Outcome outcome;
  const char* portName;  // when connected
  int lastPortIndexAfter;
};

const std::vector<ScanCase>& ScanCases() {
  static const std::vector<ScanCase> cases = {
      {"no ports listed: no device",
       [](FakeSysfs& t) { t.AddVirtualTty("tty0"); },
       0,
       -1,
       {},
       Outcome::kNoDevice,
       nullptr,
       -1},
      {"Serial2 at index 1 beats USBSER at index 3: the search goes by index",
       [](FakeSysfs& t) {
         t.AddUart(0);
         t.AddUart(2);
         t.AddUsbSerial(0, "ch341-uart");
         t.AddAcm(0);
       },
       4,
       -1,
       {"ttyS2", "ttyS2"},
       Outcome::kConnected,
       "COM3 (ttyS2)",
       1},
      {"USBSER busy, later Serial2 connects and is remembered",
       [](FakeSysfs& t) {
         t.AddUsbSerial(0, "USBSER");
         t.HoldNode("ttyUSB0");
         t.AddUsbSerial(2, "Serial");
       },
       2,
       -1,
       {"ttyUSB0", "ttyUSB2", "ttyUSB2"},
       Outcome::kConnected,
       "COM35 (ttyUSB2)",
       1},
      {"first USBSER missing, the next one connects",
       [](FakeSysfs& t) {
         t.AddAcm(0, {}, Node::kMissing);
         t.AddAcm(1);
       },
       2,
       -1,
       {"ttyACM1", "ttyACM1"},
       Outcome::kConnected,
       "COM66 (ttyACM1)",
       1},
      {"both words in one path, busy: probed twice, then the remembered index once more",
       [](FakeSysfs& t) {
         t.AddUsbSerial(2, "USBSER_Serial");
         t.HoldNode("ttyUSB2");
       },
       1,
       -1,
       {"ttyUSB2", "ttyUSB2", "ttyUSB2"},
       Outcome::kUnchanged,
       nullptr,
       0},
      {"start-up with ports but none matching: no device",
       [](FakeSysfs& t) {
         t.AddUart(0);
         t.AddUsbSerial(0, "ch341-uart");
       },
       2,
       -1,
       {},
       Outcome::kNoDevice,
       nullptr,
       -1},
      {"more ports than at start-up, none matching: the last entry",
       [](FakeSysfs& t) {
         t.AddUart(0);
         t.AddUsbSerial(0, "ch341-uart");
         t.AddUsbSerial(1, "ftdi_sio");
       },
       2,
       -1,
       {"ttyUSB1"},
       Outcome::kConnected,
       "COM34 (ttyUSB1)",
       2},
      {"more ports, but the last entry busy: nothing changes",
       [](FakeSysfs& t) {
         t.AddUsbSerial(0, "ch341-uart");
         t.HoldNode("ttyUSB0");
       },
       0,
       -1,
       {"ttyUSB0"},
       Outcome::kUnchanged,
       nullptr,
       0},
      {"remembered index reopened under its own name",
       [](FakeSysfs& t) {
         t.AddUart(0);
         t.AddUsbSerial(0, "ch341-uart");
       },
       2,
       1,
       {"ttyUSB0"},
       Outcome::kConnected,
       "COM33 (ttyUSB0)",
       1},
      {"remembered index beyond the list: no device",
       [](FakeSysfs& t) { t.AddUart(0); },
       1,
       3,
       {},
       Outcome::kNoDevice,
       nullptr,
       3},
      {"remembered index below -1 is no index",
       [](FakeSysfs& t) { t.AddUart(0); },
       1,
       -5,
       {},
       Outcome::kNoDevice,
       nullptr,
       -5},
      {"more than 50 ports: 50 held, the last held one opened",
       [](FakeSysfs& t) {
         // ttyS2 and ttyS20..29 read Serial2: missing, so their probes fail unseen.
         for (int i = 0; i < 32; ++i) t.AddUart(i, 4, Node::kMissing);
         for (int i = 0; i < 32; ++i)
           t.AddUsbSerial(i, "ch341-uart", {}, i == 17 ? Node::kLive : Node::kMissing);
       },
       0,
       -1,
       {"ttyUSB17"},
       Outcome::kConnected,
       "COM50 (ttyUSB17)",
       49},
  };
  return cases;
}

TEST(ScanAndConnect, SearchOrderFallbacksAndOutcomes) {
  for (const ScanCase& c : ScanCases()) {
    SCOPED_TRACE(c.description);
    ScanRig rig;
    c.build(rig.tree);
    ConfigLogic& logic = rig.Start();
    logic.g_knownPortCount = c.knownPortCount;
    logic.g_lastPortIndex = c.lastPortIndex;
    logic.Decoder().frameSequence = 41;
    // Ticked on the screen: the scan's UpdateData(TRUE) takes them into the members.
    DialogState& controls = rig.surface.Controls();
    controls.m_gsmOk = controls.m_gpsOk = controls.m_keyOk = true;
    const DialogState before = rig.state;

    const bool connected = logic.ScanAndConnect();

    EXPECT_EQ(rig.opens->Opened(), c.opens);
    EXPECT_EQ(logic.g_lastPortIndex, c.lastPortIndexAfter);
    EXPECT_EQ(connected, c.outcome == Outcome::kConnected);
    EXPECT_EQ(logic.Port().IsOpen(), c.outcome == Outcome::kConnected);
    switch (c.outcome) {
      case Outcome::kConnected:
        ExpectConnectedTexts(rig.state, c.portName);
        EXPECT_EQ(rig.surface.Controls().m_linkState, T(kLinkConnected)) << "refreshed";
        EXPECT_TRUE(logic.Port().IsMonitoring());
        EXPECT_EQ(logic.Decoder().frameSequence, 41);
        break;
      case Outcome::kNoDevice:
        ExpectNoDeviceTexts(rig.state);
        EXPECT_EQ(rig.surface.Controls().m_portName, T(kPortNone)) << "refreshed";
        EXPECT_EQ(logic.Decoder().frameSequence, 0);
        break;
      case Outcome::kUnchanged:
        EXPECT_EQ(rig.state.m_portState, before.m_portState);
        EXPECT_EQ(rig.state.m_portName, before.m_portName);
        EXPECT_EQ(rig.state.m_linkState, before.m_linkState);
        EXPECT_EQ(rig.state.m_testResult, before.m_testResult);
        EXPECT_TRUE(rig.state.m_gsmOk && rig.state.m_gpsOk && rig.state.m_keyOk);
        EXPECT_EQ(logic.Decoder().frameSequence, 41);
        EXPECT_EQ(rig.surface.refreshes, 0);
        break;
    }
    EXPECT_TRUE(rig.surface.boxes.empty()) << "the scan never shows a box";
  }
}

TEST(ScanAndConnect, VirtualTrackerPortConnects) {
  ScanRig rig;
  rig.tree.AddUart(0);
  rig.tree.AddVirtualPort(97);
  ConfigLogic& logic = rig.Start();
  logic.OnInitDialog();
  const std::string slave = rig.tree.PtyOf("COM97")->slavePath();
  ExpectConnectedTexts(rig.state, "COM97 (" + slave.substr(std::string("/dev/").size()) + ")");
  EXPECT_EQ(rig.surface.portDetails, "virtual tracker port → " + slave);
  EXPECT_EQ(rig.opens->Opened(), (Opens{"COM97", "COM97"}));
}

TEST(ScanAndConnect, EnumerationHoldsFiftyEntries) {
  ScanRig rig;
  for (int i = 0; i < 32; ++i) rig.tree.AddUart(i, 4, Node::kMissing);
  for (int i = 0; i < 32; ++i) rig.tree.AddUsbSerial(i, "ch341-uart", {}, Node::kMissing);
  ConfigLogic& logic = rig.Start();
  std::vector<std::string> paths{"stale"};
  std::vector<std::string> names;
  std::vector<ports::PortEntry> entries;
  EXPECT_EQ(logic.EnumSerialPorts(&paths, &names, &entries), 50);
  ASSERT_EQ(paths.size(), 50u);
  ASSERT_EQ(names.size(), 50u);
  ASSERT_EQ(entries.size(), 50u);
  EXPECT_EQ(paths[0], "\\Device\\Serial0");
  EXPECT_EQ(names[49], "COM50 (ttyUSB17)");
  EXPECT_EQ(logic.EnumSerialPorts(nullptr, nullptr), 50);
}

// ---------------------------------------------------------------------------------------
// The connected outcome as the tracker and the operator see it

TEST(ScanAndConnect, GreetsTheTrackerAndStartsTheArmedTest) {
  for (const bool armed : {false, true}) {
    SCOPED_TRACE(armed ? "test armed" : "test not armed");
    ScanRig rig;
    rig.tree.AddAcm(0, {"1a86", "7523", "A1B2C3", "QinHeng", "USB Serial", "00"});
    ConfigLogic& logic = rig.Start();
    rig.state.m_testEnabled = armed;
    rig.surface.Controls().m_testEnabled = armed;
    rig.surface.portProblem = "stale";
    logic.OnInitDialog();

    ExpectConnectedTexts(rig.state, "COM65 (ttyACM0)");
    EXPECT_EQ(rig.surface.portDetails,
              "ttyACM0 · USB 1a86:7523 · QinHeng USB Serial · serial A1B2C3 · interface 00");
    EXPECT_EQ(rig.surface.portProblem, "") << "a connection clears the problem line";
    // A marker after the scan's frames shows what came before it, and that nothing else did.
    logic.SendAtText("marker");
    std::string expected = Frame(devlink::EncodeAtText("connect ok!#"));
    if (armed) expected += Frame(devlink::EncodeUartCommand("factory_test"));
    expected += Frame(devlink::EncodeAtText("marker"));
    EXPECT_EQ(rig.tree.PtyOf("ttyACM0")->ReadFromConsole(expected.size(), kGenerousWaitMs),
              expected);
  }
}

TEST(ScanAndConnect, BusyPortNamesItsHolderUntilItConnects) {
  ScanRig rig;
  rig.tree.AddAcm(0);
  rig.tree.HoldNode("ttyACM0");
  ConfigLogic& logic = rig.Start();
  logic.OnInitDialog();
  std::string command;
  std::getline(std::ifstream("/proc/self/comm"), command);
  std::string expected = T(kPortBusyBy) + command + " (PID " + std::to_string(::getpid()) + ")";
  if (ports::IsProcessRunning("ModemManager")) expected += T(kModemManagerHint);
  EXPECT_EQ(rig.surface.portProblem, expected);
  EXPECT_TRUE(rig.surface.boxes.empty());
  // Probed, then reopened as the remembered index: a failed final open leaves the texts.
  EXPECT_EQ(rig.state.m_portState, T(kPortClosed));
  EXPECT_EQ(rig.state.m_linkState, "");

  rig.tree.ReleaseNode("ttyACM0");
  logic.OnDeviceChange(kDeviceArrival, 0);
  ExpectConnectedTexts(rig.state, "COM65 (ttyACM0)");
  EXPECT_EQ(rig.surface.portProblem, "");
}

// Runs `scan` as a user who may not open the port: a process of its own when we are root.
void RunAsUnprivileged(FakeSysfs& tree, const std::function<bool()>& scan) {
  if (::geteuid() != 0) {
    ASSERT_EQ(::chmod(tree.PtyOf("ttyACM0")->slavePath().c_str(), 0), 0);
    EXPECT_TRUE(scan());
    return;
  }
  ASSERT_EQ(::chmod(tree.Root().c_str(), 0755), 0);
  EXPECT_EXIT(
      {
        const bool dropped =
            ::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0;
        std::_Exit(dropped && scan() ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(ScanAndConnect, PortNotPermittedSaysWhatToDo) {
  ScanRig rig;
  rig.tree.AddAcm(0);
  ConfigLogic& logic = rig.Start();
  RunAsUnprivileged(rig.tree, [&] {
    logic.OnInitDialog();
    return rig.surface.portProblem == T(kPortNotPermitted) && rig.surface.boxes.empty() &&
           !logic.Port().IsOpen();
  });
}

// ---------------------------------------------------------------------------------------
// Device changes

TEST(DeviceChange, OtherEventCodesDoNothing) {
  ScanRig rig;
  rig.tree.AddAcm(0);
  ConfigLogic& logic = rig.Start();
  for (const std::uint32_t code : {0u, 7u, 0x8001u, 0x8003u, 0x8005u, 0x8006u, 0xFFFFFFFFu}) {
    EXPECT_TRUE(logic.OnDeviceChange(code, 0x1234)) << code;
  }
  EXPECT_TRUE(rig.opens->Opened().empty());
  EXPECT_EQ(rig.surface.refreshes, 0);
  EXPECT_EQ(rig.surface.saves, 0);
  EXPECT_EQ(logic.g_knownPortCount, 0);
  EXPECT_EQ(logic.g_lastPortIndex, -1);
}

TEST(DeviceChange, RemovalOfAnotherDeviceReopensTheRememberedPort) {
  ScanRig rig;
  rig.tree.AddUart(0);
  rig.tree.AddUsbSerial(0, "ch341-uart");
  ConfigLogic& logic = rig.Start();
  // The tracker (no word in its path) came after start-up: opened as the last entry.
  logic.g_knownPortCount = 1;
  ASSERT_TRUE(logic.ScanAndConnect());
  EXPECT_EQ(logic.g_lastPortIndex, 1);

  // A USB stick is pulled: the port is closed, the count refreshed, entry 1 reopened.
  EXPECT_TRUE(logic.OnDeviceChange(kDeviceRemoveComplete, 0));
  EXPECT_EQ(logic.g_knownPortCount, 2);
  EXPECT_EQ(rig.opens->Opened(), (Opens{"ttyUSB0", "ttyUSB0"}));
  ExpectConnectedTexts(rig.state, "COM33 (ttyUSB0)");
  EXPECT_TRUE(logic.Port().IsMonitoring());
}

TEST(DeviceChange, TrackerUnpluggedShowsNoDevice) {
  ScanRig rig;
  rig.tree.AddAcm(0);
  ConfigLogic& logic = rig.Start();
  logic.OnInitDialog();
  ASSERT_TRUE(logic.Port().IsMonitoring());
  rig.tree.RemoveTty("ttyACM0");
  logic.Decoder().frameSequence = 9;
  EXPECT_TRUE(logic.OnDeviceChange(kDeviceRemoveComplete, 0));
  EXPECT_EQ(logic.g_knownPortCount, 0);
  ExpectNoDeviceTexts(rig.state);
  EXPECT_EQ(logic.Decoder().frameSequence, 0);
  EXPECT_FALSE(logic.Port().IsOpen());
  EXPECT_EQ(rig.surface.portDetails, "");
}

TEST(DeviceChange, ArrivalWithNoPortLeftClosesTheOldPort) {
  // The window must not say "closed" while the old port is still held open.
  ScanRig rig;
  rig.tree.AddAcm(0);
  ConfigLogic& logic = rig.Start();
  logic.OnInitDialog();
  ASSERT_TRUE(logic.Port().IsOpen());
  rig.tree.RemoveTty("ttyACM0");
  logic.OnDeviceChange(kDeviceArrival, 0);
  ExpectNoDeviceTexts(rig.state);
  EXPECT_FALSE(logic.Port().IsOpen());
}

TEST(DeviceChange, FailedReopenDoesNotKeepSayingConnected) {
  // A connection to the newest port, which another program takes before the next scan.
  ScanRig rig;
  rig.tree.AddUart(0);
  rig.tree.AddUsbSerial(0, "ch341-uart");
  ConfigLogic& logic = rig.Start();
  logic.g_knownPortCount = 1;
  ASSERT_TRUE(logic.ScanAndConnect());
  logic.CloseStep();
  rig.tree.HoldNode("ttyUSB0");
  logic.OnDeviceChange(kDeviceArrival, 0);
  ExpectNoDeviceTexts(rig.state);
  EXPECT_FALSE(logic.Port().IsOpen());
  EXPECT_EQ(logic.g_lastPortIndex, 1);
}

TEST(DeviceChange, VirtualPortPlugAndUnplugThroughTheNotices) {
  ScanRig rig;
  ConfigLogic& logic = rig.Start();
  logic.OnInitDialog();
  ExpectNoDeviceTexts(rig.state);
  const int fd = logic.DeviceNoticeFd();
  ASSERT_GE(fd, 0);
  auto waitForNotice = [fd] {
    pollfd waiting{fd, POLLIN, 0};
    return ::poll(&waiting, 1, kGenerousWaitMs) == 1;
  };

  rig.tree.AddVirtualPort(97);
  ASSERT_TRUE(waitForNotice());
  logic.OnDeviceNoticesReadable();
  EXPECT_EQ(rig.state.m_linkState, T(kLinkConnected));
  EXPECT_TRUE(logic.Port().IsMonitoring());

  rig.tree.RemoveVirtualPort(97);
  ASSERT_TRUE(waitForNotice());
  logic.OnDeviceNoticesReadable();
  ExpectNoDeviceTexts(rig.state);
  EXPECT_FALSE(logic.Port().IsOpen());
  EXPECT_EQ(logic.g_knownPortCount, 0);
}

TEST(DeviceChange, NoticeDuringTheWaitRunsToItsEndFirst) {
  ScanRig rig;
  rig.tree.AddAcm(0);
  ConfigLogic& logic = rig.Start(/*settleMilliseconds=*/200);
  std::vector<std::string> steps;
  rig.ui.Post([&] {
    steps.push_back("nested removal starts");
    logic.OnDeviceChange(kDeviceRemoveComplete, 0);
    steps.push_back(std::string("nested removal ends ") +
                    (rig.state.m_linkState == T(kLinkConnected) ? "connected" : "not connected"));
    rig.state.m_linkState = "marker";
  });
  logic.OnDeviceChange(kDeviceArrival, 0);
  EXPECT_EQ(steps,
            (std::vector<std::string>{"nested removal starts", "nested removal ends connected"}));
  // The outer handler scanned after the nested one: the marker is overwritten.
  EXPECT_EQ(rig.state.m_linkState, T(kLinkConnected));
  EXPECT_EQ(rig.opens->Opened(), (Opens{"ttyACM0", "ttyACM0", "ttyACM0", "ttyACM0"}));
}

// ---------------------------------------------------------------------------------------
// Notice registration and error texts

TEST(DeviceNotices, RegistrationFailureShowsOneBoxAndStartUpGoesOn) {
  ScanRig rig;
  rig.tree.AddAcm(0);
  std::ofstream(rig.tree.Root() + "/file") << "x";
  ConsoleEnvironment env;
  env.roots = rig.tree.Roots();
  env.roots.portsFolder = rig.tree.Root() + "/file/ports";
  env.useUdev = false;
  env.settleMilliseconds = 0;
  ConfigLogic logic(rig.state, rig.surface, rig.ui, env);
  logic.OnInitDialog();
  ASSERT_EQ(rig.surface.boxes.size(), 1u);
  EXPECT_EQ(rig.surface.boxes[0].text, "Can't register device notification: Not a directory");
  EXPECT_EQ(rig.surface.boxes[0].icon, MessageIcon::kExclamation);
  EXPECT_EQ(rig.surface.boxes[0].caption, T(kAppTitle));
  EXPECT_EQ(logic.g_knownPortCount, 1);
  EXPECT_EQ(rig.state.m_linkState, T(kLinkConnected));
}

TEST(SystemErrorText, SystemTextsAndFallbacks) {
  const struct {
    std::uint32_t code;
    const char* text;
  } cases[] = {
      {2, "No such file or directory"},
      {13, "Permission denied"},
      {16, "Device or resource busy"},
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

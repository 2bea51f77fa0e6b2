// The operator's requests: the connection guard, the checks before a set, what the controls
// show afterwards, and the exact frames that reach a tracker on a real pseudo-terminal.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "device/config_logic.h"
#include "link/frame_encoder.h"
#include "platform/gbk.h"
#include "serial/std_ui_dispatcher.h"
#include "tests/support/pty_peer.h"
#include "tests/support/recording_surface.h"

namespace {

std::string G(const char* utf8) {
  return gbk::FromUtf8(utf8);
}

class CommandTempFolders {
 public:
  CommandTempFolders() {
    char pattern[] = "/tmp/tc-commands-XXXXXX";
    root_ = mkdtemp(pattern);
    for (const char* sub : {"sys", "dev", "ports"})
      std::filesystem::create_directories(root_ / sub);
  }
  ~CommandTempFolders() { std::filesystem::remove_all(root_); }
  CommandTempFolders(const CommandTempFolders&) = delete;
  CommandTempFolders& operator=(const CommandTempFolders&) = delete;

  ConsoleEnvironment Environment() const {
    ConsoleEnvironment env;
    env.roots.sysClassTty = root_ / "sys";
    env.roots.dev = root_ / "dev";
    env.roots.portsFolder = PortsFolder();
    env.useUdev = false;
    return env;
  }
  std::string PortsFolder() const { return root_ / "ports"; }

 private:
  std::filesystem::path root_;
};

struct CommandHarness {
  CommandHarness() : surface(state), logic(state, surface, ui, folders.Environment()) {}
  CommandTempFolders folders;
  DialogState state;
  RecordingSurface surface;
  StdUiDispatcher ui;
  ConfigLogic logic;
};

using Press = void (ConfigLogic::*)();

struct NamedHandler {
  const char* name;
  Press press;
};

// Every button that needs a tracker.
const std::vector<NamedHandler> kGuardedHandlers = {
    {"read version", &ConfigLogic::OnReadVersion}, {"read address", &ConfigLogic::OnReadAddress},
    {"set address", &ConfigLogic::OnSetAddress},   {"read imei", &ConfigLogic::OnReadImei},
    {"set imei", &ConfigLogic::OnSetImei},         {"read numbers", &ConfigLogic::OnReadNumbers},
    {"set numbers", &ConfigLogic::OnSetNumbers},   {"read language", &ConfigLogic::OnReadLanguage},
    {"set language", &ConfigLogic::OnSetLanguage}, {"read sos", &ConfigLogic::OnReadSos},
    {"set sos", &ConfigLogic::OnSetSos},           {"read monitor", &ConfigLogic::OnReadMonitor},
    {"set monitor", &ConfigLogic::OnSetMonitor},   {"read upload", &ConfigLogic::OnReadUpload},
    {"set upload", &ConfigLogic::OnSetUpload},     {"send", &ConfigLogic::OnSend},
};

// Fills every control as an operator would before pressing.
void TypeEverything(DialogState& controls) {
  controls.m_serverAddr = "typed.addr";
  controls.m_serverPort = "9000";
  controls.m_imei = "123456789012345";
  controls.m_centerNumber = "138";
  controls.m_slaveNumber = "139";
  controls.m_language = "1";
  controls.m_zone = "8";
  controls.m_sos1 = "110";
  controls.m_sos2 = "120";
  controls.m_sos3 = "119";
  controls.m_monitorNumber = "137";
  controls.m_uploadInterval = "60";
  controls.m_sendText = "POWEROFF";
}

TEST(CommandGuard, EveryRequestWithoutATrackerSaysSoAndTouchesNothing) {
  for (const std::string& linkState : {std::string(), T(kLinkConnecting), std::string("x")}) {
    for (const NamedHandler& handler : kGuardedHandlers) {
      SCOPED_TRACE(std::string(handler.name) + " with link state '" + linkState + "'");
      CommandHarness h;
      h.state.m_linkState = linkState;
      TypeEverything(h.surface.Controls());
      (h.logic.*handler.press)();
      ASSERT_EQ(h.surface.boxes.size(), 1u);
      EXPECT_EQ(h.surface.boxes[0].text, T(kMsgNotConnected));
      EXPECT_EQ(h.surface.boxes[0].icon, MessageIcon::kNone);
      EXPECT_EQ(h.surface.boxes[0].caption, T(kAppTitle));
      EXPECT_EQ(h.surface.saves, 0);
      EXPECT_EQ(h.surface.refreshes, 0);
      EXPECT_EQ(h.surface.Controls().m_imei, "123456789012345") << "typing survives";
    }
  }
}

TEST(CommandGuard, CheckBoxesWithoutATrackerStaySilent) {
  const std::vector<NamedHandler> boxes = {{"domain", &ConfigLogic::OnDomainCheck},
                                           {"start test", &ConfigLogic::OnStartTest}};
  for (const NamedHandler& handler : boxes) {
    SCOPED_TRACE(handler.name);
    CommandHarness h;
    h.surface.Controls().m_useDomain = true;
    h.surface.Controls().m_testEnabled = true;
    (h.logic.*handler.press)();
    EXPECT_TRUE(h.surface.boxes.empty());
  }
}

TEST(CommandReads, ReadShowsTheMembersAndDropsUntransferredTyping) {
  const std::vector<NamedHandler> reads = {
      {"read version", &ConfigLogic::OnReadVersion},
      {"read address", &ConfigLogic::OnReadAddress},
      {"read imei", &ConfigLogic::OnReadImei},
      {"read numbers", &ConfigLogic::OnReadNumbers},
      {"read language", &ConfigLogic::OnReadLanguage},
      {"read sos", &ConfigLogic::OnReadSos},
      {"read monitor", &ConfigLogic::OnReadMonitor},
      {"read upload", &ConfigLogic::OnReadUpload},
  };
  for (const NamedHandler& handler : reads) {
    SCOPED_TRACE(handler.name);
    CommandHarness h;
    h.state.m_linkState = T(kLinkConnected);
    h.state.m_imei = "member imei";
    TypeEverything(h.surface.Controls());
    (h.logic.*handler.press)();
    EXPECT_TRUE(h.surface.boxes.empty());
    EXPECT_EQ(h.surface.saves, 0);
    EXPECT_EQ(h.surface.refreshes, 1);
    EXPECT_EQ(h.surface.Controls().m_imei, "member imei");
    EXPECT_EQ(h.surface.Controls().m_serverAddr, "");
  }
}

// A validation row: what the operator typed, the button, and what is seen afterwards.
struct ValidationCase {
  const char* description;
  std::function<void(DialogState&)> type;
  Press press;
  std::vector<std::string> boxes;  // GBK
  int refreshes;
  std::function<void(const DialogState& controls, const DialogState& members)> check;
};

std::vector<ValidationCase> ValidationCases() {
  const auto imeiShown = [](const char* expected) {
    return [expected = std::string(expected)](const DialogState& controls,
                                              const DialogState& members) {
      EXPECT_EQ(controls.m_imei, expected);
      EXPECT_EQ(members.m_imei, expected);
    };
  };
  return {
      {"address empty",
       [](DialogState& c) {
         c.m_serverAddr = "";
         c.m_serverPort = "9000";
       },
       &ConfigLogic::OnSetAddress,
       {T(kMsgAddrEmpty)},
       0,
       [](const DialogState& c, const DialogState&) { EXPECT_EQ(c.m_serverPort, "9000"); }},
      {"port empty with the address filled",
       [](DialogState& c) {
         c.m_serverAddr = "t.example.cn";
         c.m_serverPort = "";
       },
       &ConfigLogic::OnSetAddress,
       {T(kMsgAddrEmpty)},
       0,
       [](const DialogState& c, const DialogState&) { EXPECT_EQ(c.m_serverAddr, "t.example.cn"); }},
      {"address and port filled",
       [](DialogState& c) {
         c.m_serverAddr = "a";
         c.m_serverPort = "1";
       },
       &ConfigLogic::OnSetAddress,
       {},
       0,
       nullptr},
      {"address of one space is not empty",
       [](DialogState& c) {
         c.m_serverAddr = " ";
         c.m_serverPort = " ";
       },
       &ConfigLogic::OnSetAddress,
       {},
       0,
       nullptr},
      {"imei empty keeps the box as it was",
       [](DialogState& c) { c.m_imei = ""; },
       &ConfigLogic::OnSetImei,
       {T(kMsgImeiEmpty)},
       0,
       imeiShown("")},
      {"imei of 14 digits is emptied",
       [](DialogState& c) { c.m_imei = "12345678901234"; },
       &ConfigLogic::OnSetImei,
       {T(kMsgImeiLength)},
       1,
       imeiShown("")},
      {"imei of 16 digits is emptied",
       [](DialogState& c) { c.m_imei = "1234567890123456"; },
       &ConfigLogic::OnSetImei,
       {T(kMsgImeiLength)},
       1,
       imeiShown("")},
      {"imei of 15 letters passes",
       [](DialogState& c) { c.m_imei = "abcdefghijklmno"; },
       &ConfigLogic::OnSetImei,
       {},
       1,
       imeiShown("abcdefghijklmno")},
      {"imei of 15 GBK bytes passes",
       [](DialogState& c) { c.m_imei = G("一二三四五六七") + "8"; },
       &ConfigLogic::OnSetImei,
       {},
       1,
       [](const DialogState& c, const DialogState&) {
         EXPECT_EQ(c.m_imei, G("一二三四五六七") + "8");
       }},
      {"imei of 15 Chinese characters is 30 bytes",
       [](DialogState& c) { c.m_imei = G("一二三四五六七八九十一二三四五"); },
       &ConfigLogic::OnSetImei,
       {T(kMsgImeiLength)},
       1,
       imeiShown("")},
      {"send empty",
       [](DialogState& c) { c.m_sendText = ""; },
       &ConfigLogic::OnSend,
       {T(kMsgSendEmpty)},
       1,
       nullptr},
      {"send keeps its text",
       [](DialogState& c) { c.m_sendText = "POWEROFF"; },
       &ConfigLogic::OnSend,
       {},
       1,
       [](const DialogState& c, const DialogState&) { EXPECT_EQ(c.m_sendText, "POWEROFF"); }},
      {"set numbers with both empty still sends",
       [](DialogState& c) { c.m_centerNumber = c.m_slaveNumber = ""; },
       &ConfigLogic::OnSetNumbers,
       {},
       0,
       nullptr},
  };
}

TEST(CommandValidation, MessagesAndWhatTheControlsShowAfterwards) {
  for (const ValidationCase& c : ValidationCases()) {
    SCOPED_TRACE(c.description);
    CommandHarness h;
    h.state.m_linkState = T(kLinkConnected);
    h.surface.UpdateData(false);
    h.surface.refreshes = 0;
    c.type(h.surface.Controls());
    // The length message is shown while the box still holds what was typed.
    std::string imeiWhileShown;
    h.surface.onBox = [&](const ShownBox&) { imeiWhileShown = h.surface.Controls().m_imei; };
    const std::string typedImei = h.surface.Controls().m_imei;

    (h.logic.*c.press)();

    EXPECT_EQ(h.surface.BoxTexts(), c.boxes);
    for (const ShownBox& box : h.surface.boxes) {
      EXPECT_EQ(box.icon, MessageIcon::kNone);
      EXPECT_EQ(box.caption, T(kAppTitle));
    }
    if (!c.boxes.empty()) {
      EXPECT_EQ(imeiWhileShown, typedImei);
    }
    EXPECT_EQ(h.surface.saves, 1);
    EXPECT_EQ(h.surface.refreshes, c.refreshes);
    if (c.check) c.check(h.surface.Controls(), h.state);
  }
}

TEST(CommandDomainCheck, TogglingRelabelsAndEmptiesTheAddressWithoutATracker) {
  CommandHarness h;
  h.surface.Controls().m_serverAddr = "1.2.3.4";
  h.surface.Controls().m_serverPort = "9000";
  h.surface.Controls().m_useDomain = true;
  h.logic.OnDomainCheck();
  EXPECT_EQ(h.surface.Controls().m_addrLabel, T(kAddrLabelUrl));
  EXPECT_EQ(h.surface.Controls().m_serverAddr, "");
  EXPECT_EQ(h.state.m_serverAddr, "");
  EXPECT_EQ(h.surface.Controls().m_serverPort, "9000") << "the port is kept";

  h.surface.Controls().m_serverAddr = "t.example.cn";
  h.surface.Controls().m_useDomain = false;
  h.logic.OnDomainCheck();
  EXPECT_EQ(h.surface.Controls().m_addrLabel, T(kAddrLabelIp));
  EXPECT_EQ(h.surface.Controls().m_serverAddr, "");
  EXPECT_FALSE(h.state.m_useDomain);
  EXPECT_TRUE(h.surface.boxes.empty());
  EXPECT_EQ(h.surface.saves, 2);
  EXPECT_EQ(h.surface.refreshes, 2);
}

TEST(CommandStartTest, TickingTakesTheBoxAndRefreshesNothing) {
  for (const bool connected : {false, true}) {
    for (const bool ticked : {false, true}) {
      SCOPED_TRACE(std::string(connected ? "connected" : "not connected") +
                   (ticked ? ", ticked" : ", unticked"));
      CommandHarness h;
      if (connected) h.state.m_linkState = T(kLinkConnected);
      h.surface.Controls().m_linkState = h.state.m_linkState;
      h.surface.Controls().m_testEnabled = ticked;
      h.logic.OnStartTest();
      EXPECT_EQ(h.state.m_testEnabled, ticked);
      EXPECT_TRUE(h.surface.boxes.empty());
      EXPECT_EQ(h.surface.refreshes, 0);
    }
  }
}

// ---------------------------------------------------------------------------------------
// On the wire: the console holds a pseudo-terminal registered as COM97 and the test reads
// what a tracker would receive.

constexpr int kWirePort = 97;

std::string Bytes(const devlink::StuffedFrame& frame) {
  return std::string(reinterpret_cast<const char*>(frame.bytes.data()),
                     static_cast<std::size_t>(frame.length));
}

struct WireHarness : CommandHarness {
  WireHarness() {
    opened = peer.ok() && peer.RegisterAsPort(folders.PortsFolder(), kWirePort) &&
             logic.Port().OpenPort(&logic, kWirePort, 115200, 'N', 8, 1, 9, 512) == 1 &&
             logic.Port().StartMonitor() == 1;
    state.m_linkState = T(kLinkConnected);
    surface.UpdateData(false);
  }
  ~WireHarness() { logic.Port().ClosePort(); }

  // The next frame at the tracker, compared whole against what the encoder makes of `text`.
  void ExpectFrame(const devlink::StuffedFrame& expected) {
    const std::string want = Bytes(expected);
    EXPECT_EQ(peer.ReadExactly(want.size()), want);
  }
  // Proves that nothing went out before: a marker frame must be the very next thing read.
  void ExpectNothingSent() {
    logic.SendUartCommand("marker");
    ExpectFrame(devlink::EncodeUartCommand("marker"));
  }

  PtyPeer peer;
  bool opened = false;
};

struct WireCase {
  const char* description;
  std::function<void(DialogState&)> type;
  Press press;
  std::string command;  // empty: nothing may be sent
  bool freeText;        // through the free-text encoder instead
};

std::vector<WireCase> WireCases() {
  const std::string gbkNumber = G("中心号码一");
  const std::string escaped = "\xB0\x55\xB0\x5A";  // GBK trail bytes that need stuffing
  const std::string longValue(150, '8');
  const auto none = [](DialogState&) {};
  return {
      {"read version", none, &ConfigLogic::OnReadVersion, "ver,?", false},
      {"read address", none, &ConfigLogic::OnReadAddress, "ip_url,?,port,?,url,?", false},
      {"read imei", none, &ConfigLogic::OnReadImei, "imei,?", false},
      {"read numbers", none, &ConfigLogic::OnReadNumbers, "center_number,?,slave_number,?", false},
      {"read language", none, &ConfigLogic::OnReadLanguage, "language,?,zone,?", false},
      {"read sos", none, &ConfigLogic::OnReadSos, "sos1,?,sos2,?,sos3,?", false},
      {"read monitor", none, &ConfigLogic::OnReadMonitor, "monitor,?", false},
      {"read upload", none, &ConfigLogic::OnReadUpload, "upload,?", false},
      {"set address as IP",
       [](DialogState& c) {
         c.m_serverAddr = "10.0.0.1";
         c.m_serverPort = "8080";
         c.m_useDomain = false;
       },
       &ConfigLogic::OnSetAddress, "ip_url,10.0.0.1,port,8080,url,0", false},
      {"set address as domain",
       [](DialogState& c) {
         c.m_serverAddr = "t.example.cn";
         c.m_serverPort = "9000";
         c.m_useDomain = true;
       },
       &ConfigLogic::OnSetAddress, "ip_url,t.example.cn,port,9000,url,1", false},
      {"set address with , and # inside, untrimmed",
       [](DialogState& c) {
         c.m_serverAddr = " a,b#c ";
         c.m_serverPort = "1#";
       },
       &ConfigLogic::OnSetAddress, "ip_url, a,b#c ,port,1#,url,0", false},
      {"set address with the port empty",
       [](DialogState& c) {
         c.m_serverAddr = "a";
         c.m_serverPort = "";
       },
       &ConfigLogic::OnSetAddress, "", false},
      {"set imei", [](DialogState& c) { c.m_imei = "867530912345678"; }, &ConfigLogic::OnSetImei,
       "imei,867530912345678", false},
      {"set imei of 14 digits", [](DialogState& c) { c.m_imei = "86753091234567"; },
       &ConfigLogic::OnSetImei, "", false},
      {"set imei empty", [](DialogState& c) { c.m_imei = ""; }, &ConfigLogic::OnSetImei, "", false},
      {"set numbers in GBK",
       [gbkNumber](DialogState& c) {
         c.m_centerNumber = gbkNumber;
         c.m_slaveNumber = "139";
       },
       &ConfigLogic::OnSetNumbers, "center_number," + gbkNumber + ",slave_number,139", false},
      {"set numbers empty", [](DialogState& c) { c.m_centerNumber = c.m_slaveNumber = ""; },
       &ConfigLogic::OnSetNumbers, "center_number,,slave_number,", false},
      {"set language",
       [](DialogState& c) {
         c.m_language = "1";
         c.m_zone = "-8";
       },
       &ConfigLogic::OnSetLanguage, "language,1,zone,-8", false},
      {"set language empty", [](DialogState& c) { c.m_language = c.m_zone = ""; },
       &ConfigLogic::OnSetLanguage, "language,,zone,", false},
      {"set sos with bytes that need stuffing",
       [escaped](DialogState& c) {
         c.m_sos1 = escaped;
         c.m_sos2 = "U";
         c.m_sos3 = "Z";
       },
       &ConfigLogic::OnSetSos, "sos1," + escaped + ",sos2,U,sos3,Z", false},
      {"set sos empty", [](DialogState& c) { c.m_sos1 = c.m_sos2 = c.m_sos3 = ""; },
       &ConfigLogic::OnSetSos, "sos1,,sos2,,sos3,", false},
      {"set monitor", [](DialogState& c) { c.m_monitorNumber = "137"; }, &ConfigLogic::OnSetMonitor,
       "monitor,137", false},
      {"set monitor empty", [](DialogState& c) { c.m_monitorNumber = ""; },
       &ConfigLogic::OnSetMonitor, "monitor,", false},
      {"set upload too long for the frame (cut, no #)",
       [longValue](DialogState& c) { c.m_uploadInterval = longValue; }, &ConfigLogic::OnSetUpload,
       "upload," + longValue, false},
      {"set upload empty", [](DialogState& c) { c.m_uploadInterval = ""; },
       &ConfigLogic::OnSetUpload, "upload,", false},
      {"send POWEROFF without #", [](DialogState& c) { c.m_sendText = "POWEROFF"; },
       &ConfigLogic::OnSend, "POWEROFF", true},
      {"send GBK with , and #", [](DialogState& c) { c.m_sendText = G("关机,#") + "x"; },
       &ConfigLogic::OnSend, G("关机,#") + "x", true},
      {"send too long for the frame", [longValue](DialogState& c) { c.m_sendText = longValue; },
       &ConfigLogic::OnSend, longValue, true},
      {"send empty", [](DialogState& c) { c.m_sendText = ""; }, &ConfigLogic::OnSend, "", true},
      {"start test ticked", [](DialogState& c) { c.m_testEnabled = true; },
       &ConfigLogic::OnStartTest, "factory_test", false},
      {"start test unticked", [](DialogState& c) { c.m_testEnabled = false; },
       &ConfigLogic::OnStartTest, "", false},
      {"domain check sends nothing", [](DialogState& c) { c.m_useDomain = true; },
       &ConfigLogic::OnDomainCheck, "", false},
  };
}

TEST(CommandWire, EachButtonPutsExactlyItsFrameOnTheLine) {
  for (const WireCase& c : WireCases()) {
    SCOPED_TRACE(c.description);
    WireHarness h;
    ASSERT_TRUE(h.opened) << "pseudo-terminal as COM97";
    c.type(h.surface.Controls());
    (h.logic.*c.press)();
    if (c.command.empty()) {
      h.ExpectNothingSent();
    } else {
      h.ExpectFrame(c.freeText ? devlink::EncodeAtText(c.command)
                               : devlink::EncodeUartCommand(c.command));
    }
    EXPECT_EQ(h.peer.ReadUntilQuiet(std::chrono::milliseconds(100)), "") << "one frame per press";
  }
}

TEST(CommandWire, NothingReachesTheLineWhileNotConnected) {
  WireHarness h;
  ASSERT_TRUE(h.opened);
  for (const std::string& linkState : {std::string(), T(kLinkConnecting)}) {
    h.state.m_linkState = linkState;
    TypeEverything(h.surface.Controls());
    h.surface.Controls().m_linkState = linkState;
    for (const NamedHandler& handler : kGuardedHandlers) {
      SCOPED_TRACE(handler.name);
      (h.logic.*handler.press)();
      h.ExpectNothingSent();
    }
    h.surface.Controls().m_testEnabled = true;
    h.logic.OnStartTest();
    h.ExpectNothingSent();
  }
  EXPECT_EQ(h.surface.boxes.size(), 2 * kGuardedHandlers.size());
}

TEST(CommandWire, EveryTickWhileConnectedSendsTheTestOnce) {
  WireHarness h;
  ASSERT_TRUE(h.opened);
  for (int tick = 0; tick < 3; ++tick) {
    h.surface.Controls().m_testEnabled = true;
    h.logic.OnStartTest();
    h.ExpectFrame(devlink::EncodeUartCommand("factory_test"));
    h.surface.Controls().m_testEnabled = false;
    h.logic.OnStartTest();
  }
  h.ExpectNothingSent();
}

}  // namespace

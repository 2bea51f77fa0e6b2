// The operator's requests on a real pseudo-terminal registered as COM97: the connection guard,
// the checks before a set, what the controls show afterwards, and the exact frames that reach
// the tracker.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "device/config_logic.h"
#include "platform/gbk.h"
#include "tests/link/device_frames.h"
#include "tests/support/console_harness.h"
#include "tests/support/pty_peer.h"

namespace {

// The system's texts are spelled out: a changed text must fail here.
constexpr auto U = &gbk::FromUtf8;

using Press = void (ConfigLogic::*)();

std::string Uart(const std::string& command) {
  return linktest::WireBytes(devlink::EncodeUartCommand(command));
}
std::string At(const std::string& text) {
  return linktest::WireBytes(devlink::EncodeAtText(text));
}

constexpr int kWirePort = 97;

struct WireHarness : ConsoleHarness {
  WireHarness() {
    opened = peer.ok() && peer.RegisterAsPort(PortsFolder(), kWirePort) &&
             logic.Port().OpenPort(&logic, kWirePort, 115200, 'N', 8, 1, 9, 512) == 1 &&
             logic.Port().StartMonitor() == 1;
    state.m_linkState = T(kLinkConnected);
    surface.UpdateData(false);
    surface.refreshes = 0;
  }
  ~WireHarness() { logic.Port().ClosePort(); }

  // `frames` and nothing else went out: a marker sent now must come right after them.
  void ExpectSent(const std::string& frames) {
    logic.SendUartCommand("marker");
    const std::string want = frames + Uart("marker");
    EXPECT_EQ(peer.ReadExactly(want.size()), want);
  }

  PtyPeer peer;
  bool opened = false;
};

// Fills every control as an operator would before pressing.
void TypeEverything(DialogState& c) {
  c.m_serverAddr = "typed.addr";
  c.m_serverPort = "9000";
  c.m_imei = "123456789012345";
  c.m_centerNumber = c.m_slaveNumber = c.m_language = c.m_zone = "1";
  c.m_sos1 = c.m_sos2 = c.m_sos3 = c.m_monitorNumber = c.m_uploadInterval = "2";
  c.m_sendText = "POWEROFF";
}

TEST(CommandGuard, NoRequestWithoutATracker) {
  const Press guarded[] = {
      &ConfigLogic::OnReadVersion, &ConfigLogic::OnReadAddress,  &ConfigLogic::OnSetAddress,
      &ConfigLogic::OnReadImei,    &ConfigLogic::OnSetImei,      &ConfigLogic::OnReadNumbers,
      &ConfigLogic::OnSetNumbers,  &ConfigLogic::OnReadLanguage, &ConfigLogic::OnSetLanguage,
      &ConfigLogic::OnReadSos,     &ConfigLogic::OnSetSos,       &ConfigLogic::OnReadMonitor,
      &ConfigLogic::OnSetMonitor,  &ConfigLogic::OnReadUpload,   &ConfigLogic::OnSetUpload,
      &ConfigLogic::OnSend};
  WireHarness h;
  ASSERT_TRUE(h.opened);
  for (const std::string& linkState : {std::string(), T(kLinkConnecting)}) {
    h.state.m_linkState = linkState;
    TypeEverything(h.surface.Controls());
    h.surface.Controls().m_linkState = linkState;
    for (std::size_t i = 0; i < std::size(guarded); ++i) {
      SCOPED_TRACE("button " + std::to_string(i) + " with link state '" + linkState + "'");
      h.surface.boxes.clear();
      h.surface.saves = h.surface.refreshes = 0;
      (h.logic.*guarded[i])();
      ASSERT_EQ(h.surface.boxes.size(), 1u);
      EXPECT_EQ(h.surface.boxes[0].text, U("尚未连接到设备,请重新插拔USB!"));
      EXPECT_EQ(h.surface.boxes[0].icon, MessageIcon::kNone);
      EXPECT_EQ(h.surface.boxes[0].caption, T(kAppTitle));
      EXPECT_EQ(h.surface.saves + h.surface.refreshes, 0) << "typing survives";
      h.ExpectSent("");
    }
    // The check boxes stay silent without a tracker.
    h.surface.boxes.clear();
    h.surface.Controls().m_testEnabled = h.surface.Controls().m_useDomain = true;
    h.logic.OnStartTest();
    h.logic.OnDomainCheck();
    EXPECT_TRUE(h.surface.boxes.empty());
    EXPECT_EQ(h.surface.Controls().m_addrLabel, T(kAddrLabelUrl)) << "relabelled all the same";
    h.ExpectSent("");
  }
}

// One press while connected: what was typed, what goes out, what the operator sees.
struct PressCase {
  const char* description;
  std::function<void(DialogState&)> type;  // after TypeEverything
  Press press;
  std::string sent;  // bytes at the tracker
  int refreshes = 0;
  std::string box = {};  // GBK, empty: none
  // A control whose content matters afterwards, and what it shows (member alike).
  std::string DialogState::*shown = nullptr;
  std::string shownAfter = {};
  int saves = 1;
};

PressCase Read(const char* description, Press press, const char* command) {
  return {description, nullptr, press, Uart(command), 1, "", nullptr, "", 0};
}

std::vector<PressCase> PressCases() {
  const std::string gbkNumber = gbk::FromUtf8("中心号码一");
  const std::string gbkImei = gbk::FromUtf8("一二三四五六七") + "8";  // 15 bytes
  const std::string stuffed = "\xB0\x55\xB0\x5A";  // GBK trail bytes that need stuffing
  const std::string longValue(150, '8');
  const std::string gbkSend = gbk::FromUtf8("关机,#") + "x";
  const auto address = [](const char* addr, const char* port, bool domain) {
    return [=](DialogState& c) {
      c.m_serverAddr = addr;
      c.m_serverPort = port;
      c.m_useDomain = domain;
    };
  };
  const auto imei = [](std::string text) { return [=](DialogState& c) { c.m_imei = text; }; };
  const auto type = [](std::string DialogState::*control, std::string text) {
    return [=](DialogState& c) { c.*control = text; };
  };
  return {
      // A read sends its fixed text and shows the members: typing not taken over is dropped.
      Read("read version", &ConfigLogic::OnReadVersion, "ver,?"),
      Read("read address", &ConfigLogic::OnReadAddress, "ip_url,?,port,?,url,?"),
      Read("read imei", &ConfigLogic::OnReadImei, "imei,?"),
      Read("read numbers", &ConfigLogic::OnReadNumbers, "center_number,?,slave_number,?"),
      Read("read language", &ConfigLogic::OnReadLanguage, "language,?,zone,?"),
      Read("read sos", &ConfigLogic::OnReadSos, "sos1,?,sos2,?,sos3,?"),
      Read("read monitor", &ConfigLogic::OnReadMonitor, "monitor,?"),
      Read("read upload", &ConfigLogic::OnReadUpload, "upload,?"),

      {"set address as IP", address("10.0.0.1", "8080", false), &ConfigLogic::OnSetAddress,
       Uart("ip_url,10.0.0.1,port,8080,url,0")},
      {"set address as domain", address("t.example.cn", "9000", true), &ConfigLogic::OnSetAddress,
       Uart("ip_url,t.example.cn,port,9000,url,1")},
      {"set address with , and # inside, untrimmed", address(" a,b#c ", "1#", false),
       &ConfigLogic::OnSetAddress, Uart("ip_url, a,b#c ,port,1#,url,0")},
      {"set address empty", address("", "9000", false), &ConfigLogic::OnSetAddress, "", 0,
       U("IP或域名,端口为空!")},
      {"set address with the port empty", address("a", "", false), &ConfigLogic::OnSetAddress, "",
       0, U("IP或域名,端口为空!")},

      {"set imei", imei("867530912345678"), &ConfigLogic::OnSetImei, Uart("imei,867530912345678"),
       1, "", &DialogState::m_imei, "867530912345678"},
      {"set imei of 15 GBK bytes", imei(gbkImei), &ConfigLogic::OnSetImei, Uart("imei," + gbkImei),
       1},
      {"set imei empty keeps the box", imei(""), &ConfigLogic::OnSetImei, "", 0, U("imei为空!"),
       &DialogState::m_imei, ""},
      {"set imei of 14 digits empties the box", imei("86753091234567"), &ConfigLogic::OnSetImei, "",
       1, U("imei号长度错误!"), &DialogState::m_imei, ""},
      {"set imei of 16 digits empties the box", imei("8675309123456789"), &ConfigLogic::OnSetImei,
       "", 1, U("imei号长度错误!"), &DialogState::m_imei, ""},

      {"set numbers in GBK", type(&DialogState::m_centerNumber, gbkNumber),
       &ConfigLogic::OnSetNumbers, Uart("center_number," + gbkNumber + ",slave_number,1")},
      {"set numbers empty still sends",
       [](DialogState& c) { c.m_centerNumber = c.m_slaveNumber = ""; }, &ConfigLogic::OnSetNumbers,
       Uart("center_number,,slave_number,")},
      {"set language", type(&DialogState::m_zone, "-8"), &ConfigLogic::OnSetLanguage,
       Uart("language,1,zone,-8")},
      {"set sos with bytes that need stuffing", type(&DialogState::m_sos1, stuffed),
       &ConfigLogic::OnSetSos, Uart("sos1," + stuffed + ",sos2,2,sos3,2")},
      {"set monitor", type(&DialogState::m_monitorNumber, "137"), &ConfigLogic::OnSetMonitor,
       Uart("monitor,137")},
      {"set upload too long for the frame", type(&DialogState::m_uploadInterval, longValue),
       &ConfigLogic::OnSetUpload, Uart("upload," + longValue)},

      {"send keeps its text", nullptr, &ConfigLogic::OnSend, At("POWEROFF"), 1, "",
       &DialogState::m_sendText, "POWEROFF"},
      {"send GBK with , and #", type(&DialogState::m_sendText, gbkSend), &ConfigLogic::OnSend,
       At(gbkSend), 1},
      {"send empty", type(&DialogState::m_sendText, ""), &ConfigLogic::OnSend, "", 1,
       U("发送内容为空!")},

      {"ticking the test sends it", [](DialogState& c) { c.m_testEnabled = true; },
       &ConfigLogic::OnStartTest, Uart("factory_test")},
      {"unticking sends nothing", nullptr, &ConfigLogic::OnStartTest, ""},
      // Switching between IP and domain starts the address afresh (a tracker or not).
      {"domain ticked: relabelled", address("1.2.3.4", "9000", true), &ConfigLogic::OnDomainCheck,
       "", 1, "", &DialogState::m_addrLabel, T(kAddrLabelUrl)},
      {"domain ticked: the address emptied", address("1.2.3.4", "9000", true),
       &ConfigLogic::OnDomainCheck, "", 1, "", &DialogState::m_serverAddr, ""},
      {"domain ticked: the port kept", address("1.2.3.4", "9000", true),
       &ConfigLogic::OnDomainCheck, "", 1, "", &DialogState::m_serverPort, "9000"},
      {"domain unticked: relabelled", address("t.example.cn", "9000", false),
       &ConfigLogic::OnDomainCheck, "", 1, "", &DialogState::m_addrLabel, T(kAddrLabelIp)},
  };
}

TEST(CommandPress, FramesChecksAndWhatTheControlsShow) {
  for (const PressCase& c : PressCases()) {
    SCOPED_TRACE(c.description);
    WireHarness h;
    ASSERT_TRUE(h.opened) << "pseudo-terminal as COM97";
    DialogState& controls = h.surface.Controls();
    TypeEverything(controls);
    if (c.type) c.type(controls);
    const std::string typedImei = controls.m_imei;
    std::string imeiWhileShown;
    h.surface.onBox = [&](const ShownBox&) { imeiWhileShown = controls.m_imei; };

    (h.logic.*c.press)();

    h.ExpectSent(c.sent);
    EXPECT_EQ(h.surface.saves, c.saves);
    EXPECT_EQ(h.surface.refreshes, c.refreshes);
    if (c.box.empty()) {
      EXPECT_TRUE(h.surface.boxes.empty());
    } else {
      ASSERT_EQ(h.surface.BoxTexts(), std::vector<std::string>{c.box});
      EXPECT_EQ(h.surface.boxes[0].icon, MessageIcon::kNone);
      EXPECT_EQ(h.surface.boxes[0].caption, T(kAppTitle));
      EXPECT_EQ(imeiWhileShown, typedImei) << "the box shows before anything is emptied";
    }
    if (c.shown != nullptr) {
      EXPECT_EQ(controls.*c.shown, c.shownAfter);
      EXPECT_EQ(h.state.*c.shown, c.shownAfter);
    }
  }
}

}  // namespace

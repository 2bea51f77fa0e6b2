// The operator's requests to the tracker: read and set buttons, free text, the two check
// boxes. Each request queues one frame and returns; the answer comes back through ParseReply.

#include <cstddef>
#include <functional>
#include <string>

#include "device/config_logic.h"
#include "device/set_commands.h"

namespace {

void ShowMessage(DialogSurface& surface, const std::string& text) {
  surface.MessageBox(text, MessageIcon::kNone, T(kAppTitle));
}

// A read button: its fixed text goes out, then the window shows the members as they stand
// (anything typed but not yet taken over is replaced).
void SendRead(ConfigLogic& logic, DialogSurface& surface, const char* command) {
  if (!logic.IsConnected()) return;
  logic.SendUartCommand(command);
  surface.UpdateData(false);
}

// A set button without checks: the controls' values go out as typed, empty ones included.
void SendSet(ConfigLogic& logic, DialogSurface& surface,
             const std::function<std::string()>& compose) {
  if (!logic.IsConnected()) return;
  surface.UpdateData(true);
  logic.SendUartCommand(compose().c_str());
}

}  // namespace

bool ConfigLogic::IsConnected() {
  if (m.m_linkState == T(kLinkConnected)) return true;
  // An open port whose device has not answered may be anything: nothing is sent to it.
  ShowMessage(m_surface,
              m.m_linkState == T(kWaitingForDevice) ? T(kWaitingForDevice) : T(kMsgNotConnected));
  return false;
}

void ConfigLogic::OnReadVersion() {
  SendRead(*this, m_surface, "ver,?");
}
void ConfigLogic::OnReadAddress() {
  SendRead(*this, m_surface, "ip_url,?,port,?,url,?");
}
void ConfigLogic::OnReadImei() {
  SendRead(*this, m_surface, "imei,?");
}
void ConfigLogic::OnReadNumbers() {
  SendRead(*this, m_surface, "center_number,?,slave_number,?");
}
void ConfigLogic::OnReadLanguage() {
  SendRead(*this, m_surface, "language,?,zone,?");
}
void ConfigLogic::OnReadSos() {
  SendRead(*this, m_surface, "sos1,?,sos2,?,sos3,?");
}
void ConfigLogic::OnReadMonitor() {
  SendRead(*this, m_surface, "monitor,?");
}
void ConfigLogic::OnReadUpload() {
  SendRead(*this, m_surface, "upload,?");
}

void ConfigLogic::OnSetAddress() {
  if (!IsConnected()) return;
  m_surface.UpdateData(true);
  if (const auto refused = setcmd::CheckAddress(m.m_serverAddr, m.m_serverPort)) {
    ShowMessage(m_surface, texts::Gbk(*refused));
    return;
  }
  SendUartCommand(setcmd::Address(m.m_serverAddr, m.m_serverPort, m.m_useDomain).c_str());
}

void ConfigLogic::OnSetImei() {
  if (!IsConnected()) return;
  m_surface.UpdateData(true);
  const auto refused = setcmd::CheckImei(m.m_imei);
  if (refused) ShowMessage(m_surface, texts::Gbk(*refused));
  if (refused == texts::Id::kMsgImeiEmpty) return;
  if (refused) {
    m.m_imei.clear();
    m_surface.UpdateData(false);
    return;
  }
  SendUartCommand(("imei," + m.m_imei).c_str());
  m_surface.UpdateData(false);
}

void ConfigLogic::OnSetNumbers() {
  SendSet(*this, m_surface, [this] { return setcmd::Numbers(m.m_centerNumber, m.m_slaveNumber); });
}

void ConfigLogic::OnSetLanguage() {
  SendSet(*this, m_surface, [this] { return setcmd::Language(m.m_language, m.m_zone); });
}

void ConfigLogic::OnSetSos() {
  SendSet(*this, m_surface, [this] { return setcmd::Sos(m.m_sos1, m.m_sos2, m.m_sos3); });
}

void ConfigLogic::OnSetMonitor() {
  SendSet(*this, m_surface, [this] { return setcmd::Monitor(m.m_monitorNumber); });
}

void ConfigLogic::OnSetUpload() {
  SendSet(*this, m_surface, [this] { return setcmd::Upload(m.m_uploadInterval); });
}

void ConfigLogic::OnSend() {
  if (!IsConnected()) return;
  m_surface.UpdateData(true);
  const std::string text = m.m_sendText;
  m_surface.UpdateData(false);
  if (text.empty()) {
    ShowMessage(m_surface, T(kMsgSendEmpty));
    return;
  }
  SendAtText(text.c_str());
}

// Switching between IP and domain starts the address afresh; no device needed.
void ConfigLogic::OnDomainCheck() {
  m_surface.UpdateData(true);
  m.m_addrLabel = m.m_useDomain ? T(kAddrLabelUrl) : T(kAddrLabelIp);
  m.m_serverAddr.clear();
  m_surface.UpdateData(false);
}

// Ticking arms the test; it runs now only when a tracker is there, otherwise the connection
// scan starts it. Silent either way. Unticking stops a running test's time-out.
void ConfigLogic::OnStartTest() {
  m_surface.UpdateData(true);
  if (!m.m_testEnabled) m_surface.KillTestTimer();
  if (m.m_testEnabled && m.m_linkState == T(kLinkConnected)) StartFactoryTest();
}

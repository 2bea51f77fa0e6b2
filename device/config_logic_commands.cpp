#include "device/config_logic.h"

// Placeholder until the command requests land.
bool ConfigLogic::IsConnected() { return m.m_linkState == T(kLinkConnected); }
void ConfigLogic::OnReadVersion() {}
void ConfigLogic::OnReadAddress() {}
void ConfigLogic::OnSetAddress() {}
void ConfigLogic::OnReadImei() {}
void ConfigLogic::OnSetImei() {}
void ConfigLogic::OnReadNumbers() {}
void ConfigLogic::OnSetNumbers() {}
void ConfigLogic::OnReadLanguage() {}
void ConfigLogic::OnSetLanguage() {}
void ConfigLogic::OnReadSos() {}
void ConfigLogic::OnSetSos() {}
void ConfigLogic::OnReadMonitor() {}
void ConfigLogic::OnSetMonitor() {}
void ConfigLogic::OnReadUpload() {}
void ConfigLogic::OnSetUpload() {}
void ConfigLogic::OnSend() {}
void ConfigLogic::OnDomainCheck() {}
void ConfigLogic::OnStartTest() {}

#include "serial/comm_port.h"

#include <utility>

// Placeholder until the engine lands.
struct CCommPort::Delivery {};
CCommPort::CCommPort(UiDispatcher& ui) : m_ui(ui) {}
CCommPort::~CCommPort() = default;
int CCommPort::OpenPort(PortOwner*, int, unsigned, char, int, int, std::uint32_t, unsigned) { return 0; }
int CCommPort::StartMonitor() { return 0; }
int CCommPort::QueueWrite(const char*, int) { return 0; }
void CCommPort::ClosePort() {}
void CCommPort::SetDeviceFolders(std::string devFolder, std::string portsFolder) {
  m_devFolder = std::move(devFolder);
  m_portsFolder = std::move(portsFolder);
}

void PumpedDelay(UiDispatcher& ui, unsigned milliseconds) {
  ui.RunFor(std::chrono::milliseconds(milliseconds));
}

#include "platform/serial_io.h"

#include <cstring>

namespace serial {
// Placeholder until the serial layer lands.
std::string ErrnoText(int errorCode) { return std::strerror(errorCode); }
std::optional<std::string> DevicePathForPort(int, const std::string&, const std::string&) { return std::nullopt; }
int OpenSerialDevice(const std::string&, const LineSettings&, PortError* error) {
  if (error) error->status = PortStatus::kNoDevice;
  return -1;
}
void CloseSerialDevice(int) {}
int BytesWaiting(int) { return 0; }
WakeSignal::WakeSignal() : fd_(-1) {}
WakeSignal::~WakeSignal() = default;
void WakeSignal::Set() {}
void WakeSignal::Reset() {}
bool WakeSignal::IsSet() const { return false; }
std::string PortsFolder() { return "/tmp/tracker-console/ports"; }
}  // namespace serial

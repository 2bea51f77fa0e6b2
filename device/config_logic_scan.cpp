#include "device/config_logic.h"

// Placeholder until discovery lands.
int ConfigLogic::EnumSerialPorts(std::vector<std::string>*, std::vector<std::string>*,
                                 std::vector<ports::PortEntry>*) { return 0; }
bool ConfigLogic::ScanAndConnect() { return false; }
bool ConfigLogic::RegisterDeviceInterfaces() { return true; }
bool ConfigLogic::OnDeviceChange(std::uint32_t, std::uint32_t) { return true; }
int ConfigLogic::DeviceNoticeFd() const { return -1; }
void ConfigLogic::OnDeviceNoticesReadable() {}
std::string ConfigLogic::SystemErrorText(std::uint32_t) { return {}; }
void ConfigLogic::CloseStep() { m_port.ClosePort(); }
bool ConfigLogic::FinalOpen(int, const std::vector<std::string>&) { return false; }
bool ConfigLogic::ProbeEntry(int, const std::vector<std::string>&) { return false; }
void ConfigLogic::ExplainPortFailure(const ports::PortEntry*, const serial::PortError&) {}

#include "device/set_commands.h"

namespace setcmd {

std::optional<texts::Id> CheckAddress(const std::string& address, const std::string& port) {
  if (address.empty() || port.empty()) return texts::Id::kMsgAddrEmpty;
  return std::nullopt;
}

std::optional<texts::Id> CheckImei(const std::string& imei) {
  if (imei.empty()) return texts::Id::kMsgImeiEmpty;
  // Only the byte count is checked: the device takes any 15 characters.
  if (imei.size() != kImeiLength) return texts::Id::kMsgImeiLength;
  return std::nullopt;
}

std::string Address(const std::string& address, const std::string& port, bool domain) {
  return "ip_url," + address + ",port," + port + ",url," + (domain ? "1" : "0");
}
std::string Numbers(const std::string& center, const std::string& slave) {
  return "center_number," + center + ",slave_number," + slave;
}
std::string Language(const std::string& language, const std::string& zone) {
  return "language," + language + ",zone," + zone;
}
std::string Sos(const std::string& sos1, const std::string& sos2, const std::string& sos3) {
  return "sos1," + sos1 + ",sos2," + sos2 + ",sos3," + sos3;
}
std::string Monitor(const std::string& number) {
  return "monitor," + number;
}
std::string Upload(const std::string& interval) {
  return "upload," + interval;
}

}  // namespace setcmd

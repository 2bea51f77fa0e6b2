#pragma once
// The parameter groups' set requests and the checks the console makes before sending one.
// The dialog's set buttons and the production profiles share them, so a profile is refused
// exactly where the dialog would refuse the same values. Values are GBK bytes.

#include <optional>
#include <string>

#include "device/texts.h"

namespace setcmd {

inline constexpr std::size_t kImeiLength = 15;

// The message the dialog shows for a refused value, or nullopt when it may be sent.
std::optional<texts::Id> CheckAddress(const std::string& address, const std::string& port);
std::optional<texts::Id> CheckImei(const std::string& imei);

std::string Address(const std::string& address, const std::string& port, bool domain);
std::string Numbers(const std::string& center, const std::string& slave);
std::string Language(const std::string& language, const std::string& zone);
std::string Sos(const std::string& sos1, const std::string& sos2, const std::string& sos3);
std::string Monitor(const std::string& number);
std::string Upload(const std::string& interval);

}  // namespace setcmd

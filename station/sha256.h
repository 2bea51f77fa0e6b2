#pragma once
// SHA-256 (FIPS 180-4) of a byte string, as 64 lower-case hex digits. Identifies a profile's
// exact content in each record.

#include <string>
#include <string_view>

namespace station {

// Empty when libcrypto cannot compute it.
std::string Sha256Hex(std::string_view bytes);

}  // namespace station

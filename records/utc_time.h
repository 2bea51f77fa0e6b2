#pragma once
// The time stamps of records and of the jig's lines: UTC, ISO 8601, milliseconds.

#include <string>

namespace records {

// Now, as "2026-12-06T23:41:07.123Z".
std::string UtcNowIso();

}  // namespace records

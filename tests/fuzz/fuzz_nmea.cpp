// Arbitrary payloads into the NMEA parser, with the tables kept from run to run as they are
// for the whole life of the console. The panel must stay sane whatever arrives.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "gps/nmea_parser.h"

namespace {

const gps::NmeaTexts kTexts{"no fix", "non-differential", "differential", "invalid", "fixed"};

gps::NmeaTables g_tables;
gps::GpsPanelMembers g_panel = [] {
  gps::GpsPanelMembers panel;
  panel.m_fixType = kTexts.noFix;
  panel.m_fixState = kTexts.noFix;
  return panel;
}();

[[noreturn]] void Fail(const char* what, const std::string& value) {
  std::fprintf(stderr, "invariant broken: %s [%s]\n", what, value.c_str());
  std::abort();
}

void ExpectAtMost(const char* what, const std::string& value, std::size_t limit) {
  if (value.size() > limit) Fail(what, value);
}

bool IsByteInDecimal(const std::string& text) {
  if (text.empty() || text.size() > 3) return false;
  if (text.size() > 1 && text[0] == '0') return false;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return std::stoi(text) <= 255;
}

void CheckPanel(const gps::NmeaOutcome& outcome) {
  ExpectAtMost("time", g_panel.m_gpsTime, 8);
  // Whole degrees are bounded by an int: at most sign, 10 digits, point and 6 decimals.
  ExpectAtMost("latitude", g_panel.m_latitude, 18);
  ExpectAtMost("longitude", g_panel.m_longitude, 18);
  ExpectAtMost("satellites", g_panel.m_satsUsed, 99);
  ExpectAtMost("altitude", g_panel.m_altitude, 99);
  const std::string& type = g_panel.m_fixType;
  if (type != kTexts.noFix && type != kTexts.nonDifferential && type != kTexts.differential &&
      type != kTexts.invalid) {
    Fail("fix type", type);
  }
  if (g_panel.m_fixState != kTexts.noFix && g_panel.m_fixState != kTexts.fixed) {
    Fail("fix state", g_panel.m_fixState);
  }
  for (const std::string& snr : g_panel.m_snr) {
    if (!IsByteInDecimal(snr)) Fail("snr", snr);
  }
  if (g_tables.g_gpsUpdateToggle != 0 && g_tables.g_gpsUpdateToggle != 1) {
    Fail("toggle", std::to_string(g_tables.g_gpsUpdateToggle));
  }
  if (outcome.setIndicator && outcome.indicatorOn != (g_tables.g_gpsUpdateToggle == 1)) {
    Fail("indicator", std::to_string(g_tables.g_gpsUpdateToggle));
  }
}

// The first byte may pick a sentence type, so the fuzzer reaches the three parsers quickly;
// the rest is fed line by line, each line a NUL-terminated payload as the decoder passes it.
constexpr std::string_view kPrefixes[] = {"", "$GPGGA,", "$GPGSA,", "$GPGSV,"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view prefix = kPrefixes[data[0] % 4];
  const std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
  std::size_t start = 0;
  while (start <= input.size()) {
    const std::size_t end = std::min(input.find('\n', start), input.size());
    const std::string payload = std::string(prefix) + input.substr(start, end - start);
    CheckPanel(gps::ParseNmea(payload.c_str(), kTexts, g_tables, g_panel));
    start = end + 1;
  }
  return 0;
}

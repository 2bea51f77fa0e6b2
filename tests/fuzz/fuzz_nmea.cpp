// Arbitrary payloads into the NMEA parser, with the tables kept from run to run as they are
// for the whole life of the console. The panel must stay sane whatever arrives.

#include <algorithm>
#include <charconv>
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

// 0..255 written plainly: no sign, no leading zero.
bool IsByteInDecimal(const std::string& text) {
  int value = -1;
  (void)std::from_chars(text.data(), text.data() + text.size(), value);
  return value >= 0 && value <= 255 && std::to_string(value) == text;
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
  const bool fixedType = type == kTexts.nonDifferential || type == kTexts.differential;
  if ((g_panel.m_fixState == kTexts.fixed) != fixedType) Fail("fix state against type", type);
  for (const std::string& snr : g_panel.m_snr) {
    if (!IsByteInDecimal(snr)) Fail("snr", snr);
  }
  if (g_panel.m_satellites.size() > 6 * 16 * 20 * 4) {
    Fail("satellites in view", std::to_string(g_panel.m_satellites.size()));
  }
  for (const std::string* dop : {&g_panel.m_hdop, &g_panel.m_vdop, &g_panel.m_pdop}) {
    ExpectAtMost("dop", *dop, 5);
  }
  if (g_tables.g_gpsUpdateToggle != 0 && g_tables.g_gpsUpdateToggle != 1) {
    Fail("toggle", std::to_string(g_tables.g_gpsUpdateToggle));
  }
  if (outcome.setIndicator && outcome.indicatorOn != (g_tables.g_gpsUpdateToggle == 1)) {
    Fail("indicator", std::to_string(g_tables.g_gpsUpdateToggle));
  }
}

// The first byte may pick a sentence type (low bits) and ask for a valid checksum (bit 3),
// so the fuzzer reaches every handler quickly; the rest is fed line by line, each line a
// NUL-terminated payload as the decoder passes it.
constexpr std::string_view kPrefixes[] = {"",        "$GPGGA,", "$GPGSA,", "$GPGSV,",
                                          "$GNGNS,", "$GNRMC,", "$GLGSV,", "$GBGSV,"};

std::string Payload(std::string_view prefix, std::string_view line, bool checksum) {
  std::string payload = std::string(prefix) + std::string(line);
  if (!checksum || payload.empty() || payload.front() != '$') return payload;
  unsigned sum = 0;
  for (const char c : std::string_view(payload).substr(1)) sum ^= static_cast<unsigned char>(c);
  char star[4];
  std::snprintf(star, sizeof star, "*%02X", sum & 0xFFU);
  return payload + star;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view prefix = kPrefixes[data[0] % 8];
  const bool checksum = (data[0] & 8) != 0;
  const std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
  std::size_t start = 0;
  while (start <= input.size()) {
    const std::size_t end = std::min(input.find('\n', start), input.size());
    const std::string payload =
        Payload(prefix, std::string_view(input).substr(start, end - start), checksum);
    CheckPanel(gps::ParseNmea(payload.c_str(), kTexts, g_tables, g_panel));
    start = end + 1;
  }
  return 0;
}

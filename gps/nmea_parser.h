#pragma once
// NMEA 0183 to the GPS panel: $GPGGA (position, time, altitude, satellites in use, fix type),
// $GPGSA (fix state, satellites used) and $GPGSV (signal strength of used satellites 1-32).
// Every other sentence and talker is ignored. UI thread only.

#include <array>
#include <cstdint>
#include <string>

namespace gps {

// The panel's texts, as the dialog shows them (GBK; all but the fix texts are ASCII).
struct GpsPanelMembers {
  std::string m_gpsTime = "0";
  std::string m_latitude = "0";
  std::string m_longitude = "0";
  std::string m_satsUsed = "0";
  std::string m_altitude = "0";
  std::string m_fixType;   // set to "未定位" (GBK) by the dialog state's constructor
  std::string m_fixState;  // likewise
  std::array<std::string, 32> m_snr{"0", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0",
                                    "0", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0",
                                    "0", "0", "0", "0", "0", "0", "0", "0", "0", "0"};
};

// The fix texts the parser writes, in the caller's encoding (the dialog passes GBK). Kept
// out of this layer so it needs nothing beyond the standard library.
struct NmeaTexts {
  std::string noFix;            // "未定位"
  std::string nonDifferential;  // "非差分定位"
  std::string differential;     // "差分定位"
  std::string invalid;          // "无效"
  std::string fixed;            // "定位"
};

// The tables that live for the whole run (zero at start).
struct NmeaTables {
  std::uint8_t g_usedSatCount = 0;
  std::array<std::uint8_t, 12> g_usedPrns{};
  std::array<std::uint8_t, 32> g_snrTable{};
  std::int32_t g_gpsUpdateToggle = 0;

  // True when the low byte of `prn` is one of the satellites the last $GPGSA recorded.
  [[nodiscard]] bool IsUsedPrn(std::int32_t prn) const;
};

// What the caller must do on the screen after one sentence.
struct NmeaOutcome {
  bool refresh = false;       // UpdateData(FALSE)
  bool setIndicator = false;  // set control 1098's check state ...
  bool indicatorOn = false;   // ... to this
};

// Parses one sentence (NUL-terminated, starting with '$', no line end) into the tables and
// the panel members. A null sentence changes nothing.
NmeaOutcome ParseNmea(const char* sentence, const NmeaTexts& texts, NmeaTables& tables,
                      GpsPanelMembers& panel);

}  // namespace gps

#pragma once
// NMEA 0183 to the GPS panel. GGA, GNS, GSA, GSV and RMC from any GNSS talker (GP, GN, GL,
// GA, GB, BD, GQ): position, time, altitude, satellites, fix state and type, DOPs, date,
// speed and course, every satellite in view, the signal strength of GPS satellites 1-32,
// an indicator that changes state with every position, and the time to first fix.
// A sentence whose checksum, hemisphere or numbers are wrong changes nothing. UI thread only.

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "gps/first_fix.h"
#include "gps/satellites.h"

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
  std::string m_hdop;
  std::string m_vdop;
  std::string m_pdop;
  std::string m_gpsDate;  // yyyy-mm-dd
  std::string m_speed;    // km/h, one decimal
  std::string m_course;   // degrees, one decimal
  std::string m_ttff;     // seconds to the last first fix, one decimal; empty before it
  std::vector<SatelliteInView> m_satellites;  // every satellite in view, by system and number
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

enum class FixQuality : std::uint8_t { kNone, kAutonomous, kDifferential, kInvalid };

// One talker's satellite-view group (per NMEA 4.10 signal, where the receiver gives one):
// the last complete group, and the one being received.
struct SatelliteGroup {
  std::vector<SatelliteInView> complete;
  std::vector<SatelliteInView> receiving;
  int total = 0;        // messages in the group being received
  int nextMessage = 0;  // 0: none being received
};

// The tables that live for the whole run (zero at start).
struct NmeaTables {
  // The 32 GPS signal cells, fed by GP and GN sentences as they always were.
  std::uint8_t g_usedSatCount = 0;
  std::array<std::uint8_t, 12> g_usedPrns{};
  std::array<std::uint8_t, 32> g_snrTable{};
  std::int32_t g_gpsUpdateToggle = 0;

  // Every constellation.
  std::map<int, SatelliteGroup> groups;  // by talker and signal
  std::vector<SatelliteSignal> used;     // the satellites of the last run of GSA sentences
  std::vector<SatelliteInView> inView;   // the groups and `used` merged, as the panel shows them
  bool inViewStale = false;              // a group or `used` changed since `inView` was built
  bool lastWasGsa = false;
  FixQuality fix = FixQuality::kNone;
  bool positionSeen = false;  // the receiver sends GGA or GNS: they decide the fix
  std::string lastGgaTime;
  FirstFixClock firstFix;
  bool recordingFirstFix = false;  // the fix epoch's satellites are still arriving ...
  std::string firstFixTime;        // ... until a sentence of another time of day

  // True when the low byte of `prn` is one of the satellites the last GPS GSA recorded.
  [[nodiscard]] bool IsUsedPrn(std::int32_t prn) const;
};

// What the caller must do on the screen after one payload.
struct NmeaOutcome {
  bool refresh = false;       // UpdateData(FALSE)
  bool setIndicator = false;  // set control 1098's check state ...
  bool indicatorOn = false;   // ... to this
};

// A new receiver (a connection): forget what the last one said about its satellites and
// whether it sends position sentences. The panel's texts and the 32 GPS cells stay.
void ForgetReceiver(NmeaTables& tables, GpsPanelMembers& panel);

// Parses one payload (NUL-terminated; one sentence or several separated by line ends or
// '$') into the tables and the panel members. A null payload changes nothing.
NmeaOutcome ParseNmea(const char* payload, const NmeaTexts& texts, NmeaTables& tables,
                      GpsPanelMembers& panel);

}  // namespace gps

#pragma once
// Satellites as receivers of every constellation report them: which system a satellite
// belongs to (from the talker and its number), and one satellite in view.

#include <cstdint>
#include <string_view>

namespace gps {

enum class Constellation : std::uint8_t { kGps, kSbas, kGlonass, kGalileo, kBeidou, kQzss };

// Who sent a sentence: the two letters after '$'.
enum class Talker : std::uint8_t { kGps, kMulti, kGlonass, kGalileo, kBeidou, kQzss };
inline constexpr int kTalkerCount = 6;

// GP, GN, GL, GA, GB, BD, GQ; nothing for any other pair.
bool TalkerOf(std::string_view letters, Talker* talker);

// The constellation of satellite `number` as `talker` numbers it (NMEA ranges for GP and GN:
// 1-32 GPS, 33-64 and 120-158 SBAS, 65-96 GLONASS, 193-202 QZSS; the others name their own
// system). False for a number no receiver uses.
bool ConstellationOf(Talker talker, int number, Constellation* constellation);

// The system id of NMEA 4.10 (field after the DOPs of GSA, last field of GSV): 1 GPS,
// 2 GLONASS, 3 Galileo, 4 BeiDou, 5 QZSS.
bool ConstellationOfSystemId(int systemId, Constellation* constellation);

// A short ASCII name ("GPS", "GLONASS", "Galileo", "BeiDou", "QZSS", "SBAS").
const char* ConstellationName(Constellation constellation);

struct SatelliteInView {
  Constellation constellation = Constellation::kGps;
  int number = 0;      // as the receiver numbers it
  int elevation = -1;  // degrees 0..90; -1 not known
  int azimuth = -1;    // degrees 0..359; -1 not known
  int snr = -1;        // dB-Hz 0..99; -1 not tracked
  bool used = false;   // in the receiver's last solution

  friend bool operator==(const SatelliteInView&, const SatelliteInView&) = default;
};

// A satellite used in a fix and its signal (0 when the receiver gave none).
struct SatelliteSignal {
  Constellation constellation = Constellation::kGps;
  int number = 0;
  int snrDbHz = 0;

  friend bool operator==(const SatelliteSignal&, const SatelliteSignal&) = default;
};

}  // namespace gps

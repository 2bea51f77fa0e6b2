#pragma once
// What the tracker's GPS receiver says once a second: a built-in drive (a loop around a
// city, a changing sky, spells without a fix) or a receiver log replayed. No I/O, no clock.

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

// "$" + body + "*" + two upper-case hex digits of the XOR of the body.
std::string WithNmeaChecksum(std::string_view body);
// True when the sentence is "$...*XX" and XX is the XOR of the characters between.
bool HasValidNmeaChecksum(std::string_view sentence);

struct UtcTimeOfDay {
  int hour = 0;
  int minute = 0;
  int second = 0;
};

struct Satellite {
  int prn = 0;           // 1..32 (GPS), 65..88 (GLONASS)
  double elevation = 0;  // degrees above the horizon
  double azimuth = 0;    // degrees from north
  int snr = 0;           // dB-Hz; 0 when not tracked
};

// Satellite counts as a second of sentences tells them (GGA's used count, the in-view counts
// of every talker's GSV group),
// for the status report while a log is replayed. Missing sentences count 0.
struct SkyCounts {
  int inView = 0;
  int used = 0;
};
SkyCounts CountSatellites(const std::vector<std::string>& sentences);

class NmeaDrive {
 public:
  // With `glonass`, a GPS + GLONASS receiver.
  explicit NmeaDrive(std::uint32_t seed, bool glonass = false);

  // One second of receiver output: $GPGGA, $GPGSA, then the $GPGSV group; with GLONASS
  // $GNGGA, a $GNGSA for each system, then the $GPGSV and $GLGSV groups.
  std::vector<std::string> Tick(UtcTimeOfDay time);
  // A receiver that tracks satellites but never gets a fix.
  void SetNeverFix(bool never) { neverFix_ = never; }

 private:
  void AdvanceFixState();
  void AdvancePosition();
  void AdvanceSky();
  void ReplaceSettingSatellite();
  void AddRisingSatellite(double elevation);
  void ChooseUsedSatellites();
  void SetSignals(std::vector<Satellite>& sky);
  std::string Gga(UtcTimeOfDay time) const;
  std::string Gsa(const char* talker, const std::vector<int>& used) const;
  static std::vector<std::string> GsvGroup(const char* talker, const std::vector<Satellite>& sky);
  int Uniform(int low, int high);

  std::mt19937 random_;
  bool hasFix_ = false;
  bool neverFix_ = false;
  int spellLeft_ = 3;  // seconds left of the current fix or no-fix spell (cold start first)
  bool differential_ = false;
  double loopAngle_ = 0;  // radians around the loop
  double speed_ = 11;     // metres per second
  long seconds_ = 0;
  std::vector<Satellite> sky_;
  std::vector<int> used_;  // PRNs used in the fix, strongest first
  bool glonass_ = false;
  std::vector<Satellite> glonassSky_;
  std::vector<int> glonassUsed_;
  int nextSkyChange_ = 20;
};

// A receiver log replayed: its '$' lines, one group per second, each group starting at a
// GGA sentence (of any talker), looping at the end.
class NmeaReplay {
 public:
  // nullopt with *problem set when the text holds no sentence.
  static std::optional<NmeaReplay> FromText(std::string_view text, std::string* problem);
  std::vector<std::string> Next();
  [[nodiscard]] std::size_t groupCount() const { return groups_.size(); }

 private:
  std::vector<std::vector<std::string>> groups_;
  std::size_t next_ = 0;
};

}  // namespace sim

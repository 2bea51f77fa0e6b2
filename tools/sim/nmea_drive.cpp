#include "tools/sim/nmea_drive.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <utility>

namespace sim {
namespace {

// The loop: an ellipse around a city centre, driven anticlockwise.
constexpr double kCentreLatitude = 31.23;
constexpr double kCentreLongitude = 121.4733;
constexpr double kEastRadius = 1500;  // metres
constexpr double kNorthRadius = 900;
constexpr double kMetresPerDegree = 111320;

constexpr int kMinInView = 8;
constexpr int kMaxInView = 14;
constexpr int kMinUsed = 4;
constexpr int kMaxUsed = 12;
constexpr int kMinSnr = 15;
constexpr int kMaxSnr = 48;
constexpr int kGoodSnr = 30;  // satellites this strong are used when there are enough
constexpr int kGlonassInView = 7;

std::uint8_t NmeaXor(std::string_view body) {
  std::uint8_t x = 0;
  for (char c : body) x ^= static_cast<std::uint8_t>(c);
  return x;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

[[gnu::format(printf, 1, 2)]] std::string Format(const char* format, ...) {
  char buffer[96];
  va_list args;
  va_start(args, format);
  // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized): va_start above initialises it.
  const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  return std::string(buffer, n < 0 ? 0 : std::min<std::size_t>(n, sizeof buffer - 1));
}

// ddmm.mmmm (latitude, 2 degree digits) or dddmm.mmmm (longitude, 3).
std::string DegreesMinutes(double degrees, int degreeDigits) {
  const long long tenThousandthsOfMinute = std::llround(degrees * 60 * 10000);
  const long long wholeDegrees = tenThousandthsOfMinute / 600000;
  const long long rest = tenThousandthsOfMinute % 600000;
  return Format("%0*lld%02lld.%04lld", degreeDigits, wholeDegrees, rest / 10000, rest % 10000);
}

std::string TimeField(UtcTimeOfDay time) {
  return Format("%02d%02d%02d.00", time.hour, time.minute, time.second);
}

}  // namespace

std::string WithNmeaChecksum(std::string_view body) {
  return "$" + std::string(body) + Format("*%02X", NmeaXor(body));
}

bool HasValidNmeaChecksum(std::string_view sentence) {
  if (sentence.size() < 4 || sentence.front() != '$') return false;
  const std::size_t star = sentence.size() - 3;
  if (sentence[star] != '*') return false;
  const int high = HexDigit(sentence[star + 1]);
  const int low = HexDigit(sentence[star + 2]);
  if (high < 0 || low < 0) return false;
  return NmeaXor(sentence.substr(1, star - 1)) == high * 16 + low;
}

namespace {

// Field `index` of a sentence as a number (0 when missing or not a number).
int NumberField(const std::string& sentence, int index) {
  std::size_t begin = 0;
  for (int i = 0; i < index; ++i) {
    begin = sentence.find(',', begin);
    if (begin == std::string::npos) return 0;
    ++begin;
  }
  return std::atoi(sentence.c_str() + begin);
}

}  // namespace

SkyCounts CountSatellites(const std::vector<std::string>& sentences) {
  SkyCounts counts;
  for (const std::string& s : sentences) {
    if (s.size() < 6) continue;
    if (s.compare(3, 3, "GGA") == 0) counts.used = NumberField(s, 7);
    // One group per constellation (GPGSV, GLGSV, GBGSV, ...): their counts add up.
    if (s.compare(3, 3, "GSV") == 0 && NumberField(s, 2) == 1) counts.inView += NumberField(s, 3);
  }
  return counts;
}

NmeaDrive::NmeaDrive(std::uint32_t seed, bool glonass) : random_(seed), glonass_(glonass) {
  const int count = Uniform(9, 12);
  while (static_cast<int>(sky_.size()) < count) AddRisingSatellite(Uniform(8, 85));
  loopAngle_ = Uniform(0, 359) * std::numbers::pi / 180;
  // GLONASS: a few satellites of one orbital plane, spread over the sky.
  for (int i = 0; glonass_ && i < kGlonassInView; ++i) {
    glonassSky_.push_back({65 + 3 * i, static_cast<double>(Uniform(10, 80)),
                           static_cast<double>(Uniform(0, 359)), 0});
  }
}

int NmeaDrive::Uniform(int low, int high) {
  return std::uniform_int_distribution<int>(low, high)(random_);
}

std::vector<std::string> NmeaDrive::Tick(UtcTimeOfDay time) {
  AdvanceFixState();
  AdvancePosition();
  AdvanceSky();
  ChooseUsedSatellites();
  ++seconds_;
  std::vector<std::string> sentences = {Gga(time), Gsa(glonass_ ? "GN" : "GP", used_)};
  if (glonass_) sentences.push_back(Gsa("GN", glonassUsed_));
  for (std::string& gsv : GsvGroup("GP", sky_)) sentences.push_back(std::move(gsv));
  if (!glonass_) return sentences;
  for (std::string& gsv : GsvGroup("GL", glonassSky_)) sentences.push_back(std::move(gsv));
  return sentences;
}

// A fix most of the time, with short spells without one (a tunnel, tall buildings).
void NmeaDrive::AdvanceFixState() {
  if (neverFix_) {
    hasFix_ = false;
    return;
  }
  if (--spellLeft_ > 0) return;
  hasFix_ = !hasFix_;
  if (hasFix_) {
    spellLeft_ = Uniform(60, 240);
    differential_ = Uniform(0, 3) == 0;
  } else {
    spellLeft_ = Uniform(5, 20);
  }
}

void NmeaDrive::AdvancePosition() {
  speed_ = std::clamp(speed_ + Uniform(-10, 10) / 10.0, 1.0, 16.0);
  const double radius =
      std::hypot(kEastRadius * std::sin(loopAngle_), kNorthRadius * std::cos(loopAngle_));
  loopAngle_ = std::fmod(loopAngle_ + speed_ / radius, 2 * std::numbers::pi);
}

void NmeaDrive::AdvanceSky() {
  for (Satellite& s : glonassSky_) {
    s.elevation = std::clamp(s.elevation + Uniform(-8, 8) / 100.0, 3.0, 88.0);
    s.azimuth = std::fmod(s.azimuth + 0.05, 360.0);
  }
  for (Satellite& s : sky_) {
    s.elevation = std::clamp(s.elevation + Uniform(-8, 8) / 100.0, 3.0, 88.0);
    s.azimuth = std::fmod(s.azimuth + 0.05, 360.0);
  }
  if (--nextSkyChange_ > 0) return;
  nextSkyChange_ = Uniform(15, 40);
  const int count = static_cast<int>(sky_.size());
  const int change = count <= kMinInView ? 1 : count >= kMaxInView ? -1 : Uniform(-1, 1);
  if (change <= 0) ReplaceSettingSatellite();
  if (change >= 0) AddRisingSatellite(5);
}

// The lowest satellite sets.
void NmeaDrive::ReplaceSettingSatellite() {
  auto lowest = std::min_element(sky_.begin(), sky_.end(), [](const auto& a, const auto& b) {
    return a.elevation < b.elevation;
  });
  if (lowest != sky_.end()) sky_.erase(lowest);
}

void NmeaDrive::AddRisingSatellite(double elevation) {
  std::vector<int> free;
  for (int prn = 1; prn <= 32; ++prn) {
    if (std::none_of(sky_.begin(), sky_.end(), [prn](const auto& s) { return s.prn == prn; })) {
      free.push_back(prn);
    }
  }
  if (free.empty()) return;
  const int prn = free[static_cast<std::size_t>(Uniform(0, static_cast<int>(free.size()) - 1))];
  sky_.push_back({prn, elevation, static_cast<double>(Uniform(0, 359)), 0});
  std::sort(sky_.begin(), sky_.end(), [](const auto& a, const auto& b) { return a.prn < b.prn; });
}

// Signal follows elevation; without a fix the weak ones drop out of tracking.
void NmeaDrive::SetSignals(std::vector<Satellite>& sky) {
  for (Satellite& s : sky) {
    const int snr = kMinSnr + static_cast<int>(s.elevation * 0.35) + Uniform(-2, 6);
    s.snr = std::clamp(snr, kMinSnr, kMaxSnr);
    if (!hasFix_) s.snr = s.snr - 12 < kMinSnr ? 0 : s.snr - 12;
  }
}

void NmeaDrive::ChooseUsedSatellites() {
  SetSignals(sky_);
  SetSignals(glonassSky_);
  used_.clear();
  glonassUsed_.clear();
  if (!hasFix_) return;
  for (const Satellite& s : glonassSky_) {
    if (s.snr >= kGoodSnr) glonassUsed_.push_back(s.prn);
  }
  std::vector<Satellite> bySignal = sky_;
  std::stable_sort(bySignal.begin(), bySignal.end(),
                   [](const auto& a, const auto& b) { return a.snr > b.snr; });
  for (const Satellite& s : bySignal) {
    const int count = static_cast<int>(used_.size());
    if (count >= kMaxUsed || (count >= kMinUsed && s.snr < kGoodSnr)) break;
    used_.push_back(s.prn);
  }
}

std::string NmeaDrive::Gga(UtcTimeOfDay time) const {
  const std::string talker = glonass_ ? "GN" : "GP";
  if (!hasFix_) return WithNmeaChecksum(talker + "GGA," + TimeField(time) + ",,,,,0,00,,,M,,M,,");
  const double north = kNorthRadius * std::sin(loopAngle_);
  const double east = kEastRadius * std::cos(loopAngle_);
  const double latitude = kCentreLatitude + north / kMetresPerDegree;
  const double longitude =
      kCentreLongitude +
      east / (kMetresPerDegree * std::cos(kCentreLatitude * std::numbers::pi / 180));
  const double altitude = 12.5 + 3 * std::sin(static_cast<double>(seconds_) / 97);
  const double hdop = 0.6 + 4.0 / static_cast<double>(used_.size());
  const int usedCount = static_cast<int>(used_.size() + glonassUsed_.size());
  return WithNmeaChecksum(
      talker + "GGA," + TimeField(time) + "," + DegreesMinutes(latitude, 2) + ",N," +
      DegreesMinutes(longitude, 3) + ",E," +
      Format("%d,%02d,%.1f,%.1f,M,8.4,M,,", differential_ ? 2 : 1, usedCount, hdop, altitude));
}

std::string NmeaDrive::Gsa(const char* talker, const std::vector<int>& used) const {
  std::string body = std::string(talker) + (hasFix_ ? "GSA,A,3" : "GSA,A,1");
  for (std::size_t i = 0; i < kMaxUsed; ++i) {
    body += ',';
    if (i < used.size()) body += Format("%02d", used[i]);
  }
  if (!hasFix_) return WithNmeaChecksum(body + ",,,");
  const double hdop = 0.6 + 4.0 / static_cast<double>(used_.size());
  return WithNmeaChecksum(body + Format(",%.1f,%.1f,%.1f", hdop * 1.6, hdop, hdop * 1.2));
}

std::vector<std::string> NmeaDrive::GsvGroup(const char* talker,
                                             const std::vector<Satellite>& sky) {
  const int inView = static_cast<int>(sky.size());
  const int total = std::max(1, (inView + 3) / 4);
  std::vector<std::string> group;
  for (int k = 1; k <= total; ++k) {
    std::string body = Format("%sGSV,%d,%d,%02d", talker, total, k, inView);
    for (int i = (k - 1) * 4; i < std::min(inView, k * 4); ++i) {
      const Satellite& s = sky[static_cast<std::size_t>(i)];
      body += Format(",%02d,%02d,%03d,", s.prn, static_cast<int>(s.elevation),
                     static_cast<int>(s.azimuth));
      if (s.snr > 0) body += Format("%02d", s.snr);
    }
    group.push_back(WithNmeaChecksum(body));
  }
  return group;
}

std::optional<NmeaReplay> NmeaReplay::FromText(std::string_view text, std::string* problem) {
  NmeaReplay replay;
  std::vector<std::string> group;
  std::size_t begin = 0;
  while (begin < text.size()) {
    std::size_t end = text.find('\n', begin);
    if (end == std::string_view::npos) end = text.size();
    std::string line;
    // Line ends and NUL bytes (serial noise in real logs) never reach a frame.
    for (char c : text.substr(begin, end - begin)) {
      if (c != '\r' && c != '\0') line += c;
    }
    begin = end + 1;
    if (line.empty() || line.front() != '$') continue;
    const bool startsGroup = line.size() >= 6 && line.compare(3, 3, "GGA") == 0;
    if (startsGroup && !group.empty()) replay.groups_.push_back(std::exchange(group, {}));
    group.push_back(std::move(line));
  }
  if (!group.empty()) replay.groups_.push_back(std::move(group));
  if (replay.groups_.empty()) {
    if (problem != nullptr) *problem = "no line starting with '$'";
    return std::nullopt;
  }
  return replay;
}

std::vector<std::string> NmeaReplay::Next() {
  const std::vector<std::string>& group = groups_[next_];
  next_ = (next_ + 1) % groups_.size();
  return group;
}

}  // namespace sim

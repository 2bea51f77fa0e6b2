#include "gps/nmea_parser.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <tuple>

namespace gps {
namespace {

constexpr std::size_t kFieldCount = 50;
constexpr std::size_t kFieldBytes = 100;  // 99 characters and the terminating zero

// One sentence split at its commas. Field n lies between the n-th and the (n+1)-th comma;
// characters past a field's 99th and fields past the 50th are dropped, and a field the
// sentence does not have reads as empty.
class FieldTable {
 public:
  explicit FieldTable(std::string_view sentence) {
    for (const char c : sentence) {
      if (c == ',') {
        if (count_ == kFieldCount) return;
        ++count_;
        length_ = 0;
      } else if (length_ < kFieldBytes - 1) {
        fields_[count_ - 1][length_++] = c;
      }
    }
  }

  const char* operator[](std::size_t index) const {
    return index < kFieldCount ? fields_[index].data() : "";
  }
  [[nodiscard]] std::size_t Count() const { return count_; }

 private:
  std::array<std::array<char, kFieldBytes>, kFieldCount> fields_{};
  std::size_t count_ = 1;
  std::size_t length_ = 0;
};

// --- Reading numbers: strictly, so that garbage is refused rather than read as 0 ----------

bool IsEmpty(const char* field) {
  return field[0] == '\0';
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Digits only, within [low, high].
bool ReadWhole(const char* field, int low, int high, int* value) {
  const std::size_t length = std::strlen(field);
  if (length == 0 || length > 6 || !std::all_of(field, field + length, IsDigit)) return false;
  int result = 0;
  std::from_chars(field, field + length, result);
  if (result < low || result > high) return false;
  *value = result;
  return true;
}

// [-]digits[.digits], within [low, high].
bool ReadDecimal(const char* field, double low, double high, double* value) {
  const char* p = field + (field[0] == '-' ? 1 : 0);
  int digits = 0;
  int points = 0;
  for (const char* q = p; *q != '\0'; ++q) {
    if (IsDigit(*q)) {
      ++digits;
    } else if (*q != '.' || ++points > 1) {
      return false;
    }
  }
  if (digits == 0 || digits > 15) return false;
  double result = 0;
  std::from_chars(field, field + std::strlen(field), result, std::chars_format::fixed);
  if (result < low || result > high) return false;
  *value = result;
  return true;
}

std::uint8_t LowByte(int value) {
  return static_cast<std::uint8_t>(value);
}

// --- Texts --------------------------------------------------------------------------------

// printf's "%<width>.6f" in the C locale; the minus sign widens the text.
std::string FormatFixed(double value, int width, int decimals) {
  char digits[64];
  const auto [end, error] =
      std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, decimals);
  std::string text(error == std::errc{} ? std::string_view(digits, end - digits) : "0");
  if (static_cast<int>(text.size()) < width) text.insert(0, width - text.size(), ' ');
  return text;
}

std::string OneDecimal(double value) {
  return FormatFixed(value, 0, 1);
}

// hhmmss[.s...] to "hh:mm:ss" (fractions dropped).
std::string FormatTime(const char* field) {
  return {field[0], field[1], ':', field[2], field[3], ':', field[4], field[5]};
}

bool TimeValid(const char* field) {
  if (IsEmpty(field)) return true;
  const std::size_t length = std::strlen(field);
  if (length < 6 || !std::all_of(field, field + 6, IsDigit)) return false;
  if (length > 6 && (field[6] != '.' || !std::all_of(field + 7, field + length, IsDigit))) {
    return false;
  }
  const auto two = [field](int at) { return (field[at] - '0') * 10 + (field[at + 1] - '0'); };
  return two(0) <= 23 && two(2) <= 59 && two(4) <= 60;
}

// --- Position -------------------------------------------------------------------------------

enum class Coordinate { kEmpty, kValid, kBad };

// ddmm.mmmm or dddmm.mmmm and its hemisphere letter to signed degrees (south and west are
// negative). The factor is the double nearest 1/60, multiplied, as the panel always did.
Coordinate ReadCoordinate(const char* value, const char* hemisphere, double maxDegrees,
                          char positive, char negative, double* degrees) {
  if (IsEmpty(value)) return Coordinate::kEmpty;
  double raw = 0;
  if (value[0] == '-' || !ReadDecimal(value, 0, maxDegrees * 100 + 60, &raw)) {
    return Coordinate::kBad;
  }
  const double whole = std::floor(raw * 0.01);
  const double minutes = raw - 100.0 * whole;
  const double result = minutes * 0.016666666666666666 + whole;
  if (minutes >= 60 || result > maxDegrees) return Coordinate::kBad;
  const char letter = hemisphere[0];
  if (hemisphere[1] != '\0' || (letter != positive && letter != negative)) {
    return Coordinate::kBad;
  }
  *degrees = letter == negative ? -result : result;
  return Coordinate::kValid;
}

struct Position {
  double latitude = 0;
  double longitude = 0;
};

// Both coordinates given and sound, or both empty; false for anything else.
bool ReadPosition(const FieldTable& f, std::size_t first, Position* position) {
  const Coordinate latitude =
      ReadCoordinate(f[first], f[first + 1], 90, 'N', 'S', &position->latitude);
  const Coordinate longitude =
      ReadCoordinate(f[first + 2], f[first + 3], 180, 'E', 'W', &position->longitude);
  return latitude != Coordinate::kBad && latitude == longitude;
}

// --- Fix ------------------------------------------------------------------------------------

struct Context {
  const FieldTable& f;
  Talker talker;
  const NmeaTexts& texts;
  NmeaTables& t;
  GpsPanelMembers& p;
  bool timed;  // field 1 is the time of day
};

bool IsFixed(FixQuality fix) {
  return fix == FixQuality::kAutonomous || fix == FixQuality::kDifferential;
}

const std::string& FixTypeText(FixQuality fix, const NmeaTexts& texts) {
  switch (fix) {
    case FixQuality::kAutonomous:
      return texts.nonDifferential;
    case FixQuality::kDifferential:
      return texts.differential;
    case FixQuality::kInvalid:
      return texts.invalid;
    case FixQuality::kNone:
      break;
  }
  return texts.noFix;
}

// GGA's quality: 1 autonomous; 2, 4 and 5 (RTK) differential; 3 as the panel always named it;
// 0, 6 (dead reckoning), 7, 8 and anything else no fix.
FixQuality QualityOfGga(char quality) {
  switch (quality) {
    case '1':
      return FixQuality::kAutonomous;
    case '2':
    case '4':
    case '5':
      return FixQuality::kDifferential;
    case '3':
      return FixQuality::kInvalid;
    default:
      return FixQuality::kNone;
  }
}

// GNS's mode, one letter per system: the best of them.
FixQuality QualityOfGns(const char* mode) {
  FixQuality best = FixQuality::kNone;
  for (const char* c = mode; *c != '\0'; ++c) {
    if (std::strchr("DPRF", *c) != nullptr) return FixQuality::kDifferential;
    if (*c == 'A') best = FixQuality::kAutonomous;
  }
  return best;
}

SatelliteInView* Find(std::vector<SatelliteInView>& satellites, Constellation constellation,
                      int number) {
  for (SatelliteInView& s : satellites) {
    if (s.constellation == constellation && s.number == number) return &s;
  }
  return nullptr;
}

bool IsUsed(const NmeaTables& t, Constellation constellation, int number) {
  return std::any_of(t.used.begin(), t.used.end(), [&](const SatelliteSignal& s) {
    return s.constellation == constellation && s.number == number;
  });
}

// Every talker's last complete group in one list; a satellite reported twice (two signals,
// or GN and GP) keeps its strongest signal.
std::vector<SatelliteInView> SatellitesInView(const NmeaTables& t) {
  std::vector<SatelliteInView> all;
  for (const auto& [key, group] : t.groups) {
    for (const SatelliteInView& s : group.complete) {
      SatelliteInView* known = Find(all, s.constellation, s.number);
      if (known == nullptr) {
        all.push_back(s);
        continue;
      }
      known->snr = std::max(known->snr, s.snr);
      if (known->elevation < 0) {
        known->elevation = s.elevation;
        known->azimuth = s.azimuth;
      }
    }
  }
  for (SatelliteInView& s : all) s.used = IsUsed(t, s.constellation, s.number);
  std::sort(all.begin(), all.end(), [](const SatelliteInView& a, const SatelliteInView& b) {
    return std::tie(a.constellation, a.number) < std::tie(b.constellation, b.number);
  });
  return all;
}

void RecordFirstFix(Context& c) {
  const std::vector<SatelliteInView> view = SatellitesInView(c.t);
  std::vector<SatelliteSignal> signals;
  for (SatelliteSignal used : c.t.used) {
    const auto it = std::find_if(view.begin(), view.end(), [&](const SatelliteInView& s) {
      return s.constellation == used.constellation && s.number == used.number;
    });
    used.snrDbHz = it != view.end() ? std::max(it->snr, 0) : 0;
    signals.push_back(used);
  }
  const int count = signals.empty() ? c.t.g_usedSatCount : static_cast<int>(signals.size());
  c.t.firstFix.Record(count, std::move(signals));
}

void SetFix(Context& c, FixQuality fix) {
  c.t.fix = fix;
  c.p.m_fixType = FixTypeText(fix, c.texts);
  c.p.m_fixState = IsFixed(fix) ? c.texts.fixed : c.texts.noFix;
  if (c.t.firstFix.OnFixState(IsFixed(fix))) {
    c.p.m_ttff = OneDecimal(c.t.firstFix.Result().seconds);
    c.t.recordingFirstFix = true;
    c.t.firstFixTime = c.timed ? c.f[1] : "";
  }
}

// Without GGA or GNS from the receiver, GSA and RMC decide the fix; with them they only
// follow, so the fix state and type never disagree.
void FixFromStatus(Context& c, bool fixed, FixQuality whenFixed) {
  if (c.t.positionSeen) return;
  if (!fixed) {
    SetFix(c, FixQuality::kNone);
  } else if (!IsFixed(c.t.fix) || whenFixed == FixQuality::kDifferential) {
    SetFix(c, whenFixed);
  }
}

// --- GGA and GNS ----------------------------------------------------------------------------

// The fields the two position sentences share: 1 time, 2-5 position, 6 quality or mode,
// 7 satellites used, 8 HDOP, 9 altitude.
bool PositionSentenceValid(const FieldTable& f, Position* position) {
  int satellites = 0;
  double number = 0;
  return TimeValid(f[1]) && ReadPosition(f, 2, position) &&
         (IsEmpty(f[7]) || ReadWhole(f[7], 0, 99, &satellites)) &&
         (IsEmpty(f[8]) || ReadDecimal(f[8], 0, 100, &number)) &&
         (IsEmpty(f[9]) || ReadDecimal(f[9], -1000, 100000, &number));
}

std::string DopText(const char* field) {
  double dop = 0;
  return ReadDecimal(field, 0, 100, &dop) ? OneDecimal(dop) : std::string();
}

NmeaOutcome ApplyPosition(Context& c, const Position& position, FixQuality fix) {
  const FieldTable& f = c.f;
  NmeaTables& t = c.t;
  t.positionSeen = true;
  t.g_gpsUpdateToggle = t.g_gpsUpdateToggle == 0 ? 1 : 0;
  int satellites = 0;
  t.g_usedSatCount = ReadWhole(f[7], 0, 99, &satellites) ? LowByte(satellites) : 0;
  c.p.m_longitude = FormatFixed(position.longitude, 10, 6);
  c.p.m_latitude = FormatFixed(position.latitude, 9, 6);
  c.p.m_gpsTime = IsEmpty(f[1]) ? std::string() : FormatTime(f[1]);
  c.p.m_satsUsed = f[7];
  c.p.m_altitude = f[9];
  c.p.m_hdop = DopText(f[8]);
  SetFix(c, fix);
  return {.refresh = true, .setIndicator = true, .indicatorOn = t.g_gpsUpdateToggle != 0};
}

// A sentence of the next second: what the fix's second said about its satellites is complete.
// A fix that GSA brought takes the time of the second's next timed sentence.
void EndFirstFixRecording(Context& c) {
  if (!c.t.recordingFirstFix) return;
  if (c.t.firstFixTime.empty()) c.t.firstFixTime = c.f[1];
  if (c.t.firstFixTime == c.f[1]) return;
  RecordFirstFix(c);
  c.t.recordingFirstFix = false;
}

NmeaOutcome OnGga(Context& c) {
  Position position;
  if (!PositionSentenceValid(c.f, &position)) return {};
  c.t.lastGgaTime = c.f[1];
  EndFirstFixRecording(c);
  return ApplyPosition(c, position, QualityOfGga(c.f[6][0]));
}

// GNS stands in for GGA; a receiver sending both for the same second is shown once.
NmeaOutcome OnGns(Context& c) {
  Position position;
  if (!PositionSentenceValid(c.f, &position)) return {};
  if (!IsEmpty(c.f[1]) && c.t.lastGgaTime == c.f[1]) return {};
  EndFirstFixRecording(c);
  return ApplyPosition(c, position, QualityOfGns(c.f[6]));
}

// --- GSA ------------------------------------------------------------------------------------

constexpr std::size_t kGsaFirstPrn = 3;
constexpr std::size_t kGsaPrnSlots = 12;
constexpr std::size_t kMostUsed = 96;

bool GsaValid(const FieldTable& f, int* systemId) {
  const std::string_view mode = f[2];
  if (mode != "1" && mode != "2" && mode != "3") return false;
  int number = 0;
  for (std::size_t j = 0; j < kGsaPrnSlots; ++j) {
    if (!IsEmpty(f[kGsaFirstPrn + j]) && !ReadWhole(f[kGsaFirstPrn + j], 0, 499, &number)) {
      return false;
    }
  }
  double dop = 0;
  for (std::size_t j = 15; j <= 17; ++j) {
    if (!IsEmpty(f[j]) && !ReadDecimal(f[j], 0, 100, &dop)) return false;
  }
  *systemId = 0;
  return IsEmpty(f[18]) || ReadWhole(f[18], 1, 15, systemId);
}

// The GPS cells only follow a GSA that lists GPS satellites (or none at all).
bool ListsGps(const Context& c, int systemId) {
  if (c.talker == Talker::kGps) return true;
  if (c.talker != Talker::kMulti) return false;
  if (systemId != 0) return systemId == 1;
  for (std::size_t j = 0; j < kGsaPrnSlots; ++j) {
    int prn = 0;
    if (ReadWhole(c.f[kGsaFirstPrn + j], 1, 499, &prn)) return prn <= 32;
  }
  return true;
}

void RecordUsedPrnsForCells(Context& c) {
  NmeaTables& t = c.t;
  t.g_usedPrns.fill(0);
  const std::size_t slots = std::min<std::size_t>(t.g_usedSatCount, kGsaPrnSlots);
  for (std::size_t j = 0; j < slots; ++j) {
    int prn = 0;
    ReadWhole(c.f[kGsaFirstPrn + j], 0, 499, &prn);
    t.g_usedPrns[j] = LowByte(prn);
  }
}

// A GN GSA without a system id: the system of the satellite in view with that number, where
// only one is (numbers of different systems' own numberings overlap), else the NMEA ranges.
bool UsedConstellation(const Context& c, const std::vector<SatelliteInView>& view, int number,
                       Constellation* constellation) {
  if (c.talker == Talker::kMulti) {
    const auto same = [number](const SatelliteInView& s) { return s.number == number; };
    const auto first = std::find_if(view.begin(), view.end(), same);
    if (first != view.end() && std::count_if(view.begin(), view.end(), same) == 1) {
      *constellation = first->constellation;
      return true;
    }
  }
  return ConstellationOf(c.talker, number, constellation);
}

void AddUsed(Context& c, int systemId) {
  const std::vector<SatelliteInView> view = SatellitesInView(c.t);
  Constellation bySystem{};
  const bool systemKnown = ConstellationOfSystemId(systemId, &bySystem);
  for (std::size_t j = 0; j < kGsaPrnSlots; ++j) {
    int prn = 0;
    if (!ReadWhole(c.f[kGsaFirstPrn + j], 1, 499, &prn)) continue;
    Constellation constellation = bySystem;
    if (!systemKnown && !UsedConstellation(c, view, prn, &constellation)) continue;
    // A receiver uses a few dozen at most; a flood of GSA sentences cannot grow the set.
    if (!IsUsed(c.t, constellation, prn) && c.t.used.size() < kMostUsed) {
      c.t.used.push_back({constellation, prn, 0});
    }
  }
}

NmeaOutcome OnGsa(Context& c) {
  int systemId = 0;
  if (!GsaValid(c.f, &systemId)) return {};
  // One GSA per constellation: consecutive ones together make the set of satellites used.
  if (!c.t.lastWasGsa) c.t.used.clear();
  AddUsed(c, systemId);
  if (ListsGps(c, systemId)) RecordUsedPrnsForCells(c);
  c.p.m_pdop = DopText(c.f[15]);
  c.p.m_hdop = DopText(c.f[16]);
  c.p.m_vdop = DopText(c.f[17]);
  FixFromStatus(c, c.f[2][0] != '1', FixQuality::kAutonomous);
  return {};
}

// --- GSV ------------------------------------------------------------------------------------

struct GsvShape {
  int total = 0;
  int message = 0;
  int inView = 0;
  int blocks = 0;
  int signal = 0;  // NMEA 4.10 signal id, 0 when not given
};

bool BlockValid(const FieldTable& f, std::size_t first) {
  int value = 0;
  if (IsEmpty(f[first])) return true;  // an empty slot
  return ReadWhole(f[first], 0, 499, &value) &&
         (IsEmpty(f[first + 1]) || ReadWhole(f[first + 1], 0, 90, &value)) &&
         (IsEmpty(f[first + 2]) || ReadWhole(f[first + 2], 0, 360, &value)) &&
         (IsEmpty(f[first + 3]) || ReadWhole(f[first + 3], 0, 99, &value));
}

// What follows the blocks: nothing, empty slots, and perhaps the signal id.
bool TailValid(const FieldTable& f, std::size_t from, int* signal) {
  const std::size_t count = f.Count();
  for (std::size_t j = from; j + 1 < count; ++j) {
    if (!IsEmpty(f[j])) return false;
  }
  return count == from || IsEmpty(f[count - 1]) || ReadWhole(f[count - 1], 0, 15, signal);
}

bool ReadGsvShape(const FieldTable& f, GsvShape* shape) {
  if (!ReadWhole(f[1], 1, 20, &shape->total) ||
      !ReadWhole(f[2], 1, shape->total, &shape->message) ||
      !ReadWhole(f[3], 0, 4 * shape->total, &shape->inView)) {
    return false;
  }
  if (shape->inView <= 4 * (shape->total - 1) && !(shape->inView == 0 && shape->total == 1)) {
    return false;
  }
  shape->blocks = shape->message < shape->total ? 4 : shape->inView - 4 * (shape->total - 1);
  const std::size_t end = 4 + 4 * static_cast<std::size_t>(shape->blocks);
  if (f.Count() < end || f.Count() > 4 + 4 * 4 + 1) return false;
  for (int b = 0; b < shape->blocks; ++b) {
    if (!BlockValid(f, 4 + 4 * static_cast<std::size_t>(b))) return false;
  }
  return TailValid(f, end, &shape->signal);
}

int OptionalWhole(const char* field, int high) {
  int value = -1;
  return ReadWhole(field, 0, high, &value) ? value : -1;
}

// The 32 GPS cells, as they always worked: a group's first message clears them, used
// satellites 1-32 store their signal, and the group's last message shows them.
bool FeedGpsCells(Context& c, const GsvShape& shape) {
  NmeaTables& t = c.t;
  if (shape.message == 1) t.g_snrTable.fill(0);
  for (int b = 0; b < shape.blocks; ++b) {
    const std::size_t first = 4 + 4 * static_cast<std::size_t>(b);
    int prn = 0;
    if (!ReadWhole(c.f[first], 1, 32, &prn) || !t.IsUsedPrn(prn)) continue;
    t.g_snrTable[prn - 1] = LowByte(std::max(OptionalWhole(c.f[first + 3], 99), 0));
  }
  if (shape.inView > 4 * shape.message) return false;
  for (std::size_t j = 0; j < t.g_snrTable.size(); ++j) {
    c.p.m_snr[j] = std::to_string(t.g_snrTable[j]);
  }
  return true;
}

// This talker's group: parts in order complete it; a missing part drops the partial group
// and the last complete one stays.
bool FeedGroup(Context& c, const GsvShape& shape) {
  SatelliteGroup& group = c.t.groups[static_cast<int>(c.talker) * 16 + shape.signal];
  if (shape.message == 1) {
    group.receiving.clear();
    group.total = shape.total;
  } else if (shape.message != group.nextMessage || shape.total != group.total) {
    group.nextMessage = 0;
    return false;
  }
  for (int b = 0; b < shape.blocks; ++b) {
    const std::size_t first = 4 + 4 * static_cast<std::size_t>(b);
    SatelliteInView s;
    if (!ReadWhole(c.f[first], 1, 499, &s.number) ||
        !ConstellationOf(c.talker, s.number, &s.constellation)) {
      continue;
    }
    s.elevation = OptionalWhole(c.f[first + 1], 90);
    s.azimuth = OptionalWhole(c.f[first + 2], 360) % 360;
    s.snr = OptionalWhole(c.f[first + 3], 99);
    if (Find(group.receiving, s.constellation, s.number) == nullptr) group.receiving.push_back(s);
  }
  group.nextMessage = shape.message + 1;
  if (shape.message < shape.total) return false;
  group.complete = std::move(group.receiving);
  group.receiving.clear();
  group.nextMessage = 0;
  return true;
}

NmeaOutcome OnGsv(Context& c) {
  GsvShape shape;
  if (!ReadGsvShape(c.f, &shape)) return {};
  const bool cells =
      (c.talker == Talker::kGps || c.talker == Talker::kMulti) && FeedGpsCells(c, shape);
  const bool view = FeedGroup(c, shape);
  return {.refresh = cells || view};
}

// --- RMC ------------------------------------------------------------------------------------

bool DateValid(const char* field) {
  int value = 0;
  return IsEmpty(field) || (std::strlen(field) == 6 && ReadWhole(field, 0, 999999, &value) &&
                            (field[0] - '0') * 10 + (field[1] - '0') >= 1 &&
                            (field[0] - '0') * 10 + (field[1] - '0') <= 31 &&
                            (field[2] - '0') * 10 + (field[3] - '0') >= 1 &&
                            (field[2] - '0') * 10 + (field[3] - '0') <= 12);
}

// ddmmyy to yyyy-mm-dd; two-digit years from 80 are the last century.
std::string FormatDate(const char* field) {
  if (IsEmpty(field)) return {};
  const int year = (field[4] - '0') * 10 + (field[5] - '0');
  return std::string(year >= 80 ? "19" : "20") + field[4] + field[5] + '-' + field[2] + field[3] +
         '-' + field[0] + field[1];
}

NmeaOutcome OnRmc(Context& c) {
  const FieldTable& f = c.f;
  const std::string_view status = f[2];
  Position position;
  double speed = 0;
  double course = 0;
  const bool speedGiven = !IsEmpty(f[7]);
  const bool courseGiven = !IsEmpty(f[8]);
  if ((status != "A" && status != "V") || !TimeValid(f[1]) || !ReadPosition(f, 3, &position) ||
      (speedGiven && !ReadDecimal(f[7], 0, 2000, &speed)) ||
      (courseGiven && !ReadDecimal(f[8], 0, 360, &course)) || !DateValid(f[9])) {
    return {};
  }
  EndFirstFixRecording(c);
  // Without GGA or GNS, RMC is the receiver's only time of day.
  if (!c.t.positionSeen && !IsEmpty(f[1])) c.p.m_gpsTime = FormatTime(f[1]);
  c.p.m_gpsDate = FormatDate(f[9]);
  c.p.m_speed = speedGiven ? OneDecimal(speed * 1.852) : std::string();
  c.p.m_course = courseGiven ? OneDecimal(course) : std::string();
  // NMEA 2.3 adds a mode: N (no fix) and E (estimated) are no fix, D differential.
  const char mode = f[12][0];
  const bool fixed = status == "A" && mode != 'N' && mode != 'E';
  FixFromStatus(c, fixed, mode == 'D' ? FixQuality::kDifferential : FixQuality::kAutonomous);
  return {.refresh = true};
}

// --- Sentences --------------------------------------------------------------------------------

using Handler = NmeaOutcome (*)(Context&);

struct SentenceType {
  std::string_view name;
  Handler handler;
};

constexpr SentenceType kSentenceTypes[] = {
    {"GGA", OnGga}, {"GNS", OnGns}, {"GSA", OnGsa}, {"GSV", OnGsv}, {"RMC", OnRmc},
};

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// "$...*hh" with hh the XOR of the characters between: the part before '*', or nothing when
// the sum is wrong. The checksum is optional in NMEA and some receivers leave it out: a
// sentence without '*' is taken whole.
std::string_view CheckedBody(std::string_view sentence) {
  const std::size_t star = sentence.find('*');
  if (star == std::string_view::npos) return sentence;
  if (sentence.size() != star + 3) return {};
  const int high = HexDigit(sentence[star + 1]);
  const int low = HexDigit(sentence[star + 2]);
  if (high < 0 || low < 0) return {};
  unsigned sum = 0;
  for (const char c : sentence.substr(1, star - 1)) sum ^= static_cast<unsigned char>(c);
  return sum == static_cast<unsigned>(high * 16 + low) ? sentence.substr(0, star)
                                                       : std::string_view();
}

NmeaOutcome ParseSentence(std::string_view sentence, const NmeaTexts& texts, NmeaTables& tables,
                          GpsPanelMembers& panel) {
  const std::string_view body = CheckedBody(sentence);
  if (body.size() < 6 || (body.size() > 6 && body[6] != ',')) return {};
  Talker talker{};
  if (!TalkerOf(body.substr(1, 2), &talker)) return {};
  const std::string_view type = body.substr(3, 3);
  const auto row = std::find_if(std::begin(kSentenceTypes), std::end(kSentenceTypes),
                                [type](const SentenceType& s) { return s.name == type; });
  if (row == std::end(kSentenceTypes)) return {};
  const FieldTable fields(body);
  Context context{fields, talker, texts, tables, panel, type != "GSA" && type != "GSV"};
  const NmeaOutcome outcome = row->handler(context);
  tables.lastWasGsa = type == "GSA";
  panel.m_satellites = SatellitesInView(tables);
  if (tables.recordingFirstFix) RecordFirstFix(context);
  return outcome;
}

}  // namespace

bool NmeaTables::IsUsedPrn(std::int32_t prn) const {
  const auto begin = g_usedPrns.begin();
  const auto end =
      begin + static_cast<std::ptrdiff_t>(std::min<std::size_t>(g_usedSatCount, g_usedPrns.size()));
  return std::find(begin, end, LowByte(prn)) != end;
}

void ForgetReceiver(NmeaTables& tables, GpsPanelMembers& panel) {
  tables.groups.clear();
  tables.used.clear();
  tables.lastWasGsa = false;
  tables.positionSeen = false;
  tables.lastGgaTime.clear();
  tables.recordingFirstFix = false;
  panel.m_satellites.clear();
}

NmeaOutcome ParseNmea(const char* payload, const NmeaTexts& texts, NmeaTables& tables,
                      GpsPanelMembers& panel) {
  if (payload == nullptr) return {};
  // Several sentences in one payload (line ends between them, or spliced without one) are
  // each read on their own.
  NmeaOutcome outcome;
  const std::string_view all(payload);
  std::size_t begin = all.find('$');
  while (begin != std::string_view::npos) {
    const std::size_t end = all.find_first_of("$\r\n", begin + 1);
    const NmeaOutcome one = ParseSentence(
        all.substr(begin, end == std::string_view::npos ? end : end - begin), texts, tables, panel);
    outcome.refresh = outcome.refresh || one.refresh;
    if (one.setIndicator) {
      outcome.setIndicator = true;
      outcome.indicatorOn = one.indicatorOn;
    }
    begin = end == std::string_view::npos ? end : all.find('$', end);
  }
  return outcome;
}

}  // namespace gps

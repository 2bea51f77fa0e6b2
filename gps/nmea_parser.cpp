#include "gps/nmea_parser.h"

#include <algorithm>
#include <bit>
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

// One sentence split at its commas, as views into it. Field n lies between the n-th and the
// (n+1)-th comma; characters past a field's 99th and fields past the 50th are dropped, and a
// field the sentence does not have reads as empty.
class FieldTable {
 public:
  explicit FieldTable(std::string_view sentence) {
    // Fields are a few characters long: a plain scan beats a library search per field.
    std::size_t begin = 0;
    for (std::size_t i = 0; i < sentence.size(); ++i) {
      if (sentence[i] != ',') continue;
      Close(sentence, begin, i);
      if (count_ == kFieldCount) return;
      begin = i + 1;
    }
    Close(sentence, begin, sentence.size());
  }

  std::string_view operator[](std::size_t index) const {
    return index < count_ ? fields_[index] : std::string_view();
  }
  [[nodiscard]] std::size_t Count() const { return count_; }

 private:
  void Close(std::string_view sentence, std::size_t begin, std::size_t end) {
    fields_[count_++] = sentence.substr(begin, std::min(end - begin, kFieldBytes - 1));
  }

  std::array<std::string_view, kFieldCount> fields_;
  std::size_t count_ = 0;
};

// --- Reading numbers: strictly, so that garbage is refused rather than read as 0 ----------

bool IsEmpty(std::string_view field) {
  return field.empty();
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// The first character, or NUL for an empty field.
char First(std::string_view field) {
  return field.empty() ? '\0' : field.front();
}

bool AllDigits(std::string_view text) {
  for (const char c : text) {
    if (!IsDigit(c)) return false;
  }
  return true;
}

// Digits only (at most 6), within [low, high]. Six digits cannot overflow, so the value is
// summed as the digits are checked.
bool ReadWhole(std::string_view field, int low, int high, int* value) {
  if (field.empty() || field.size() > 6) return false;
  int result = 0;
  for (const char c : field) {
    if (!IsDigit(c)) return false;
    result = result * 10 + (c - '0');
  }
  if (result < low || result > high) return false;
  *value = result;
  return true;
}

// [-]digits[.digits], within [low, high].
bool ReadDecimal(std::string_view field, double low, double high, double* value) {
  int digits = 0;
  int points = 0;
  for (const char c : field.substr(First(field) == '-' ? 1 : 0)) {
    if (IsDigit(c)) {
      ++digits;
    } else if (c != '.' || ++points > 1) {
      return false;
    }
  }
  if (digits == 0 || digits > 15) return false;
  double result = 0;
  std::from_chars(field.data(), field.data() + field.size(), result, std::chars_format::fixed);
  if (result < low || result > high) return false;
  *value = result;
  return true;
}

std::uint8_t LowByte(int value) {
  return static_cast<std::uint8_t>(value);
}

// --- Texts --------------------------------------------------------------------------------

__extension__ using Wide = unsigned __int128;

constexpr std::uint64_t kPowersOfTen[] = {1, 10, 100, 1000, 10000, 100000, 1000000};

// The panel's numbers (below 2^32, at most six decimals) as printf writes them: the exact
// binary value rounded to nearest, ties to even. In integers, at a fraction of the general
// conversion's cost. False for anything larger; `digits` holds at least 24 characters.
bool FormatSmallFixed(double value, int decimals, char* digits, std::size_t* length) {
  if (decimals < 0 || decimals > 6) return false;
  const auto bits = std::bit_cast<std::uint64_t>(value);
  const auto biased = static_cast<int>(bits >> 52 & 0x7FF);
  std::uint64_t scaled = 0;           // |value| x 10^decimals, rounded
  if (biased != 0) {                  // zero and subnormals round to 0
    const int shift = 1075 - biased;  // |value| = mantissa / 2^shift
    if (shift < 21) return false;     // 2^32 and beyond, infinities, NaN
    const std::uint64_t mantissa = (bits & ((std::uint64_t{1} << 52) - 1)) | std::uint64_t{1} << 52;
    const Wide product = static_cast<Wide>(mantissa) * kPowersOfTen[decimals];
    if (shift < 128) {
      const Wide quotient = product >> shift;
      const Wide rest = product - (quotient << shift);
      const Wide half = static_cast<Wide>(1) << (shift - 1);
      scaled = static_cast<std::uint64_t>(quotient);
      if (rest > half || (rest == half && scaled % 2 != 0)) ++scaled;
    }
  }
  char* out = digits;
  if (bits >> 63 != 0) *out++ = '-';
  out = std::to_chars(out, digits + 24, scaled / kPowersOfTen[decimals]).ptr;
  if (decimals > 0) {
    *out++ = '.';
    std::uint64_t fraction = scaled % kPowersOfTen[decimals];
    for (int i = decimals - 1; i >= 0; --i) {
      out[i] = static_cast<char>('0' + fraction % 10);
      fraction /= 10;
    }
    out += decimals;
  }
  *length = static_cast<std::size_t>(out - digits);
  return true;
}

// printf's "%<width>.6f" in the C locale; the minus sign widens the text.
std::string FormatFixed(double value, int width, int decimals) {
  char digits[64];
  std::size_t length = 0;
  if (!FormatSmallFixed(value, decimals, digits, &length)) {
    const auto [end, error] =
        std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, decimals);
    length = error == std::errc{} ? static_cast<std::size_t>(end - digits) : 1;
    if (error != std::errc{}) digits[0] = '0';
  }
  std::string text;
  if (length < static_cast<std::size_t>(width)) text.assign(width - length, ' ');
  text.append(digits, length);
  return text;
}

std::string OneDecimal(double value) {
  return FormatFixed(value, 0, 1);
}

// hhmmss[.s...] to "hh:mm:ss" (fractions dropped).
std::string FormatTime(std::string_view field) {
  return {field[0], field[1], ':', field[2], field[3], ':', field[4], field[5]};
}

bool TimeValid(std::string_view field) {
  if (IsEmpty(field)) return true;
  const std::size_t length = field.size();
  if (length < 6 || !AllDigits(field.substr(0, 6))) return false;
  if (length > 6 && (field[6] != '.' || !AllDigits(field.substr(7)))) {
    return false;
  }
  const auto two = [field](int at) { return (field[at] - '0') * 10 + (field[at + 1] - '0'); };
  return two(0) <= 23 && two(2) <= 59 && two(4) <= 60;
}

// --- Position -------------------------------------------------------------------------------

enum class Coordinate { kEmpty, kValid, kBad };

// ddmm.mmmm or dddmm.mmmm and its hemisphere letter to signed degrees (south and west are
// negative). The factor is the double nearest 1/60, multiplied, as the panel always did.
Coordinate ReadCoordinate(std::string_view value, std::string_view hemisphere, double maxDegrees,
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
  const char letter = First(hemisphere);
  if (hemisphere.size() != 1 || (letter != positive && letter != negative)) {
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
FixQuality QualityOfGns(std::string_view mode) {
  FixQuality best = FixQuality::kNone;
  for (const char c : mode) {
    if (std::string_view("DPRF").find(c) != std::string_view::npos)
      return FixQuality::kDifferential;
    if (c == 'A') best = FixQuality::kAutonomous;
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

// System, then number, in one int: numbers stay below 500.
int KeyOf(Constellation constellation, int number) {
  return (static_cast<int>(constellation) << 16) | number;
}

bool BySystemAndNumber(const SatelliteInView& a, const SatelliteInView& b) {
  return KeyOf(a.constellation, a.number) < KeyOf(b.constellation, b.number);
}

SatelliteInView* FindSorted(std::vector<SatelliteInView>& sorted, Constellation constellation,
                            int number) {
  const int key = KeyOf(constellation, number);
  const auto at = std::lower_bound(
      sorted.begin(), sorted.end(), key,
      [](const SatelliteInView& s, int k) { return KeyOf(s.constellation, s.number) < k; });
  return at != sorted.end() && KeyOf(at->constellation, at->number) == key ? &*at : nullptr;
}

// The flags of the satellites in the receiver's last solution.
void MarkUsed(NmeaTables& t) {
  for (SatelliteInView& s : t.inView) s.used = false;
  for (const SatelliteSignal& used : t.used) {
    SatelliteInView* s = FindSorted(t.inView, used.constellation, used.number);
    if (s != nullptr) s->used = true;
  }
}

bool IsUsed(const NmeaTables& t, Constellation constellation, int number) {
  return std::any_of(t.used.begin(), t.used.end(), [&](const SatelliteSignal& s) {
    return s.constellation == constellation && s.number == number;
  });
}

// Every talker's last complete group in one list by system and number; a satellite reported
// twice (two signals, or GN and GP) keeps its strongest signal. Rebuilt in place, so its
// storage serves every sentence.
void BuildSatellitesInView(NmeaTables& t) {
  std::vector<SatelliteInView>& all = t.inView;
  all.clear();
  for (const auto& [key, group] : t.groups) {
    for (const SatelliteInView& s : group.complete) {
      const auto at = std::lower_bound(all.begin(), all.end(), s, BySystemAndNumber);
      if (at == all.end() || BySystemAndNumber(s, *at)) {
        all.insert(at, s);
        continue;
      }
      at->snr = std::max(at->snr, s.snr);
      if (at->elevation < 0) {
        at->elevation = s.elevation;
        at->azimuth = s.azimuth;
      }
    }
  }
  MarkUsed(t);
  t.inViewStale = false;
}

const std::vector<SatelliteInView>& SatellitesInView(NmeaTables& t) {
  if (t.inViewStale) BuildSatellitesInView(t);
  return t.inView;
}

void RecordFirstFix(Context& c) {
  const std::vector<SatelliteInView>& view = SatellitesInView(c.t);
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

std::string DopText(std::string_view field) {
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
  return ApplyPosition(c, position, QualityOfGga(First(c.f[6])));
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

// `view` is the list before this sentence: which satellites are in view does not depend on
// the set being built.
void AddUsed(Context& c, int systemId, const std::vector<SatelliteInView>& view) {
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
  const std::vector<SatelliteInView>& view = SatellitesInView(c.t);
  // One GSA per constellation: consecutive ones together make the set of satellites used.
  if (!c.t.lastWasGsa) c.t.used.clear();
  AddUsed(c, systemId, view);
  MarkUsed(c.t);
  if (ListsGps(c, systemId)) RecordUsedPrnsForCells(c);
  c.p.m_pdop = DopText(c.f[15]);
  c.p.m_hdop = DopText(c.f[16]);
  c.p.m_vdop = DopText(c.f[17]);
  FixFromStatus(c, c.f[2][0] != '1', FixQuality::kAutonomous);
  return {};
}

// --- GSV ------------------------------------------------------------------------------------

// One satellite's four fields, read once; -1 where a field is empty.
struct GsvBlock {
  int number = -1;
  int elevation = -1;
  int azimuth = -1;
  int snr = -1;
};

struct GsvShape {
  int total = 0;
  int message = 0;
  int inView = 0;
  int blocks = 0;
  int signal = 0;  // NMEA 4.10 signal id, 0 when not given
  std::array<GsvBlock, 4> block;
};

bool ReadOptional(std::string_view field, int high, int* value) {
  return IsEmpty(field) || ReadWhole(field, 0, high, value);
}

bool ReadBlock(const FieldTable& f, std::size_t first, GsvBlock* block) {
  if (IsEmpty(f[first])) return true;  // an empty slot
  return ReadWhole(f[first], 0, 499, &block->number) &&
         ReadOptional(f[first + 1], 90, &block->elevation) &&
         ReadOptional(f[first + 2], 360, &block->azimuth) &&
         ReadOptional(f[first + 3], 99, &block->snr);
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
    if (!ReadBlock(f, 4 + 4 * static_cast<std::size_t>(b), &shape->block[b])) return false;
  }
  return TailValid(f, end, &shape->signal);
}

// "0" to "255", made once: a group's last message writes all 32 cells.
std::string_view ByteText(std::uint8_t value) {
  static constexpr auto kTexts = [] {
    std::array<std::array<char, 4>, 256> texts{};
    for (int v = 0; v < 256; ++v) {
      std::array<char, 4>& text = texts[v];
      int length = 0;
      if (v >= 100) text[length++] = static_cast<char>('0' + v / 100);
      if (v >= 10) text[length++] = static_cast<char>('0' + v / 10 % 10);
      text[length++] = static_cast<char>('0' + v % 10);
      text[3] = static_cast<char>(length);
    }
    return texts;
  }();
  const std::array<char, 4>& text = kTexts[value];
  return {text.data(), static_cast<std::size_t>(text[3])};
}

// The 32 GPS cells, as they always worked: a group's first message clears them, used
// satellites 1-32 store their signal, and the group's last message shows them.
bool FeedGpsCells(Context& c, const GsvShape& shape) {
  NmeaTables& t = c.t;
  if (shape.message == 1) t.g_snrTable.fill(0);
  for (int b = 0; b < shape.blocks; ++b) {
    const GsvBlock& block = shape.block[b];
    const int prn = block.number;
    if (prn < 1 || prn > 32 || !t.IsUsedPrn(prn)) continue;
    t.g_snrTable[prn - 1] = LowByte(std::max(block.snr, 0));
  }
  if (shape.inView > 4 * shape.message) return false;
  for (std::size_t j = 0; j < t.g_snrTable.size(); ++j) {
    const std::string_view text = ByteText(t.g_snrTable[j]);
    if (c.p.m_snr[j] != text) c.p.m_snr[j] = text;  // most cells keep their text
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
    const GsvBlock& block = shape.block[b];
    SatelliteInView s;
    s.number = block.number;
    if (s.number < 1 || !ConstellationOf(c.talker, s.number, &s.constellation)) continue;
    s.elevation = block.elevation;
    s.azimuth = block.azimuth % 360;
    s.snr = block.snr;
    if (Find(group.receiving, s.constellation, s.number) == nullptr) group.receiving.push_back(s);
  }
  group.nextMessage = shape.message + 1;
  if (shape.message < shape.total) return false;
  // Swapped, not moved: both lists keep their storage for the next groups.
  group.complete.swap(group.receiving);
  group.receiving.clear();
  group.nextMessage = 0;
  c.t.inViewStale = true;
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

bool DateValid(std::string_view field) {
  int value = 0;
  return IsEmpty(field) || (field.size() == 6 && ReadWhole(field, 0, 999999, &value) &&
                            (field[0] - '0') * 10 + (field[1] - '0') >= 1 &&
                            (field[0] - '0') * 10 + (field[1] - '0') <= 31 &&
                            (field[2] - '0') * 10 + (field[3] - '0') >= 1 &&
                            (field[2] - '0') * 10 + (field[3] - '0') <= 12);
}

// ddmmyy to yyyy-mm-dd; two-digit years from 80 are the last century.
std::string FormatDate(std::string_view field) {
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
  const char mode = First(f[12]);
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

// Eight bytes at a time: the XOR of the words, folded, is the XOR of their bytes.
unsigned XorOfBytes(std::string_view text) {
  std::uint64_t words = 0;
  std::size_t i = 0;
  for (; i + 8 <= text.size(); i += 8) {
    std::uint64_t word = 0;
    std::memcpy(&word, text.data() + i, sizeof word);
    words ^= word;
  }
  words ^= words >> 32;
  words ^= words >> 16;
  words ^= words >> 8;
  auto sum = static_cast<unsigned>(words & 0xFF);
  for (; i < text.size(); ++i) sum ^= static_cast<unsigned char>(text[i]);
  return sum;
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
  return XorOfBytes(sentence.substr(1, star - 1)) == static_cast<unsigned>(high * 16 + low)
             ? sentence.substr(0, star)
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
  panel.m_satellites = SatellitesInView(tables);  // copied into the panel's own storage
  if (tables.recordingFirstFix) RecordFirstFix(context);
  return outcome;
}

// Where the sentence from `from` ends: the next '$' or line end, npos at the end.
// `all` is NUL-terminated and holds no NUL before its end.
std::size_t SentenceEnd(std::string_view all, std::size_t from) {
  const std::size_t end = from + std::strcspn(all.data() + from, "$\r\n");
  return end < all.size() ? end : std::string_view::npos;
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
  tables.inView.clear();
  tables.inViewStale = false;
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
    const std::size_t end = SentenceEnd(all, begin + 1);
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

#include "gps/nmea_parser.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>
#include <string_view>

namespace gps {
namespace {

constexpr std::size_t kFieldCount = 50;
constexpr std::size_t kFieldBytes = 100;  // 99 characters and the terminating zero

// One sentence split at its commas. Field n lies between the n-th and the (n+1)-th comma;
// characters past a field's 99th and fields past the 50th are dropped, and a field the
// sentence does not have reads as empty.
class FieldTable {
 public:
  explicit FieldTable(const char* sentence) {
    std::size_t field = 0;
    std::size_t length = 0;
    for (const char* p = sentence; *p != '\0'; ++p) {
      if (*p == ',') {
        if (++field == kFieldCount) return;
        length = 0;
      } else if (length < kFieldBytes - 1) {
        fields_[field][length++] = *p;
      }
    }
  }

  const char* operator[](std::size_t index) const {
    return index < kFieldCount ? fields_[index].data() : "";
  }

 private:
  std::array<std::array<char, kFieldBytes>, kFieldCount> fields_{};
};

bool IsBlank(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

const char* SkipBlanks(const char* text) {
  while (IsBlank(*text)) ++text;
  return text;
}

// atoi's reading (leading blanks, a sign, the leading digits; 0 when there are none), but
// saturating where atoi's result would be undefined.
int ReadInt(const char* field) {
  const char* p = SkipBlanks(field);
  const bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  constexpr long long kLimit = static_cast<long long>(INT_MAX) + 1;
  long long magnitude = 0;
  for (; *p >= '0' && *p <= '9'; ++p) magnitude = std::min(magnitude * 10 + (*p - '0'), kLimit);
  const long long value = negative ? -magnitude : magnitude;
  return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

// atof's reading of decimal text, independent of the process locale (the toolkit may switch
// it to one with a decimal comma). No number, or one out of range, reads as 0.
double ReadDouble(const char* field) {
  const char* p = SkipBlanks(field);
  if (*p == '+' && p[1] != '-' && p[1] != '+') ++p;
  const char* end = p + std::strlen(p);
  double value = 0.0;
  const auto [last, error] = std::from_chars(p, end, value, std::chars_format::general);
  return error == std::errc{} ? value : 0.0;
}

std::uint8_t LowByte(int value) {
  return static_cast<std::uint8_t>(value);
}

// ddmm.mmmm (or dddmm.mmmm) to degrees; the hemisphere is not applied. A value whose whole
// degrees do not fit an int (or is not finite) reads as 0 rather than converting undefinedly.
double ToDegrees(double raw) {
  const double wholeDegrees = std::floor(raw * 0.01);
  if (!std::isfinite(wholeDegrees) || wholeDegrees < INT_MIN || wholeDegrees > INT_MAX) return 0.0;
  const int degrees = static_cast<int>(wholeDegrees);
  return (raw - 100.0 * degrees) * 0.016666666666666666 + degrees;
}

// printf's "%<width>.6f" in the C locale.
std::string FormatFixed6(double value, int width) {
  char digits[64];
  const auto [end, error] =
      std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, 6);
  std::string text(error == std::errc{} ? std::string_view(digits, end - digits) : "0.000000");
  if (static_cast<int>(text.size()) < width) text.insert(0, width - text.size(), ' ');
  return text;
}

// "%c%c:%c%c:%c%c" of the field's first six characters, read as a C string: the text ends
// where the field does ("1234" gives "12:34:").
std::string FormatTime(const char* field) {
  std::string time;
  for (const char slot : std::string_view("01:23:45")) {
    if (slot == ':') {
      time += ':';
      continue;
    }
    const char c = field[slot - '0'];
    if (c == '\0') break;
    time += c;
  }
  return time;
}

const std::string& FixTypeText(char quality, const NmeaTexts& texts) {
  switch (quality) {
    case '1':
      return texts.nonDifferential;
    case '2':
      return texts.differential;
    case '3':
      return texts.invalid;
    default:
      return texts.noFix;
  }
}

std::size_t UsedPrnSlots(const NmeaTables& tables) {
  return std::min<std::size_t>(tables.g_usedSatCount, tables.g_usedPrns.size());
}

NmeaOutcome OnGga(const FieldTable& fields, const NmeaTexts& texts, NmeaTables& tables,
                  GpsPanelMembers& panel) {
  tables.g_gpsUpdateToggle = tables.g_gpsUpdateToggle == 0 ? 1 : 0;
  const double longitude = ToDegrees(ReadDouble(fields[4]));
  const double latitude = ToDegrees(ReadDouble(fields[2]));
  tables.g_usedSatCount = LowByte(ReadInt(fields[7]));
  panel.m_longitude = FormatFixed6(longitude, 10);
  panel.m_latitude = FormatFixed6(latitude, 9);
  panel.m_gpsTime = FormatTime(fields[1]);
  panel.m_satsUsed = fields[7];
  panel.m_altitude = fields[9];
  panel.m_fixType = FixTypeText(fields[6][0], texts);
  return {.refresh = true, .setIndicator = true, .indicatorOn = tables.g_gpsUpdateToggle != 0};
}

NmeaOutcome OnGsa(const FieldTable& fields, const NmeaTexts& texts, NmeaTables& tables,
                  GpsPanelMembers& panel) {
  tables.g_usedPrns.fill(0);
  panel.m_fixState = std::strcmp(fields[2], "3") == 0 ? texts.fixed : texts.noFix;
  for (std::size_t j = 0; j < UsedPrnSlots(tables); ++j) {
    tables.g_usedPrns[j] = LowByte(ReadInt(fields[3 + j]));
  }
  return {};
}

// How many satellite blocks a $GPGSV carries, and whether it ends its group.
struct GsvShape {
  int blocks = 0;
  bool last = false;
};

GsvShape ShapeOfGsv(int messageNumber, int inView) {
  // 64-bit, so absurd numbers cannot overflow.
  const long long k = messageNumber;
  const long long v = inView;
  if (v > 4 * k) return {.blocks = 4, .last = false};
  return {.blocks = static_cast<int>(std::clamp(v - 4 * (k - 1), 0LL, 4LL)), .last = true};
}

NmeaOutcome OnGsv(const FieldTable& fields, NmeaTables& tables, GpsPanelMembers& panel) {
  const int messageNumber = ReadInt(fields[2]);
  const int inView = ReadInt(fields[3]);
  if (messageNumber == 1) tables.g_snrTable.fill(0);
  const GsvShape shape = ShapeOfGsv(messageNumber, inView);
  for (int block = 0; block < shape.blocks; ++block) {
    const std::size_t first = 4 + 4 * static_cast<std::size_t>(block);
    const int prn = ReadInt(fields[first]);
    if (prn >= 1 && prn <= 32 && tables.IsUsedPrn(prn)) {
      tables.g_snrTable[prn - 1] = LowByte(ReadInt(fields[first + 3]));
    }
  }
  if (!shape.last) return {};
  for (std::size_t j = 0; j < tables.g_snrTable.size(); ++j) {
    panel.m_snr[j] = std::to_string(tables.g_snrTable[j]);
  }
  return {.refresh = true};
}

}  // namespace

bool NmeaTables::IsUsedPrn(std::int32_t prn) const {
  const auto begin = g_usedPrns.begin();
  const auto end = begin + static_cast<std::ptrdiff_t>(UsedPrnSlots(*this));
  return std::find(begin, end, LowByte(prn)) != end;
}

NmeaOutcome ParseNmea(const char* sentence, const NmeaTexts& texts, NmeaTables& tables,
                      GpsPanelMembers& panel) {
  if (sentence == nullptr) return {};
  const FieldTable fields(sentence);
  const std::string_view type = fields[0];
  if (type == "$GPGGA") return OnGga(fields, texts, tables, panel);
  if (type == "$GPGSA") return OnGsa(fields, texts, tables, panel);
  if (type == "$GPGSV") return OnGsv(fields, tables, panel);
  return {};
}

}  // namespace gps

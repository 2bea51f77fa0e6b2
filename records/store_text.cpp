#include "records/store_text.h"

#include <iconv.h>

#include <charconv>
#include <cmath>

namespace records {

namespace {

constexpr char32_t kEscapeBase = 0x10FF00;

// The length of the valid UTF-8 sequence at `at` and its code point, or 0 when none starts there.
std::size_t SequenceAt(std::string_view text, std::size_t at, char32_t* point) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) {
    *point = lead;
    return 1;
  }
  std::size_t length = 0;
  char32_t value = 0;
  char32_t least = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, value = lead & 0x1F, least = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, value = lead & 0x0F, least = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, value = lead & 0x07, least = 0x10000;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    value = (value << 6) | (byte(i) & 0x3F);
  }
  if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  *point = value;
  return length;
}

void AppendUtf8(char32_t point, std::string* out) {
  if (point < 0x80) {
    *out += static_cast<char>(point);
  } else if (point < 0x800) {
    *out += static_cast<char>(0xC0 | (point >> 6));
    *out += static_cast<char>(0x80 | (point & 0x3F));
  } else if (point < 0x10000) {
    *out += static_cast<char>(0xE0 | (point >> 12));
    *out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (point & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | (point >> 18));
    *out += static_cast<char>(0x80 | ((point >> 12) & 0x3F));
    *out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (point & 0x3F));
  }
}

bool IsEscapePoint(char32_t point) {
  return point >= kEscapeBase + 0x80 && point <= kEscapeBase + 0xFF;
}

// Strict GBK to UTF-8; nullopt when the bytes are not GBK.
std::optional<std::string> FromGbk(std::string_view bytes) {
  iconv_t cd = iconv_open("UTF-8", "GBK");
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string out(bytes.size() * 3 + 4, '\0');
  char* source = const_cast<char*>(bytes.data());
  std::size_t sourceLeft = bytes.size();
  char* target = out.data();
  std::size_t targetLeft = out.size();
  const std::size_t converted = iconv(cd, &source, &sourceLeft, &target, &targetLeft);
  iconv_close(cd);
  if (converted == static_cast<std::size_t>(-1) || sourceLeft != 0) return std::nullopt;
  out.resize(out.size() - targetLeft);
  return out;
}

}  // namespace

bool IsUtf8(std::string_view text) {
  char32_t point = 0;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = SequenceAt(text, at, &point);
    if (length == 0) return false;
    at += length;
  }
  return true;
}

std::string EscapeBytes(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  char32_t point = 0;
  for (std::size_t at = 0; at < bytes.size();) {
    const std::size_t length = SequenceAt(bytes, at, &point);
    if (length > 0) {
      out.append(bytes.substr(at, length));
      at += length;
      continue;
    }
    AppendUtf8(kEscapeBase + static_cast<unsigned char>(bytes[at]), &out);
    ++at;
  }
  return out;
}

std::string StoreText(std::string_view text) {
  if (IsUtf8(text)) return std::string(text);
  if (auto converted = FromGbk(text)) return *converted;
  return EscapeBytes(text);
}

std::string StoreTextBytes(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  char32_t point = 0;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = SequenceAt(text, at, &point);
    if (length == 0) {
      out += text[at++];
    } else {
      if (IsEscapePoint(point)) {
        out += static_cast<char>(point - kEscapeBase);
      } else {
        out.append(text.substr(at, length));
      }
      at += length;
    }
  }
  return out;
}

std::string NumberText(double value) {
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

std::optional<double> ParseNumber(std::string_view text) {
  double value = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  if (result.ec != std::errc() || result.ptr != text.data() + text.size() || !std::isfinite(value))
    return std::nullopt;
  return value;
}

}  // namespace records

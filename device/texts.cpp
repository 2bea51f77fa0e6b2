#include "device/texts.h"

#include <array>
#include <cstddef>

#include "platform/gbk.h"

namespace texts {
namespace {

constexpr std::array<const char*, static_cast<size_t>(Id::kCount)> kUtf8 = {
#define SYSTEM_TEXT(id, utf8) utf8,
#include "device/texts.inc"
#undef SYSTEM_TEXT
};

std::array<std::string, kUtf8.size()> ConvertAll() {
  std::array<std::string, kUtf8.size()> out;
  for (size_t i = 0; i < kUtf8.size(); ++i) out[i] = gbk::FromUtf8(kUtf8[i]);
  return out;
}

}  // namespace

const std::string& Gbk(Id id) {
  static const std::array<std::string, kUtf8.size()> converted = ConvertAll();
  return converted[static_cast<size_t>(id)];
}

const char* Utf8(Id id) {
  return kUtf8[static_cast<size_t>(id)];
}

}  // namespace texts

#pragma once
// The system's own texts as the logic uses them: GBK byte strings, converted once from the
// UTF-8 table in device/texts.inc.

#include <string>

namespace texts {

enum class Id {
#define SYSTEM_TEXT(id, utf8) id,
#include "device/texts.inc"
#undef SYSTEM_TEXT
  kCount
};

// GBK bytes of the text; valid for the whole run. Thread-safe (converted on first use).
const std::string& Gbk(Id id);

// UTF-8 source form of the text.
const char* Utf8(Id id);

}  // namespace texts

// Shorthand used throughout the logic: T(kLinkConnected) is the GBK text "已连接".
#define T(name) (::texts::Gbk(::texts::Id::name))

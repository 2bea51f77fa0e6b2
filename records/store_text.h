#pragma once
// What reaches a store or a JSON line: numbers written the same way whatever the C library's
// locale says, and texts that are valid UTF-8.
//
// A text that is UTF-8 is kept as it is; one that is not is read as GBK (the tracker's and the
// station's 8-bit text). What is neither keeps every byte through a reversible escape: each byte
// that is not part of a valid UTF-8 sequence becomes the private-use code point U+10FF00 + byte
// (U+10FF80..U+10FFFF, 4 bytes in UTF-8). StoreTextBytes undoes it (a text that held those
// private-use code points to begin with reads back as the bytes they stand for).

#include <optional>
#include <string>
#include <string_view>

namespace records {

// True when `text` is strict UTF-8: no overlong forms, no surrogates, nothing past U+10FFFF.
bool IsUtf8(std::string_view text);

// `text` as UTF-8: unchanged when it is UTF-8, converted when it is GBK, escaped otherwise.
std::string StoreText(std::string_view text);

// The escape alone (no GBK guess): every byte kept.
std::string EscapeBytes(std::string_view bytes);
// The bytes an escaped text stands for.
std::string StoreTextBytes(std::string_view text);

// A number as the C locale writes it, shortest form that reads back the same ("12.3", "1e+300").
std::string NumberText(double value);
// Reads what NumberText wrote; nullopt for anything else (a decimal comma, trailing text).
std::optional<double> ParseNumber(std::string_view text);

}  // namespace records

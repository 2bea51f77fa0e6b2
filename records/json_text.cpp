#include "records/json_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace records {

std::string JsonQuote(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (byte < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

void JsonObject::Key(std::string_view key) {
  if (body_.size() > 1) body_ += ',';
  body_ += JsonQuote(key);
  body_ += ':';
}

JsonObject& JsonObject::Add(std::string_view key, std::string_view text) {
  Key(key);
  body_ += JsonQuote(text);
  return *this;
}

JsonObject& JsonObject::Add(std::string_view key, std::int64_t number) {
  Key(key);
  body_ += std::to_string(number);
  return *this;
}

JsonObject& JsonObject::Add(std::string_view key, double number) {
  if (!std::isfinite(number)) return AddNull(key);
  Key(key);
  char text[32];
  // 15 digits: exact for what the records hold (seconds, dB-Hz), without binary noise.
  std::snprintf(text, sizeof text, "%.15g", number);
  body_ += text;
  return *this;
}

JsonObject& JsonObject::Add(std::string_view key, bool value) {
  Key(key);
  body_ += value ? "true" : "false";
  return *this;
}

JsonObject& JsonObject::AddNull(std::string_view key) {
  Key(key);
  body_ += "null";
  return *this;
}

JsonObject& JsonObject::AddRaw(std::string_view key, std::string_view json) {
  Key(key);
  body_ += json;
  return *this;
}

const JsonValue* JsonValue::Find(std::string_view key) const {
  for (const JsonMember& member : members) {
    if (member.name == key) return &member.value;
  }
  return nullptr;
}

std::string JsonValue::String(std::string_view key) const {
  const JsonValue* value = Find(key);
  return value != nullptr && value->type == Type::kString ? value->text : std::string();
}

namespace {

constexpr int kMaxDepth = 32;

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  bool ParseDocument(JsonValue* out) {
    if (!ParseValue(out, 0)) return false;
    SkipSpace();
    return pos_ == text_.size() || Fail("text after the value");
  }
  std::string error;

 private:
  bool Fail(const char* what) {
    error = std::string(what) + " at byte " + std::to_string(pos_);
    return false;
  }
  void SkipSpace() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t' ||
                                   text_[pos_] == '\n' || text_[pos_] == '\r')) {
      ++pos_;
    }
  }
  bool Literal(std::string_view word) {
    if (text_.substr(pos_, word.size()) != word) return Fail("unknown word");
    pos_ += word.size();
    return true;
  }
  bool ParseValue(JsonValue* out, int depth) {
    if (depth > kMaxDepth) return Fail("nesting too deep");
    SkipSpace();
    if (pos_ >= text_.size()) return Fail("value missing");
    const char c = text_[pos_];
    if (c == '{') return ParseObject(out, depth);
    if (c == '[') return ParseArray(out, depth);
    if (c == '"') {
      out->type = JsonValue::Type::kString;
      return ParseString(&out->text);
    }
    if (c == 't' || c == 'f') {
      out->type = JsonValue::Type::kBool;
      out->boolean = c == 't';
      return Literal(c == 't' ? "true" : "false");
    }
    if (c == 'n') return Literal("null");
    return ParseNumber(out);
  }
  bool ParseNumber(JsonValue* out) {
    const char* begin = text_.data() + pos_;
    const auto [end, problem] = std::from_chars(begin, text_.data() + text_.size(), out->number);
    if (problem != std::errc() || end == begin) return Fail("bad number");
    out->type = JsonValue::Type::kNumber;
    pos_ += static_cast<std::size_t>(end - begin);
    return true;
  }
  bool ParseHex4(unsigned* code) {
    if (pos_ + 4 > text_.size()) return Fail("short \\u escape");
    const auto [end, problem] =
        std::from_chars(text_.data() + pos_, text_.data() + pos_ + 4, *code, 16);
    if (problem != std::errc() || end != text_.data() + pos_ + 4) return Fail("bad \\u escape");
    pos_ += 4;
    return true;
  }
  static void AppendUtf8(unsigned code, std::string* out) {
    if (code < 0x80) {
      *out += static_cast<char>(code);
    } else if (code < 0x800) {
      *out += static_cast<char>(0xC0 | (code >> 6));
      *out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      *out += static_cast<char>(0xE0 | (code >> 12));
      *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      *out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      *out += static_cast<char>(0xF0 | (code >> 18));
      *out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      *out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  bool ParseEscape(std::string* out) {
    if (pos_ >= text_.size()) return Fail("unfinished escape");
    const char c = text_[pos_++];
    switch (c) {
      case '"':
      case '\\':
      case '/':
        *out += c;
        return true;
      case 'b':
        *out += '\b';
        return true;
      case 'f':
        *out += '\f';
        return true;
      case 'n':
        *out += '\n';
        return true;
      case 'r':
        *out += '\r';
        return true;
      case 't':
        *out += '\t';
        return true;
      case 'u':
        break;
      default:
        return Fail("unknown escape");
    }
    unsigned code = 0;
    if (!ParseHex4(&code)) return false;
    if (code >= 0xD800 && code < 0xDC00 && text_.substr(pos_, 2) == "\\u") {
      pos_ += 2;
      unsigned low = 0;
      if (!ParseHex4(&low)) return false;
      if (low < 0xDC00 || low > 0xDFFF) return Fail("bad surrogate pair");
      code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
    }
    AppendUtf8(code, out);
    return true;
  }
  bool ParseString(std::string* out) {
    ++pos_;  // opening quote
    while (pos_ < text_.size()) {
      const char c = text_[pos_++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return Fail("control character in a string");
      if (c != '\\') {
        *out += c;
      } else if (!ParseEscape(out)) {
        return false;
      }
    }
    return Fail("unterminated string");
  }
  bool ParseArray(JsonValue* out, int depth) {
    out->type = JsonValue::Type::kArray;
    ++pos_;
    SkipSpace();
    if (pos_ < text_.size() && text_[pos_] == ']') return ++pos_, true;
    while (true) {
      out->items.emplace_back();
      if (!ParseValue(&out->items.back(), depth + 1)) return false;
      SkipSpace();
      if (pos_ >= text_.size()) return Fail("unterminated array");
      const char c = text_[pos_++];
      if (c == ']') return true;
      if (c != ',') return Fail("',' or ']' expected");
    }
  }
  bool ParseObject(JsonValue* out, int depth) {
    out->type = JsonValue::Type::kObject;
    ++pos_;
    SkipSpace();
    if (pos_ < text_.size() && text_[pos_] == '}') return ++pos_, true;
    while (true) {
      SkipSpace();
      if (pos_ >= text_.size() || text_[pos_] != '"') return Fail("member name expected");
      std::string key;
      if (!ParseString(&key)) return false;
      SkipSpace();
      if (pos_ >= text_.size() || text_[pos_++] != ':') return Fail("':' expected");
      out->members.push_back({std::move(key), JsonValue{}});
      if (!ParseValue(&out->members.back().value, depth + 1)) return false;
      SkipSpace();
      if (pos_ >= text_.size()) return Fail("unterminated object");
      const char c = text_[pos_++];
      if (c == '}') return true;
      if (c != ',') return Fail("',' or '}' expected");
    }
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

}  // namespace

std::optional<JsonValue> ParseJson(std::string_view text, std::string* error) {
  Parser parser(text);
  JsonValue value;
  if (!parser.ParseDocument(&value)) {
    if (error != nullptr) *error = parser.error;
    return std::nullopt;
  }
  return value;
}

}  // namespace records

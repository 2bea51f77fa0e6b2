#pragma once
// The little JSON the records and the jig need: building one object per line, and reading such
// a line back (a spooled record, a child jig's report). UTF-8 in, UTF-8 out.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace records {

// A quoted JSON string: control characters, quote and backslash escaped; other bytes kept.
std::string JsonQuote(std::string_view text);

// Builds one JSON object, members in the order added.
class JsonObject {
 public:
  JsonObject& Add(std::string_view key, std::string_view text);
  JsonObject& Add(std::string_view key, const char* text) {
    return Add(key, std::string_view(text));
  }
  JsonObject& Add(std::string_view key, std::int64_t number);
  JsonObject& Add(std::string_view key, int number) { return Add(key, std::int64_t{number}); }
  JsonObject& Add(std::string_view key, double number);
  JsonObject& Add(std::string_view key, bool value);
  JsonObject& AddNull(std::string_view key);
  // `json` must already be valid JSON (an object or array built here).
  JsonObject& AddRaw(std::string_view key, std::string_view json);
  [[nodiscard]] std::string Text() const { return body_ + "}"; }

 private:
  void Key(std::string_view key);
  std::string body_ = "{";
};

struct JsonMember;

// A parsed JSON value. Numbers are kept as double.
struct JsonValue {
  enum class Type { kNull, kBool, kNumber, kString, kArray, kObject };
  Type type = Type::kNull;
  bool boolean = false;
  double number = 0;
  std::string text;
  std::vector<JsonValue> items;
  std::vector<JsonMember> members;  // in the order they came

  // The member named `key`, or null when absent or not an object.
  [[nodiscard]] const JsonValue* Find(std::string_view key) const;
  // The member's text, or "" when absent or not a string.
  [[nodiscard]] std::string String(std::string_view key) const;
};

struct JsonMember {
  std::string name;
  JsonValue value;
};

// Parses a whole text as one JSON value; nullopt with `error` set when it is not one.
// Nesting deeper than 32 levels is refused.
std::optional<JsonValue> ParseJson(std::string_view text, std::string* error);

}  // namespace records

#include "tools/jig/jig_events.h"

#include <chrono>
#include <cmath>
#include <ctime>

#include "records/json_text.h"
#include "records/record_json.h"
#include "records/utc_time.h"

namespace jig {

namespace {

using records::JsonObject;
using records::JsonValue;

constexpr std::string_view kKinds[] = {"step", "verdict", "record", "notice", "summary"};

std::string_view KindName(UnitEvent::Kind kind) {
  return kKinds[static_cast<int>(kind)];
}

bool KindOf(std::string_view name, UnitEvent::Kind* kind) {
  for (int i = 0; i < static_cast<int>(std::size(kKinds)); ++i) {
    if (kKinds[i] == name) {
      *kind = static_cast<UnitEvent::Kind>(i);
      return true;
    }
  }
  return false;
}

double Number(const JsonValue& value, std::string_view key) {
  const JsonValue* member = value.Find(key);
  return member != nullptr && member->type == JsonValue::Type::kNumber ? member->number : 0;
}

bool Flag(const JsonValue& value, std::string_view key) {
  const JsonValue* member = value.Find(key);
  return member != nullptr && member->type == JsonValue::Type::kBool && member->boolean;
}

double Rounded(double seconds) {
  return std::round(seconds * 1000) / 1000;
}

}  // namespace

std::string UtcNow() {
  return records::UtcNowIso();
}

std::string ToJsonLine(const UnitEvent& e) {
  JsonObject object;
  object.Add("event", KindName(e.kind)).Add("time", e.time);
  if (e.kind != UnitEvent::Kind::kSummary) object.Add("unit", e.unit).Add("device", e.device);
  switch (e.kind) {
    case UnitEvent::Kind::kStep:
      object.Add("step", e.step).Add("detail", e.detail).Add("problem", e.problem);
      break;
    case UnitEvent::Kind::kVerdict:
      object.Add("verdict", e.record.passed ? "PASS" : "FAIL")
          .Add("imei", e.record.imei)
          .AddRaw("reasons", records::ReasonsToJson(e.record.reasons))
          .AddRaw("record", records::RecordToJson(e.record));
      break;
    case UnitEvent::Kind::kRecord:
      object.Add("record_id", e.recordId).Add("stored", e.stored).Add("store", e.store);
      object.Add("message", e.detail);
      break;
    case UnitEvent::Kind::kNotice:
      object.Add("message", e.detail);
      break;
    case UnitEvent::Kind::kSummary:
      object.Add("units", e.units).Add("passed", e.passed).Add("failed", e.failed);
      break;
  }
  object.Add("elapsed_s", Rounded(e.elapsedSeconds));
  return object.Text();
}

bool FromJsonLine(std::string_view line, UnitEvent* e, std::string* error) {
  const std::optional<JsonValue> value = records::ParseJson(line, error);
  if (!value) return false;
  *e = UnitEvent{};
  if (value->type != JsonValue::Type::kObject || !KindOf(value->String("event"), &e->kind)) {
    *error = "not a jig event";
    return false;
  }
  e->time = value->String("time");
  e->unit = value->String("unit");
  e->device = value->String("device");
  e->elapsedSeconds = Number(*value, "elapsed_s");
  e->step = value->String("step");
  e->detail = value->String(e->kind == UnitEvent::Kind::kStep ? "detail" : "message");
  e->problem = Flag(*value, "problem");
  e->recordId = value->String("record_id");
  e->stored = Flag(*value, "stored");
  e->store = value->String("store");
  e->units = static_cast<int>(Number(*value, "units"));
  e->passed = static_cast<int>(Number(*value, "passed"));
  e->failed = static_cast<int>(Number(*value, "failed"));
  if (e->kind != UnitEvent::Kind::kVerdict) return true;
  const JsonValue* record = value->Find("record");
  if (record == nullptr || !records::RecordFromJson(*record, &e->record, error)) {
    if (error->empty()) *error = "a verdict without its record";
    return false;
  }
  return true;
}

}  // namespace jig

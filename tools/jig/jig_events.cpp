#include "tools/jig/jig_events.h"

#include <chrono>
#include <cmath>
#include <ctime>
#include <nlohmann/json.hpp>

#include "records/record_json.h"
#include "records/store_text.h"
#include "records/utc_time.h"

namespace jig {

namespace {

using Json = nlohmann::ordered_json;

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

double Number(const Json& value, const char* key) {
  const auto member = value.find(key);
  if (member == value.end() || !member->is_number()) return 0;
  const double number = member->get<double>();
  return std::isfinite(number) ? number : 0;
}

int Count(const Json& value, const char* key) {
  const double number = Number(value, key);
  return number >= 0 && number <= 1e9 ? static_cast<int>(number) : 0;
}

bool Flag(const Json& value, const char* key) {
  const auto member = value.find(key);
  return member != value.end() && member->is_boolean() && member->get<bool>();
}

std::string Text(const Json& value, const char* key) {
  const auto member = value.find(key);
  return member != value.end() && member->is_string() ? member->get<std::string>() : "";
}

double Rounded(double seconds) {
  return std::round(seconds * 1000) / 1000;
}

}  // namespace

std::string UtcNow() {
  return records::UtcNowIso();
}

std::string ToJsonLine(const UnitEvent& e) {
  Json object = Json::object();
  object["event"] = KindName(e.kind);
  object["time"] = e.time;
  if (e.kind != UnitEvent::Kind::kSummary) {
    object["unit"] = records::StoreText(e.unit);
    object["device"] = records::StoreText(e.device);
  }
  switch (e.kind) {
    case UnitEvent::Kind::kStep:
      object["step"] = e.step;
      object["detail"] = records::StoreText(e.detail);
      object["problem"] = e.problem;
      break;
    case UnitEvent::Kind::kVerdict:
      object["verdict"] = e.record.passed ? "PASS" : "FAIL";
      object["imei"] = records::StoreText(e.record.imei);
      object["reasons"] = records::ReasonsToJsonValue(e.record.reasons);
      object["record"] = records::RecordToJsonValue(e.record);
      break;
    case UnitEvent::Kind::kRecord:
      object["record_id"] = records::StoreText(e.recordId);
      object["stored"] = e.stored;
      object["store"] = records::StoreText(e.store);
      object["message"] = records::StoreText(e.detail);
      object["kept"] = e.kept;
      break;
    case UnitEvent::Kind::kNotice:
      object["message"] = records::StoreText(e.detail);
      break;
    case UnitEvent::Kind::kSummary:
      object["units"] = e.units;
      object["passed"] = e.passed;
      object["failed"] = e.failed;
      break;
  }
  object["elapsed_s"] = std::isfinite(e.elapsedSeconds) ? Rounded(e.elapsedSeconds) : 0.0;
  return object.dump(-1, ' ', false, Json::error_handler_t::replace);
}

bool FromJsonLine(std::string_view line, UnitEvent* e, std::string* error) {
  const Json value = records::ParseJsonText(line);
  *e = UnitEvent{};
  if (value.is_discarded()) {
    *error = "not JSON";
    return false;
  }
  if (!value.is_object() || !KindOf(Text(value, "event"), &e->kind)) {
    *error = "not a jig event";
    return false;
  }
  e->time = Text(value, "time");
  e->unit = Text(value, "unit");
  e->device = Text(value, "device");
  e->elapsedSeconds = Number(value, "elapsed_s");
  e->step = Text(value, "step");
  e->detail = Text(value, e->kind == UnitEvent::Kind::kStep ? "detail" : "message");
  e->problem = Flag(value, "problem");
  e->recordId = Text(value, "record_id");
  e->stored = Flag(value, "stored");
  e->store = Text(value, "store");
  e->kept = Text(value, "kept");
  e->units = Count(value, "units");
  e->passed = Count(value, "passed");
  e->failed = Count(value, "failed");
  if (e->kind != UnitEvent::Kind::kVerdict) return true;
  const auto record = value.find("record");
  error->clear();
  if (record == value.end() || !records::RecordFromJsonValue(*record, &e->record, error)) {
    if (error->empty()) *error = "a verdict without its record";
    return false;
  }
  return true;
}

}  // namespace jig

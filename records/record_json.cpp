#include "records/record_json.h"

#include <cmath>
#include <optional>

namespace records {

namespace {

using Type = JsonValue::Type;

template <typename T>
void AddOptional(JsonObject& object, std::string_view key, const std::optional<T>& value) {
  if (value.has_value()) {
    object.Add(key, *value);
  } else {
    object.AddNull(key);
  }
}

std::string Triple(const char* a, const std::string& va, const char* b, const std::string& vb,
                   const char* c, const std::string& vc) {
  return JsonObject().Add(a, va).Add(b, vb).Add(c, vc).Text();
}

template <typename Item, typename Fields>
std::string ArrayOf(const std::vector<Item>& items, Fields fields) {
  std::string out = "[";
  for (const Item& item : items) {
    if (out.size() > 1) out += ',';
    out += fields(item);
  }
  return out + "]";
}

// Reads the string members `keys` of each object in an array into `make`'s items.
template <typename Item, typename Make>
bool TriplesFrom(const JsonValue& array, std::vector<Item>* out, Make make) {
  if (array.type != Type::kArray) return false;
  out->clear();
  for (const JsonValue& item : array.items) {
    if (item.type != Type::kObject) return false;
    out->push_back(make(item));
  }
  return true;
}

Mismatch MakeMismatch(const JsonValue& item) {
  return {item.String("field"), item.String("expected"), item.String("actual")};
}

FailReason MakeReason(const JsonValue& item) {
  return {item.String("step"), item.String("expected"), item.String("actual")};
}

bool ReadText(const JsonValue& value, const char* key, std::string* out) {
  const JsonValue* member = value.Find(key);
  if (member == nullptr || member->type == Type::kNull) return true;
  if (member->type != Type::kString) return false;
  *out = member->text;
  return true;
}

bool ReadFlag(const JsonValue& value, const char* key, std::optional<bool>* out) {
  const JsonValue* member = value.Find(key);
  if (member == nullptr || member->type == Type::kNull) return true;
  if (member->type != Type::kBool) return false;
  *out = member->boolean;
  return true;
}

bool ReadNumber(const JsonValue& value, const char* key, std::optional<double>* out) {
  const JsonValue* member = value.Find(key);
  if (member == nullptr || member->type == Type::kNull) return true;
  if (member->type != Type::kNumber) return false;
  *out = member->number;
  return true;
}

bool ReadInteger(const JsonValue& value, const char* key, std::optional<int>* out) {
  std::optional<double> number;
  if (!ReadNumber(value, key, &number)) return false;
  if (!number) return true;
  if (*number != std::floor(*number) || std::fabs(*number) > 1e9) return false;
  *out = static_cast<int>(*number);
  return true;
}

}  // namespace

std::string MismatchesToJson(const std::vector<Mismatch>& mismatches) {
  return ArrayOf(mismatches, [](const Mismatch& m) {
    return Triple("field", m.field, "expected", m.expected, "actual", m.actual);
  });
}

std::string ReasonsToJson(const std::vector<FailReason>& reasons) {
  return ArrayOf(reasons, [](const FailReason& r) {
    return Triple("step", r.step, "expected", r.expected, "actual", r.actual);
  });
}

std::string RecordToJson(const UnitRecord& r) {
  JsonObject object;
  object.Add("record_id", r.recordId)
      .Add("started_utc", r.startedUtc)
      .Add("ended_utc", r.endedUtc)
      .Add("station", r.station)
      .Add("operator", r.operatorName)
      .Add("port", r.port)
      .Add("usb_identity", r.usbIdentity)
      .Add("imei", r.imei)
      .Add("firmware", r.firmware)
      .Add("gsm_signal", r.gsmSignal)
      .Add("gps_count", r.gpsCount)
      .Add("agps_count", r.agpsCount)
      .Add("sim", r.sim);
  AddOptional(object, "test_gsm", r.testGsm);
  AddOptional(object, "test_gps", r.testGps);
  AddOptional(object, "test_key", r.testKey);
  AddOptional(object, "ttff_seconds", r.ttffSeconds);
  AddOptional(object, "satellites_used", r.satellitesUsed);
  AddOptional(object, "best_signal_dbhz", r.bestSignalDbHz);
  object.Add("profile_name", r.profileName)
      .Add("profile_hash", r.profileHash)
      .AddRaw("mismatches", MismatchesToJson(r.mismatches))
      .Add("passed", r.passed)
      .AddRaw("reasons", ReasonsToJson(r.reasons))
      .Add("console_version", r.consoleVersion);
  return object.Text();
}

bool RecordFromJson(const JsonValue& v, UnitRecord* r, std::string* error) {
  *r = UnitRecord{};
  const JsonValue* passed = v.Find("passed");
  const JsonValue* mismatches = v.Find("mismatches");
  const JsonValue* reasons = v.Find("reasons");
  const bool ok =
      v.type == Type::kObject && ReadText(v, "record_id", &r->recordId) && !r->recordId.empty() &&
      ReadText(v, "started_utc", &r->startedUtc) && ReadText(v, "ended_utc", &r->endedUtc) &&
      ReadText(v, "station", &r->station) && ReadText(v, "operator", &r->operatorName) &&
      ReadText(v, "port", &r->port) && ReadText(v, "usb_identity", &r->usbIdentity) &&
      ReadText(v, "imei", &r->imei) && ReadText(v, "firmware", &r->firmware) &&
      ReadText(v, "gsm_signal", &r->gsmSignal) && ReadText(v, "gps_count", &r->gpsCount) &&
      ReadText(v, "agps_count", &r->agpsCount) && ReadText(v, "sim", &r->sim) &&
      ReadFlag(v, "test_gsm", &r->testGsm) && ReadFlag(v, "test_gps", &r->testGps) &&
      ReadFlag(v, "test_key", &r->testKey) && ReadNumber(v, "ttff_seconds", &r->ttffSeconds) &&
      ReadInteger(v, "satellites_used", &r->satellitesUsed) &&
      ReadInteger(v, "best_signal_dbhz", &r->bestSignalDbHz) &&
      ReadText(v, "profile_name", &r->profileName) &&
      ReadText(v, "profile_hash", &r->profileHash) &&
      ReadText(v, "console_version", &r->consoleVersion) && passed != nullptr &&
      passed->type == Type::kBool &&
      (mismatches == nullptr || TriplesFrom(*mismatches, &r->mismatches, MakeMismatch)) &&
      (reasons == nullptr || TriplesFrom(*reasons, &r->reasons, MakeReason));
  if (!ok) {
    if (error != nullptr) *error = "not a unit record";
    return false;
  }
  r->passed = passed->boolean;
  return true;
}

bool RecordFromJson(std::string_view text, UnitRecord* record, std::string* error) {
  const std::optional<JsonValue> value = ParseJson(text, error);
  return value.has_value() && RecordFromJson(*value, record, error);
}

bool MismatchesFromJson(std::string_view text, std::vector<Mismatch>* out) {
  const std::optional<JsonValue> value = ParseJson(text, nullptr);
  return value.has_value() && TriplesFrom(*value, out, MakeMismatch);
}

bool ReasonsFromJson(std::string_view text, std::vector<FailReason>* out) {
  const std::optional<JsonValue> value = ParseJson(text, nullptr);
  return value.has_value() && TriplesFrom(*value, out, MakeReason);
}

}  // namespace records

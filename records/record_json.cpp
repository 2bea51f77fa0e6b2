#include "records/record_json.h"

#include <cmath>
#include <nlohmann/json.hpp>
#include <optional>

#include "records/store_text.h"

namespace records {

namespace {

using json = nlohmann::ordered_json;

template <typename T>
json Optional(const std::optional<T>& value) {
  if (!value.has_value()) return nullptr;
  if constexpr (std::is_same_v<T, double>) {
    if (!std::isfinite(*value)) return nullptr;
  }
  return *value;
}

json Triple(const char* a, const std::string& va, const char* b, const std::string& vb,
            const char* c, const std::string& vc) {
  return json::object({{a, StoreText(va)}, {b, StoreText(vb)}, {c, StoreText(vc)}});
}

const json* Member(const json& value, const char* key) {
  const auto found = value.find(key);
  return found == value.end() ? nullptr : &*found;
}

bool ReadText(const json& value, const char* key, std::string* out) {
  const json* member = Member(value, key);
  if (member == nullptr || member->is_null()) return true;
  if (!member->is_string()) return false;
  *out = member->get_ref<const std::string&>();
  return true;
}

bool ReadFlag(const json& value, const char* key, std::optional<bool>* out) {
  const json* member = Member(value, key);
  if (member == nullptr || member->is_null()) return true;
  if (!member->is_boolean()) return false;
  *out = member->get<bool>();
  return true;
}

bool ReadNumber(const json& value, const char* key, std::optional<double>* out) {
  const json* member = Member(value, key);
  if (member == nullptr || member->is_null()) return true;
  if (!member->is_number()) return false;
  *out = member->get<double>();
  return std::isfinite(**out);
}

bool ReadInteger(const json& value, const char* key, std::optional<int>* out) {
  std::optional<double> number;
  if (!ReadNumber(value, key, &number)) return false;
  if (!number) return true;
  if (*number != std::floor(*number) || std::fabs(*number) > 1e9) return false;
  *out = static_cast<int>(*number);
  return true;
}

bool ReadMismatches(const json* array, std::vector<Mismatch>* out) {
  if (array == nullptr) return true;
  if (!array->is_array()) return false;
  for (const json& item : *array) {
    Mismatch m;
    if (!item.is_object() || !ReadText(item, "field", &m.field) ||
        !ReadText(item, "expected", &m.expected) || !ReadText(item, "actual", &m.actual)) {
      return false;
    }
    out->push_back(std::move(m));
  }
  return true;
}

bool ReadReasons(const json* array, std::vector<FailReason>* out) {
  if (array == nullptr) return true;
  if (!array->is_array()) return false;
  for (const json& item : *array) {
    FailReason r;
    if (!item.is_object() || !ReadText(item, "step", &r.step) ||
        !ReadText(item, "expected", &r.expected) || !ReadText(item, "actual", &r.actual)) {
      return false;
    }
    out->push_back(std::move(r));
  }
  return true;
}

}  // namespace

json ReasonsToJsonValue(const std::vector<FailReason>& reasons) {
  json array = json::array();
  for (const FailReason& r : reasons) {
    array.push_back(Triple("step", r.step, "expected", r.expected, "actual", r.actual));
  }
  return array;
}

json RecordToJsonValue(const UnitRecord& r) {
  json mismatches = json::array();
  for (const Mismatch& m : r.mismatches) {
    mismatches.push_back(Triple("field", m.field, "expected", m.expected, "actual", m.actual));
  }
  // Members in the documented order.
  json object = json::object();
  const auto text = [&](const char* key, const std::string& value) {
    object[key] = StoreText(value);
  };
  text("record_id", r.recordId);
  text("started_utc", r.startedUtc);
  text("ended_utc", r.endedUtc);
  text("station", r.station);
  text("operator", r.operatorName);
  text("port", r.port);
  text("usb_identity", r.usbIdentity);
  text("imei", r.imei);
  text("firmware", r.firmware);
  text("gsm_signal", r.gsmSignal);
  text("gps_count", r.gpsCount);
  text("agps_count", r.agpsCount);
  text("sim", r.sim);
  object["test_gsm"] = Optional(r.testGsm);
  object["test_gps"] = Optional(r.testGps);
  object["test_key"] = Optional(r.testKey);
  object["ttff_seconds"] = Optional(r.ttffSeconds);
  object["satellites_used"] = Optional(r.satellitesUsed);
  object["best_signal_dbhz"] = Optional(r.bestSignalDbHz);
  text("profile_name", r.profileName);
  text("profile_hash", r.profileHash);
  object["mismatches"] = std::move(mismatches);
  object["passed"] = r.passed;
  object["reasons"] = ReasonsToJsonValue(r.reasons);
  text("console_version", r.consoleVersion);
  return object;
}

std::string RecordToJson(const UnitRecord& record) {
  return RecordToJsonValue(record).dump(-1, ' ', false, json::error_handler_t::replace);
}

json ParseJsonText(std::string_view text) {
  return json::parse(text.begin(), text.end(), nullptr, false);
}

bool RecordFromJsonValue(const json& v, UnitRecord* r, std::string* error) {
  *r = UnitRecord{};
  const json* passed = v.is_object() ? Member(v, "passed") : nullptr;
  const bool ok =
      v.is_object() && ReadText(v, "record_id", &r->recordId) && !r->recordId.empty() &&
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
      passed->is_boolean() && ReadMismatches(Member(v, "mismatches"), &r->mismatches) &&
      ReadReasons(Member(v, "reasons"), &r->reasons);
  if (!ok) {
    *r = UnitRecord{};
    if (error != nullptr) *error = "not a unit record";
    return false;
  }
  r->passed = passed->get<bool>();
  return true;
}

bool RecordFromJson(std::string_view text, UnitRecord* record, std::string* error) {
  const json value = ParseJsonText(text);
  if (value.is_discarded()) {
    if (error != nullptr) *error = "not JSON";
    return false;
  }
  return RecordFromJsonValue(value, record, error);
}

}  // namespace records

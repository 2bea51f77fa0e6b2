#pragma once
// A unit record as one JSON object (member names as the database columns): the spool's payload
// and the record in the jig's verdict line. Texts are written as UTF-8 (see store_text.h for
// what happens to bytes that are not), numbers the same in every locale.

#include <nlohmann/json_fwd.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "records/unit_record.h"

namespace records {

std::string RecordToJson(const UnitRecord& record);
nlohmann::ordered_json RecordToJsonValue(const UnitRecord& record);
nlohmann::ordered_json ReasonsToJsonValue(const std::vector<FailReason>& reasons);

// Any text as a JSON value; nullopt-like discarded value (is_discarded()) when it is not JSON.
// Never throws.
nlohmann::ordered_json ParseJsonText(std::string_view text);

// False, with `error` set, when the value is not a record (record_id missing, a member of the
// wrong type). Unknown members are ignored, so newer writers stay readable.
bool RecordFromJsonValue(const nlohmann::ordered_json& value, UnitRecord* record,
                         std::string* error);
bool RecordFromJson(std::string_view text, UnitRecord* record, std::string* error);

}  // namespace records

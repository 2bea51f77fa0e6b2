#pragma once
// A unit record as one JSON object (member names as the database columns): the spool's payload
// and the record in the jig's verdict line.

#include <string>
#include <string_view>

#include "records/json_text.h"
#include "records/unit_record.h"

namespace records {

std::string RecordToJson(const UnitRecord& record);
// The mismatches or reasons alone, as a JSON array (how the database keeps them).
std::string MismatchesToJson(const std::vector<Mismatch>& mismatches);
std::string ReasonsToJson(const std::vector<FailReason>& reasons);

// False, with `error` set, when the value is not a record (record_id missing, a member of the
// wrong type). Unknown members are ignored, so newer writers stay readable.
bool RecordFromJson(const JsonValue& value, UnitRecord* record, std::string* error);
bool RecordFromJson(std::string_view text, UnitRecord* record, std::string* error);
bool MismatchesFromJson(std::string_view text, std::vector<Mismatch>* out);
bool ReasonsFromJson(std::string_view text, std::vector<FailReason>* out);

}  // namespace records

#pragma once
// What the jig reports: each step of each unit, each verdict with its record, where each record
// went, notices, and the closing summary. One JSON object per line with --json (the README lists
// the members); a worker jig reports to its parent the same way.

#include <string>
#include <string_view>

#include "records/unit_record.h"

namespace jig {

struct UnitEvent {
  enum class Kind { kStep, kVerdict, kRecord, kNotice, kSummary };
  Kind kind = Kind::kNotice;
  std::string time;           // UTC, ISO 8601
  std::string unit;           // the unit's port, e.g. "COM65 (ttyACM0)"; empty for the whole run
  std::string device;         // its device node
  double elapsedSeconds = 0;  // since the unit was connected (summary: since the start)
  // kStep
  std::string step;    // identify, apply, verify, test, gps, verdict
  std::string detail;  // kStep: what happened; kRecord, kNotice: the message
  bool problem = false;
  // kVerdict (the verdict is record.passed)
  records::UnitRecord record;
  // kRecord
  std::string recordId;
  bool stored = false;
  std::string store;
  std::string kept;  // where: "store", "spool", "quarantine" or "nowhere"
  // kSummary
  int units = 0;
  int passed = 0;
  int failed = 0;
};

// The current time as the events carry it: "2026-12-06T23:41:07.123Z".
std::string UtcNow();

std::string ToJsonLine(const UnitEvent& event);  // without the line end
// False, with `error` set, when the line is not an event of ours.
bool FromJsonLine(std::string_view line, UnitEvent* event, std::string* error);

// Where events go: the live view, JSON lines, or a parent's reader.
class EventSink {
 public:
  virtual ~EventSink() = default;
  virtual void OnEvent(const UnitEvent& event) = 0;
  // Called about once a second while units run, so elapsed times can move on.
  virtual void OnIdle() {}
};

}  // namespace jig

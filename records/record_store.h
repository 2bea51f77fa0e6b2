#pragma once
// Where unit records are kept: one interface over an embedded SQLite file (one station) and a
// PostgreSQL server (a whole line), chosen by a URL. Same schema and numbered migrations on both.
// A store is used from one thread at a time.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "records/unit_record.h"

namespace records {

// Errors are values: ok, or a message fit for the operator (names the store and the reason).
struct StoreStatus {
  bool ok = true;
  std::string message;
  static StoreStatus Ok() { return {}; }
  static StoreStatus Fail(std::string text) { return {false, std::move(text)}; }
};

struct RecordFilter {
  std::string imei;            // empty: any
  std::optional<bool> passed;  // nullopt: any verdict
  std::string fromUtc;         // inclusive ISO 8601 bound on startedUtc; empty: open
  std::string toUtc;           // exclusive bound; empty: open
  std::size_t limit = 0;       // 0: no limit; newest first when set
};

struct DayCounts {
  std::int64_t passed = 0;
  std::int64_t failed = 0;
};

class RecordStore {
 public:
  virtual ~RecordStore() = default;
  // Writes one record in one transaction. Writing the same recordId twice keeps one record.
  virtual StoreStatus Append(const UnitRecord& record) = 0;
  // Records matching the filter, newest first.
  virtual StoreStatus Query(const RecordFilter& filter, std::vector<UnitRecord>* out) = 0;
  // PASS and FAIL counts of records started within [fromUtc, toUtc).
  virtual StoreStatus Count(const std::string& fromUtc, const std::string& toUtc,
                            DayCounts* out) = 0;
  // What the operator sees as the store's name, e.g. the file path or the server and database.
  [[nodiscard]] virtual std::string Describe() const = 0;
};

// "sqlite:PATH" or "postgresql://..."; an empty URL means the default SQLite file under
// $XDG_DATA_HOME/tracker-console/. Opens (creating and migrating as needed) or says why not.
std::unique_ptr<RecordStore> OpenStore(const std::string& url, StoreStatus* status);

// The default SQLite file's path.
std::string DefaultStorePath();

}  // namespace records

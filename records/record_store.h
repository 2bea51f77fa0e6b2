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

// Why a store did not take a record. Unreachable and busy pass (the record waits and is sent
// again); the others need a person (the record is set aside until it is resent).
enum class StoreFault {
  kNone,
  kUnreachable,     // no connection: server stopped, hung, network away
  kBusy,            // locked past the time-out, statement cancelled, too many clients
  kAuthentication,  // wrong or missing password, no entry for this user
  kPermission,      // the user may not write there
  kData,            // the store refused the values (constraint, encoding)
  kSchemaNewer,     // written by a newer program
  kOther,
};

// Whether a fault clears by itself, so the record can wait and be sent again.
inline bool Passes(StoreFault fault) {
  return fault == StoreFault::kUnreachable || fault == StoreFault::kBusy;
}

// Where Append left a record.
enum class RecordPlace {
  kStore,       // in the store
  kSpool,       // waiting in the local spool, sent on by itself
  kQuarantine,  // set aside in the local spool until a person resends it
  kNowhere,     // lost: nothing could keep it
};

// Errors are values: ok, or a message fit for the operator (names the store and the reason).
struct StoreStatus {
  bool ok = true;
  std::string message;
  StoreFault fault = StoreFault::kNone;
  RecordPlace place = RecordPlace::kStore;  // Append's record
  static StoreStatus Ok() { return {}; }
  static StoreStatus Fail(std::string text, StoreFault fault = StoreFault::kOther) {
    return {false, std::move(text), fault, RecordPlace::kNowhere};
  }
};

// The fault's name, as the operator and `tracker-jig records` read it.
const char* FaultName(StoreFault fault);

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
  // Sends the records waiting in a spool (a line's store while its server was away). Ok with
  // an empty message when nothing waits or the store keeps no spool; ok with a message when
  // records were sent; not ok, saying why, when they still wait.
  virtual StoreStatus Flush() { return StoreStatus::Ok(); }
  // What the operator sees as the store's name, e.g. the file path or the server and database.
  [[nodiscard]] virtual std::string Describe() const = 0;
  // Which store this is, however it was named: the key of its records in a spool.
  [[nodiscard]] virtual std::string Identity() const { return Describe(); }
};

// The environment variable that sets a station's store when no URL is given.
inline constexpr const char* kStoreUrlVariable = "TRACKER_CONSOLE_RECORDS";

// "sqlite:PATH" or "postgresql://..."; an empty URL means $TRACKER_CONSOLE_RECORDS or, without
// it, the default SQLite file under $XDG_DATA_HOME/tracker-console/. Opens (creating and
// migrating as needed) or says why not.
std::unique_ptr<RecordStore> OpenStore(const std::string& url, StoreStatus* status);

// The default SQLite file's path.
std::string DefaultStorePath();

}  // namespace records

#include "records/sqlite_store.h"

#include <sqlite3.h>

#include <filesystem>
#include <system_error>

#include "records/schema.h"
#include "records/store_text.h"

namespace records {

namespace {

// One prepared statement, finalized with its owner.
class Statement {
 public:
  Statement() = default;
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  ~Statement() { Finalize(); }

  void Finalize() {
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
  }

  bool Prepare(sqlite3* db, std::string_view sql) {
    Finalize();
    return sqlite3_prepare_v3(db, sql.data(), static_cast<int>(sql.size()),
                              SQLITE_PREPARE_PERSISTENT, &stmt_, nullptr) == SQLITE_OK;
  }
  void Reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
  void Text(int index, const std::string& value) {
    const std::string text = StoreText(value);
    sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  }
  void Int(int index, std::int64_t value) { sqlite3_bind_int64(stmt_, index, value); }
  void Flag(int index, std::optional<bool> value) {
    if (value)
      Int(index, *value ? 1 : 0);
    else
      sqlite3_bind_null(stmt_, index);
  }
  void Number(int index, std::optional<int> value) {
    if (value)
      Int(index, *value);
    else
      sqlite3_bind_null(stmt_, index);
  }
  void Real(int index, std::optional<double> value) {
    if (value)
      sqlite3_bind_double(stmt_, index, *value);
    else
      sqlite3_bind_null(stmt_, index);
  }
  int Step() { return sqlite3_step(stmt_); }

  [[nodiscard]] std::string ColText(int column) const {
    const auto* text = sqlite3_column_text(stmt_, column);
    return text ? std::string(reinterpret_cast<const char*>(text),
                              static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)))
                : std::string();
  }
  [[nodiscard]] bool IsNull(int column) const {
    return sqlite3_column_type(stmt_, column) == SQLITE_NULL;
  }
  [[nodiscard]] std::int64_t ColInt(int column) const {
    return sqlite3_column_int64(stmt_, column);
  }
  [[nodiscard]] std::optional<bool> ColFlag(int column) const {
    if (IsNull(column)) return std::nullopt;
    return ColInt(column) != 0;
  }
  [[nodiscard]] std::optional<int> ColNumber(int column) const {
    if (IsNull(column)) return std::nullopt;
    return static_cast<int>(ColInt(column));
  }
  [[nodiscard]] std::optional<double> ColReal(int column) const {
    if (IsNull(column)) return std::nullopt;
    return sqlite3_column_double(stmt_, column);
  }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

constexpr std::string_view kInsertRecord =
    "INSERT OR IGNORE INTO unit_record (record_id, started_utc, ended_utc, station,"
    " operator_name, port, usb_identity, imei, firmware, gsm_signal, gps_count, agps_count, sim,"
    " test_gsm, test_gps, test_key, ttff_seconds, satellites_used, best_signal_dbhz,"
    " profile_name, profile_hash, passed, console_version)"
    " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17, ?18,"
    " ?19, ?20, ?21, ?22, ?23)";
constexpr std::string_view kInsertMismatch =
    "INSERT INTO unit_mismatch (record_id, seq, field, expected, actual)"
    " VALUES (?1, ?2, ?3, ?4, ?5)";
constexpr std::string_view kInsertReason =
    "INSERT INTO unit_reason (record_id, seq, step, expected, actual) VALUES (?1, ?2, ?3, ?4, ?5)";
constexpr std::string_view kSelectRecords =
    "SELECT record_id, started_utc, ended_utc, station, operator_name, port, usb_identity, imei,"
    " firmware, gsm_signal, gps_count, agps_count, sim, test_gsm, test_gps, test_key,"
    " ttff_seconds, satellites_used, best_signal_dbhz, profile_name, profile_hash, passed,"
    " console_version FROM unit_record"
    " WHERE (?1 = '' OR imei = ?1) AND (?2 < 0 OR passed = ?2)"
    " AND (?3 = '' OR started_utc >= ?3) AND (?4 = '' OR started_utc < ?4)"
    " ORDER BY started_utc DESC, rowid DESC LIMIT ?5";
constexpr std::string_view kSelectMismatches =
    "SELECT field, expected, actual FROM unit_mismatch WHERE record_id = ?1 ORDER BY seq";
constexpr std::string_view kSelectReasons =
    "SELECT step, expected, actual FROM unit_reason WHERE record_id = ?1 ORDER BY seq";
constexpr std::string_view kCount =
    "SELECT COALESCE(SUM(passed), 0), COALESCE(SUM(1 - passed), 0) FROM unit_record"
    " WHERE started_utc >= ?1 AND started_utc < ?2";

// What an SQLite error code means for a record: wait and retry, or see to it.
StoreFault FaultOfCode(int code) {
  switch (code & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return StoreFault::kBusy;
    case SQLITE_CONSTRAINT:
    case SQLITE_MISMATCH:
    case SQLITE_TOOBIG:
      return StoreFault::kData;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
    case SQLITE_CANTOPEN:
      return StoreFault::kPermission;
    default:
      return StoreFault::kOther;
  }
}

class SqliteStore final : public RecordStore {
 public:
  explicit SqliteStore(std::string path) : path_(std::move(path)) {}
  SqliteStore(const SqliteStore&) = delete;
  SqliteStore& operator=(const SqliteStore&) = delete;
  ~SqliteStore() override {
    for (auto* statement : {&insertRecord_, &insertMismatch_, &insertReason_, &selectRecords_,
                            &selectMismatches_, &selectReasons_, &count_}) {
      statement->Finalize();
    }
    sqlite3_close_v2(db_);
  }

  StoreStatus Open();
  StoreStatus Append(const UnitRecord& record) override;
  StoreStatus Query(const RecordFilter& filter, std::vector<UnitRecord>* out) override;
  StoreStatus Count(const std::string& fromUtc, const std::string& toUtc, DayCounts* out) override;
  [[nodiscard]] std::string Describe() const override { return path_; }

 private:
  StoreStatus Fail(const std::string& what) const {
    return StoreStatus::Fail(path_ + ": " + what + ": " + (db_ ? sqlite3_errmsg(db_) : "?"),
                             db_ ? FaultOfCode(sqlite3_extended_errcode(db_)) : StoreFault::kOther);
  }
  bool Exec(std::string_view sql) {
    return sqlite3_exec(db_, std::string(sql).c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
  }
  StoreStatus Migrate();
  StoreStatus PrepareAll();
  StoreStatus InsertAll(const UnitRecord& record);
  bool ReadChildren(UnitRecord* record);

  std::string path_;
  sqlite3* db_ = nullptr;
  Statement insertRecord_, insertMismatch_, insertReason_;
  Statement selectRecords_, selectMismatches_, selectReasons_, count_;
};

StoreStatus SqliteStore::Open() {
  std::error_code error;
  const auto folder = std::filesystem::path(path_).parent_path();
  if (!folder.empty()) std::filesystem::create_directories(folder, error);
  if (error) return StoreStatus::Fail(path_ + ": cannot create its folder: " + error.message());
  if (sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
      SQLITE_OK) {
    return Fail("cannot open");
  }
  sqlite3_busy_timeout(db_, 5000);
  // WAL keeps readers (the records view) off the writer's back. NORMAL: a committed record
  // survives the process being killed at any moment and the file stays consistent; only a
  // power cut may take the last commits back (syncing each one costs 5-20 ms per record).
  if (!Exec("PRAGMA journal_mode = WAL") || !Exec("PRAGMA synchronous = NORMAL") ||
      !Exec("PRAGMA foreign_keys = ON")) {
    return Fail("cannot set up");
  }
  if (auto status = Migrate(); !status.ok) return status;
  return PrepareAll();
}

StoreStatus SqliteStore::Migrate() {
  // A current file opens without its write lock, so a station starts while another holds it.
  {
    Statement version;
    if (version.Prepare(db_, "SELECT MAX(version) FROM schema_version") &&
        version.Step() == SQLITE_ROW && version.ColInt(0) == CurrentSchemaVersion()) {
      return StoreStatus::Ok();
    }
  }
  if (!Exec("BEGIN IMMEDIATE")) return Fail("cannot start the schema upgrade");
  Statement version;
  int current = 0;
  bool ok = Exec(kCreateVersionTable) &&
            version.Prepare(db_, "SELECT COALESCE(MAX(version), 0) FROM schema_version");
  if (ok && version.Step() == SQLITE_ROW) current = static_cast<int>(version.ColInt(0));
  version.Finalize();
  if (ok && current > CurrentSchemaVersion()) {
    Exec("ROLLBACK");
    return StoreStatus::Fail(
        path_ + ": written by a newer console (schema version " + std::to_string(current) + ")",
        StoreFault::kSchemaNewer);
  }
  for (const auto& migration : Migrations()) {
    if (!ok || migration.version <= current) continue;
    for (auto step : migration.steps) ok = ok && Exec(step);
    ok = ok && Exec("DELETE FROM schema_version") &&
         Exec("INSERT INTO schema_version (version) VALUES (" + std::to_string(migration.version) +
              ")");
  }
  if (!ok) {
    auto status = Fail("cannot upgrade the schema");
    Exec("ROLLBACK");
    return status;
  }
  return Exec("COMMIT") ? StoreStatus::Ok() : Fail("cannot commit the schema upgrade");
}

StoreStatus SqliteStore::PrepareAll() {
  const bool ok =
      insertRecord_.Prepare(db_, kInsertRecord) && insertMismatch_.Prepare(db_, kInsertMismatch) &&
      insertReason_.Prepare(db_, kInsertReason) && selectRecords_.Prepare(db_, kSelectRecords) &&
      selectMismatches_.Prepare(db_, kSelectMismatches) &&
      selectReasons_.Prepare(db_, kSelectReasons) && count_.Prepare(db_, kCount);
  return ok ? StoreStatus::Ok() : Fail("cannot prepare");
}

StoreStatus SqliteStore::InsertAll(const UnitRecord& r) {
  auto& s = insertRecord_;
  s.Reset();
  int i = 1;
  for (const auto* text :
       {&r.recordId, &r.startedUtc, &r.endedUtc, &r.station, &r.operatorName, &r.port,
        &r.usbIdentity, &r.imei, &r.firmware, &r.gsmSignal, &r.gpsCount, &r.agpsCount, &r.sim}) {
    s.Text(i++, *text);
  }
  s.Flag(14, r.testGsm);
  s.Flag(15, r.testGps);
  s.Flag(16, r.testKey);
  s.Real(17, r.ttffSeconds);
  s.Number(18, r.satellitesUsed);
  s.Number(19, r.bestSignalDbHz);
  s.Text(20, r.profileName);
  s.Text(21, r.profileHash);
  s.Int(22, r.passed ? 1 : 0);
  s.Text(23, r.consoleVersion);
  if (s.Step() != SQLITE_DONE) return Fail("cannot write the record");
  // Already stored (a spool delivering twice): keep the first, add nothing.
  s.Reset();
  if (sqlite3_changes(db_) == 0) return StoreStatus::Ok();
  auto child = [&](Statement& st, int seq, const std::string& a, const std::string& b,
                   const std::string& c) {
    st.Reset();
    st.Text(1, r.recordId);
    st.Int(2, seq);
    st.Text(3, a);
    st.Text(4, b);
    st.Text(5, c);
    return st.Step() == SQLITE_DONE;
  };
  int seq = 0;
  for (const auto& m : r.mismatches) {
    if (!child(insertMismatch_, seq++, m.field, m.expected, m.actual)) {
      return Fail("cannot write a mismatch");
    }
  }
  seq = 0;
  for (const auto& reason : r.reasons) {
    if (!child(insertReason_, seq++, reason.step, reason.expected, reason.actual)) {
      return Fail("cannot write a reason");
    }
  }
  return StoreStatus::Ok();
}

StoreStatus SqliteStore::Append(const UnitRecord& record) {
  if (record.recordId.empty()) return StoreStatus::Fail(path_ + ": a record without an id");
  if (!Exec("BEGIN IMMEDIATE")) return Fail("cannot start a transaction");
  auto status = InsertAll(record);
  if (status.ok && !Exec("COMMIT")) status = Fail("cannot commit the record");
  if (!status.ok) Exec("ROLLBACK");
  return status;
}

bool SqliteStore::ReadChildren(UnitRecord* record) {
  for (auto* st : {&selectMismatches_, &selectReasons_}) {
    st->Reset();
    st->Text(1, record->recordId);
    int rc;
    while ((rc = st->Step()) == SQLITE_ROW) {
      if (st == &selectMismatches_) {
        record->mismatches.push_back({st->ColText(0), st->ColText(1), st->ColText(2)});
      } else {
        record->reasons.push_back({st->ColText(0), st->ColText(1), st->ColText(2)});
      }
    }
    st->Reset();
    if (rc != SQLITE_DONE) return false;
  }
  return true;
}

StoreStatus SqliteStore::Query(const RecordFilter& filter, std::vector<UnitRecord>* out) {
  out->clear();
  auto& s = selectRecords_;
  s.Reset();
  s.Text(1, filter.imei);
  s.Int(2, filter.passed ? (*filter.passed ? 1 : 0) : -1);
  s.Text(3, filter.fromUtc);
  s.Text(4, filter.toUtc);
  s.Int(5, filter.limit ? static_cast<std::int64_t>(filter.limit) : -1);
  int rc;
  while ((rc = s.Step()) == SQLITE_ROW) {
    UnitRecord r;
    int c = 0;
    for (auto* text :
         {&r.recordId, &r.startedUtc, &r.endedUtc, &r.station, &r.operatorName, &r.port,
          &r.usbIdentity, &r.imei, &r.firmware, &r.gsmSignal, &r.gpsCount, &r.agpsCount, &r.sim}) {
      *text = s.ColText(c++);
    }
    r.testGsm = s.ColFlag(13);
    r.testGps = s.ColFlag(14);
    r.testKey = s.ColFlag(15);
    r.ttffSeconds = s.ColReal(16);
    r.satellitesUsed = s.ColNumber(17);
    r.bestSignalDbHz = s.ColNumber(18);
    r.profileName = s.ColText(19);
    r.profileHash = s.ColText(20);
    r.passed = s.ColInt(21) != 0;
    r.consoleVersion = s.ColText(22);
    out->push_back(std::move(r));
  }
  s.Reset();
  if (rc != SQLITE_DONE) return Fail("cannot read the records");
  for (auto& record : *out) {
    if (!ReadChildren(&record)) {
      const std::string id = record.recordId;
      out->clear();
      return Fail("cannot read record " + id + " whole");
    }
  }
  return StoreStatus::Ok();
}

StoreStatus SqliteStore::Count(const std::string& fromUtc, const std::string& toUtc,
                               DayCounts* out) {
  count_.Reset();
  count_.Text(1, fromUtc);
  count_.Text(2, toUtc);
  if (count_.Step() != SQLITE_ROW) return Fail("cannot count the records");
  out->passed = count_.ColInt(0);
  out->failed = count_.ColInt(1);
  count_.Reset();
  return StoreStatus::Ok();
}

}  // namespace

std::unique_ptr<RecordStore> OpenSqliteStore(const std::string& path, StoreStatus* status) {
  auto store = std::make_unique<SqliteStore>(path);
  *status = store->Open();
  if (!status->ok) return nullptr;
  return store;
}

}  // namespace records

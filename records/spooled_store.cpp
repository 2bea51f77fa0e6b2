#include "records/spooled_store.h"

#include <sqlite3.h>

#include <filesystem>

#include "records/pg_store.h"
#include "records/record_json.h"

namespace records {

namespace {

constexpr const char* kSpoolSchema =
    "CREATE TABLE IF NOT EXISTS spool ("
    " seq INTEGER PRIMARY KEY AUTOINCREMENT,"
    " target TEXT NOT NULL,"
    " record_id TEXT NOT NULL,"
    " payload TEXT NOT NULL,"
    " UNIQUE (target, record_id))";

// One prepared statement.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr); }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  Statement& Bind(int index, const std::string& text) {
    sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Statement& Bind(int index, std::int64_t number) {
    sqlite3_bind_int64(stmt_, index, number);
    return *this;
  }
  int Step() { return stmt_ != nullptr ? sqlite3_step(stmt_) : SQLITE_ERROR; }
  [[nodiscard]] std::int64_t Int(int column) const { return sqlite3_column_int64(stmt_, column); }
  [[nodiscard]] std::string Text(int column) const {
    const auto* text = sqlite3_column_text(stmt_, column);
    return text != nullptr ? reinterpret_cast<const char*>(text) : "";
  }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

std::string Plural(std::int64_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

class SpooledStore final : public RecordStore {
 public:
  SpooledStore(const std::string& url, std::string spoolPath)
      : server_(url), target_(RedactUrl(url)), spoolPath_(std::move(spoolPath)) {}
  ~SpooledStore() override { sqlite3_close_v2(spool_); }
  SpooledStore(const SpooledStore&) = delete;
  SpooledStore& operator=(const SpooledStore&) = delete;

  StoreStatus OpenSpool();
  StoreStatus Greet();

  StoreStatus Append(const UnitRecord& record) override;
  StoreStatus Query(const RecordFilter& filter, std::vector<UnitRecord>* out) override;
  StoreStatus Count(const std::string& fromUtc, const std::string& toUtc, DayCounts* out) override;
  StoreStatus Flush() override;
  [[nodiscard]] std::string Describe() const override { return server_.Describe(); }

 private:
  StoreStatus SpoolFail(const std::string& what) const {
    return StoreStatus::Fail(spoolPath_ + ": " + what + ": " + sqlite3_errmsg(spool_));
  }
  std::int64_t Waiting();
  StoreStatus Keep(const UnitRecord& record, const StoreStatus& why);
  StoreStatus Waits(const std::string& why);
  // Sends the waiting records in order; false when some still wait (`status` says why).
  bool Drain(std::int64_t* sent, StoreStatus* status);
  StoreStatus ServerDown(const StoreStatus& why);

  PgStore server_;
  std::string target_;  // the spool keeps records per server (the URL without its password)
  std::string spoolPath_;
  sqlite3* spool_ = nullptr;
};

StoreStatus SpooledStore::OpenSpool() {
  std::error_code error;
  const auto folder = std::filesystem::path(spoolPath_).parent_path();
  if (!folder.empty()) std::filesystem::create_directories(folder, error);
  if (error)
    return StoreStatus::Fail(spoolPath_ + ": cannot create its folder: " + error.message());
  if (sqlite3_open_v2(spoolPath_.c_str(), &spool_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                      nullptr) != SQLITE_OK) {
    return SpoolFail("cannot open the spool");
  }
  sqlite3_busy_timeout(spool_, 5000);
  for (const char* sql : {"PRAGMA journal_mode = WAL", "PRAGMA synchronous = FULL", kSpoolSchema}) {
    if (sqlite3_exec(spool_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
      return SpoolFail("cannot set up the spool");
    }
  }
  return StoreStatus::Ok();
}

std::int64_t SpooledStore::Waiting() {
  Statement count(spool_, "SELECT COUNT(*) FROM spool WHERE target = ?1");
  count.Bind(1, target_);
  return count.Step() == SQLITE_ROW ? count.Int(0) : 0;
}

StoreStatus SpooledStore::Waits(const std::string& why) {
  return {true, why + "; " + Plural(Waiting(), "record waits", "records wait") + " in " +
                    spoolPath_ + " and will be sent when the server answers"};
}

StoreStatus SpooledStore::Keep(const UnitRecord& record, const StoreStatus& why) {
  if (record.recordId.empty()) return StoreStatus::Fail(Describe() + ": a record without an id");
  Statement insert(spool_,
                   "INSERT OR IGNORE INTO spool (target, record_id, payload) VALUES (?1, ?2, ?3)");
  insert.Bind(1, target_).Bind(2, record.recordId).Bind(3, RecordToJson(record));
  if (insert.Step() != SQLITE_DONE) return SpoolFail("cannot keep the record in the spool");
  return Waits(why.message);
}

bool SpooledStore::Drain(std::int64_t* sent, StoreStatus* status) {
  *sent = 0;
  while (true) {
    Statement next(spool_, "SELECT seq, payload FROM spool WHERE target = ?1 ORDER BY seq LIMIT 1");
    next.Bind(1, target_);
    const int step = next.Step();
    if (step == SQLITE_DONE) return true;
    if (step != SQLITE_ROW) {
      *status = SpoolFail("cannot read the spool");
      return false;
    }
    UnitRecord record;
    std::string error;
    if (!RecordFromJson(next.Text(1), &record, &error)) {
      *status = StoreStatus::Fail(spoolPath_ + ": spooled record " + std::to_string(next.Int(0)) +
                                  " cannot be read (" + error + "); it stays in the spool");
      return false;
    }
    if (server_.Send(record, status) != ServerOutcome::kStored) return false;
    // Gone from the spool only once the server holds it; a crash in between sends it again,
    // which the server ignores (same record id).
    Statement remove(spool_, "DELETE FROM spool WHERE seq = ?1");
    remove.Bind(1, next.Int(0));
    if (remove.Step() != SQLITE_DONE) {
      *status = SpoolFail("cannot clear a sent record from the spool");
      return false;
    }
    ++*sent;
  }
}

StoreStatus SpooledStore::Flush() {
  if (Waiting() == 0) return StoreStatus::Ok();
  std::int64_t sent = 0;
  StoreStatus why;
  if (!Drain(&sent, &why)) {
    StoreStatus waiting = Waits(why.message);
    return StoreStatus::Fail(waiting.message);
  }
  return {true, Describe() + " answers again: " +
                    Plural(sent, "waiting record", "waiting records") + " sent"};
}

StoreStatus SpooledStore::Append(const UnitRecord& record) {
  // Older records first: while any still waits, this one queues behind it.
  std::int64_t sent = 0;
  StoreStatus why;
  if (Waiting() > 0 && !Drain(&sent, &why)) return Keep(record, why);
  if (server_.Send(record, &why) != ServerOutcome::kStored) return Keep(record, why);
  if (sent == 0) return StoreStatus::Ok();
  return {true, Describe() + " answers again: " +
                    Plural(sent, "waiting record", "waiting records") + " sent"};
}

StoreStatus SpooledStore::ServerDown(const StoreStatus& why) {
  const std::int64_t waiting = Waiting();
  if (waiting == 0) return why;
  return StoreStatus::Fail(why.message + " (" + Plural(waiting, "record waits", "records wait") +
                           " in the spool)");
}

StoreStatus SpooledStore::Query(const RecordFilter& filter, std::vector<UnitRecord>* out) {
  Flush();
  StoreStatus status = server_.Query(filter, out);
  return status.ok ? status : ServerDown(status);
}

StoreStatus SpooledStore::Count(const std::string& fromUtc, const std::string& toUtc,
                                DayCounts* out) {
  Flush();
  StoreStatus status = server_.Count(fromUtc, toUtc, out);
  return status.ok ? status : ServerDown(status);
}

StoreStatus SpooledStore::Greet() {
  StoreStatus connected = server_.Connect();
  if (!connected.ok) return Waits(connected.message);
  StoreStatus flushed = Flush();
  return flushed.ok ? flushed : StoreStatus{true, flushed.message};
}

}  // namespace

std::string DefaultSpoolPath() {
  const std::filesystem::path store = DefaultStorePath();
  return (store.parent_path() / "spool.sqlite").string();
}

std::unique_ptr<RecordStore> OpenSpooledStore(const std::string& url, const std::string& spoolPath,
                                              StoreStatus* status) {
  if (std::string error; !CheckPostgresUrl(url, &error)) {
    *status = StoreStatus::Fail(error);
    return nullptr;
  }
  auto store = std::make_unique<SpooledStore>(url, spoolPath);
  *status = store->OpenSpool();
  if (!status->ok) return nullptr;
  *status = store->Greet();
  return store;
}

}  // namespace records

#include "records/spooled_store.h"

#include <sqlite3.h>

#include <filesystem>

#include "records/pg_store.h"
#include "records/record_json.h"
#include "records/utc_time.h"

namespace records {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kSpoolSchema[] = {
    "CREATE TABLE IF NOT EXISTS spool ("
    " seq INTEGER PRIMARY KEY AUTOINCREMENT,"
    " target TEXT NOT NULL,"
    " record_id TEXT NOT NULL,"
    " payload TEXT NOT NULL,"
    " UNIQUE (target, record_id))",
    "CREATE TABLE IF NOT EXISTS quarantine ("
    " seq INTEGER PRIMARY KEY AUTOINCREMENT,"
    " target TEXT NOT NULL,"
    " record_id TEXT NOT NULL,"
    " payload TEXT NOT NULL,"
    " fault TEXT NOT NULL,"
    " reason TEXT NOT NULL,"
    " since_utc TEXT NOT NULL,"
    " UNIQUE (target, record_id))",
};

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

// The spool file, opened (and created) for reading and writing.
StoreStatus OpenSpoolFile(const std::string& path, sqlite3** db) {
  std::error_code error;
  const auto folder = std::filesystem::path(path).parent_path();
  if (!folder.empty()) std::filesystem::create_directories(folder, error);
  if (error) return StoreStatus::Fail(path + ": cannot create its folder: " + error.message());
  const bool opened = sqlite3_open_v2(path.c_str(), db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                                      nullptr) == SQLITE_OK;
  sqlite3_busy_timeout(*db, 5000);
  bool ok = opened;
  for (const char* sql : {"PRAGMA journal_mode = WAL", "PRAGMA synchronous = FULL"}) {
    ok = ok && sqlite3_exec(*db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
  }
  for (const char* sql : kSpoolSchema) {
    ok = ok && sqlite3_exec(*db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
  }
  if (ok) return StoreStatus::Ok();
  return StoreStatus::Fail(path + ": cannot open the spool: " + sqlite3_errmsg(*db));
}

class SpooledStore final : public RecordStore {
 public:
  SpooledStore(std::unique_ptr<RecordStore> store, std::string key, SpoolSettings settings)
      : store_(std::move(store)),
        target_(std::move(key)),
        settings_(std::move(settings)),
        retryDelay_(settings_.firstRetry) {}
  ~SpooledStore() override { sqlite3_close_v2(spool_); }
  SpooledStore(const SpooledStore&) = delete;
  SpooledStore& operator=(const SpooledStore&) = delete;

  StoreStatus OpenSpool() { return OpenSpoolFile(settings_.path, &spool_); }
  StoreStatus Greet(const StoreStatus& contact);

  StoreStatus Append(const UnitRecord& record) override;
  StoreStatus Query(const RecordFilter& filter, std::vector<UnitRecord>* out) override;
  StoreStatus Count(const std::string& fromUtc, const std::string& toUtc, DayCounts* out) override;
  StoreStatus Flush() override;
  [[nodiscard]] std::string Describe() const override { return store_->Describe(); }
  [[nodiscard]] std::string Identity() const override { return target_; }

 private:
  enum class Delivery { kStored, kWaits, kRefused };

  StoreStatus SpoolFail(const std::string& what) const {
    StoreStatus status =
        StoreStatus::Fail(settings_.path + ": " + what + ": " + sqlite3_errmsg(spool_));
    return status;
  }
  std::int64_t Waiting();
  StoreStatus Waits(const std::string& why, StoreFault fault);
  StoreStatus Keep(const UnitRecord& record, const StoreStatus& why);
  StoreStatus SetAside(const std::string& recordId, const std::string& payload,
                       const StoreStatus& why);
  Delivery Deliver(const UnitRecord& record, StoreStatus* status);
  void FollowIdentity();
  void Rekey(const std::string& from, const std::string& to);
  // Sends the waiting records in order; false when some still wait (`status` says why).
  // Refused ones are set aside on the way; `aside` tells of them.
  bool Drain(std::int64_t* sent, StoreStatus* status, std::string* aside);
  [[nodiscard]] bool Resting() const { return Clock::now() < retryAt_; }
  StoreStatus StoreAway(const StoreStatus& why);

  std::unique_ptr<RecordStore> store_;
  std::string target_;  // the store's key in the spool (see FollowIdentity)
  SpoolSettings settings_;
  sqlite3* spool_ = nullptr;
  Clock::time_point retryAt_{};
  std::chrono::milliseconds retryDelay_;
  StoreStatus lastFailure_;
};

std::int64_t SpooledStore::Waiting() {
  Statement count(spool_, "SELECT COUNT(*) FROM spool WHERE target = ?1");
  count.Bind(1, target_);
  return count.Step() == SQLITE_ROW ? count.Int(0) : 0;
}

StoreStatus SpooledStore::Waits(const std::string& why, StoreFault fault) {
  return {true,
          why + "; " + Plural(Waiting(), "record waits", "records wait") + " in " + settings_.path +
              " and will be sent when the store answers",
          fault, RecordPlace::kSpool};
}

StoreStatus SpooledStore::Keep(const UnitRecord& record, const StoreStatus& why) {
  if (record.recordId.empty()) return StoreStatus::Fail(Describe() + ": a record without an id");
  Statement insert(spool_,
                   "INSERT OR IGNORE INTO spool (target, record_id, payload) VALUES (?1, ?2, ?3)");
  insert.Bind(1, target_).Bind(2, record.recordId).Bind(3, RecordToJson(record));
  if (insert.Step() != SQLITE_DONE) {
    StoreStatus lost =
        SpoolFail("cannot keep record " + record.recordId + " (" + why.message + ") in the spool");
    lost.fault = why.fault;
    return lost;
  }
  return Waits(why.message, why.fault);
}

StoreStatus SpooledStore::SetAside(const std::string& recordId, const std::string& payload,
                                   const StoreStatus& why) {
  Statement insert(spool_,
                   "INSERT OR REPLACE INTO quarantine (target, record_id, payload, fault, reason,"
                   " since_utc) VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
  insert.Bind(1, target_).Bind(2, recordId).Bind(3, payload).Bind(4, FaultName(why.fault));
  insert.Bind(5, why.message).Bind(6, UtcNowIso());
  if (insert.Step() != SQLITE_DONE) {
    StoreStatus lost = SpoolFail("cannot set record " + recordId + " aside (" + why.message + ")");
    lost.fault = why.fault;
    return lost;
  }
  return {false,
          "record " + recordId + " refused (" + FaultName(why.fault) + "): " + why.message +
              "; it is kept in " + settings_.path +
              "; resend it with: tracker-jig records resend " + recordId,
          why.fault, RecordPlace::kQuarantine};
}

void SpooledStore::Rekey(const std::string& from, const std::string& to) {
  for (const char* sql : {"UPDATE OR REPLACE spool SET target = ?1 WHERE target = ?2",
                          "UPDATE OR REPLACE quarantine SET target = ?1 WHERE target = ?2"}) {
    Statement move(spool_, sql);
    move.Bind(1, to).Bind(2, from);
    move.Step();
  }
}

void SpooledStore::FollowIdentity() {
  // Records kept while the store had not yet said who it is are keyed by its URL (here or in an
  // earlier run); once it has, they join its own.
  const std::string identity = store_->Identity();
  if (identity != target_) {
    Rekey(target_, identity);
    target_ = identity;
  }
  if (const std::string named = store_->Describe(); named != target_) Rekey(named, target_);
}

SpooledStore::Delivery SpooledStore::Deliver(const UnitRecord& record, StoreStatus* status) {
  *status = store_->Append(record);
  if (status->ok) {
    retryDelay_ = settings_.firstRetry;
    retryAt_ = {};
    FollowIdentity();
    return Delivery::kStored;
  }
  if (!Passes(status->fault)) return Delivery::kRefused;
  lastFailure_ = *status;
  retryAt_ = Clock::now() + retryDelay_;
  retryDelay_ = std::min(retryDelay_ * 2, settings_.lastRetry);
  return Delivery::kWaits;
}

bool SpooledStore::Drain(std::int64_t* sent, StoreStatus* status, std::string* aside) {
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
    const std::int64_t seq = next.Int(0);
    UnitRecord record;
    std::string error;
    StoreStatus delivered;
    Delivery outcome = Delivery::kRefused;
    if (RecordFromJson(next.Text(1), &record, &error)) {
      outcome = Deliver(record, &delivered);
    } else {
      delivered = StoreStatus::Fail(
          "spooled record " + std::to_string(seq) + " cannot be read (" + error + ")",
          StoreFault::kData);
      record.recordId = "#" + std::to_string(seq);
    }
    if (outcome == Delivery::kWaits) {
      *status = delivered;
      return false;
    }
    if (outcome == Delivery::kRefused) {
      // Set aside, so the records behind it flow.
      const StoreStatus setAside = SetAside(record.recordId, next.Text(1), delivered);
      if (setAside.place != RecordPlace::kQuarantine) {
        *status = setAside;
        return false;
      }
      *aside += (aside->empty() ? "" : "; ") + setAside.message;
    } else {
      ++*sent;
    }
    // Gone from the spool only once the store holds it; a crash in between sends it again,
    // which the store ignores (same record id).
    Statement remove(spool_, "DELETE FROM spool WHERE seq = ?1");
    remove.Bind(1, seq);
    if (remove.Step() != SQLITE_DONE) {
      *status = SpoolFail("cannot clear a sent record from the spool");
      return false;
    }
  }
}

StoreStatus SpooledStore::Flush() {
  FollowIdentity();
  if (Waiting() == 0) return StoreStatus::Ok();
  if (Resting()) {
    StoreStatus waiting = Waits(lastFailure_.message, lastFailure_.fault);
    waiting.ok = false;
    return waiting;
  }
  std::int64_t sent = 0;
  StoreStatus why;
  std::string aside;
  const bool drained = Drain(&sent, &why, &aside);
  if (!drained) {
    StoreStatus waiting = Waits(why.message, why.fault);
    waiting.ok = false;
    if (!aside.empty()) waiting.message = aside + "; " + waiting.message;
    return waiting;
  }
  if (!aside.empty()) return StoreStatus::Fail(aside, StoreFault::kOther);
  return {true, Describe() + " answers again: " +
                    Plural(sent, "waiting record", "waiting records") + " sent"};
}

StoreStatus SpooledStore::Append(const UnitRecord& record) {
  // Older records first: while any still waits, this one queues behind it. While the store
  // rests after a failure, records go straight to the spool.
  if (Resting()) return Keep(record, lastFailure_);
  std::int64_t sent = 0;
  StoreStatus why;
  std::string aside;
  if (Waiting() > 0 && !Drain(&sent, &why, &aside)) return Keep(record, why);
  const Delivery outcome = Deliver(record, &why);
  if (outcome == Delivery::kWaits) return Keep(record, why);
  if (outcome == Delivery::kRefused) return SetAside(record.recordId, RecordToJson(record), why);
  if (sent == 0) return StoreStatus::Ok();
  return {true, Describe() + " answers again: " +
                    Plural(sent, "waiting record", "waiting records") + " sent"};
}

StoreStatus SpooledStore::StoreAway(const StoreStatus& why) {
  const std::int64_t waiting = Waiting();
  if (waiting == 0) return why;
  StoreStatus status = why;
  status.message += " (" + Plural(waiting, "record waits", "records wait") + " in the spool)";
  return status;
}

StoreStatus SpooledStore::Query(const RecordFilter& filter, std::vector<UnitRecord>* out) {
  Flush();
  StoreStatus status = store_->Query(filter, out);
  return status.ok ? status : StoreAway(status);
}

StoreStatus SpooledStore::Count(const std::string& fromUtc, const std::string& toUtc,
                                DayCounts* out) {
  Flush();
  StoreStatus status = store_->Count(fromUtc, toUtc, out);
  return status.ok ? status : StoreAway(status);
}

StoreStatus SpooledStore::Greet(const StoreStatus& contact) {
  if (!contact.ok) {
    StoreStatus waits = Waits(contact.message, contact.fault);
    if (!Passes(contact.fault)) {
      waits.message = contact.message + "; records will be set aside in " + settings_.path +
                      " until this is put right";
    }
    return waits;
  }
  StoreStatus flushed = Flush();
  flushed.ok = true;
  return flushed;
}

std::unique_ptr<RecordStore> Spooled(std::unique_ptr<SpooledStore> store,
                                     const StoreStatus& contact, StoreStatus* status) {
  *status = store->OpenSpool();
  if (!status->ok) return nullptr;
  *status = store->Greet(contact);
  return store;
}

}  // namespace

std::string DefaultSpoolPath() {
  const std::filesystem::path store = DefaultStorePath();
  return (store.parent_path() / "spool.sqlite").string();
}

std::unique_ptr<RecordStore> OpenSpooledStore(const std::string& url, const SpoolSettings& spool,
                                              StoreStatus* status) {
  if (std::string error; !CheckPostgresUrl(url, &error)) {
    *status = StoreStatus::Fail(error);
    return nullptr;
  }
  auto server = std::make_unique<PgStore>(url);
  const StoreStatus contact = server->Connect();
  std::string key = server->Identity();
  return Spooled(std::make_unique<SpooledStore>(std::move(server), std::move(key), spool), contact,
                 status);
}

std::unique_ptr<RecordStore> SpoolInFront(std::unique_ptr<RecordStore> store, std::string key,
                                          const SpoolSettings& spool, StoreStatus* status) {
  return Spooled(std::make_unique<SpooledStore>(std::move(store), std::move(key), spool),
                 StoreStatus::Ok(), status);
}

StoreStatus ListSpool(const std::string& path, std::vector<SpooledRecord>* out) {
  out->clear();
  sqlite3* db = nullptr;
  StoreStatus status = OpenSpoolFile(path, &db);
  if (status.ok) {
    Statement waiting(db, "SELECT target, record_id, payload FROM spool ORDER BY seq");
    while (waiting.Step() == SQLITE_ROW) {
      out->push_back({false, waiting.Text(0), waiting.Text(1), waiting.Text(2), "", "", ""});
    }
    Statement aside(db,
                    "SELECT target, record_id, payload, fault, reason, since_utc FROM quarantine"
                    " ORDER BY seq");
    while (aside.Step() == SQLITE_ROW) {
      out->push_back({true, aside.Text(0), aside.Text(1), aside.Text(2), aside.Text(3),
                      aside.Text(4), aside.Text(5)});
    }
  }
  sqlite3_close_v2(db);
  return status;
}

StoreStatus RequeueQuarantined(const std::string& path, const std::vector<std::string>& ids,
                               std::size_t* moved) {
  *moved = 0;
  sqlite3* db = nullptr;
  StoreStatus status = OpenSpoolFile(path, &db);
  const auto exec = [&](const char* sql) {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
  };
  if (status.ok && !exec("BEGIN IMMEDIATE")) status = StoreStatus::Fail(path + ": busy");
  const auto move = [&](const std::string& id) {
    Statement requeue(db,
                      "INSERT OR IGNORE INTO spool (target, record_id, payload) SELECT target,"
                      " record_id, payload FROM quarantine WHERE ?1 = '' OR record_id = ?1"
                      " ORDER BY seq");
    Statement remove(db, "DELETE FROM quarantine WHERE ?1 = '' OR record_id = ?1");
    requeue.Bind(1, id);
    remove.Bind(1, id);
    if (requeue.Step() != SQLITE_DONE || remove.Step() != SQLITE_DONE) {
      status = StoreStatus::Fail(path + ": " + sqlite3_errmsg(db));
      return;
    }
    const int changed = sqlite3_changes(db);
    if (changed == 0 && !id.empty()) status = StoreStatus::Fail("no record " + id + " set aside");
    *moved += static_cast<std::size_t>(changed);
  };
  if (ids.empty() && status.ok) move("");
  for (const std::string& id : ids) {
    if (status.ok) move(id);
  }
  if (status.ok && !exec("COMMIT")) status = StoreStatus::Fail(path + ": " + sqlite3_errmsg(db));
  if (!status.ok) {
    exec("ROLLBACK");
    *moved = 0;
  }
  sqlite3_close_v2(db);
  return status;
}

}  // namespace records

#include "records/pg_store.h"

#include <libpq-fe.h>

#include <array>
#include <optional>

#include "records/schema.h"
#include "records/store_text.h"

namespace records {

namespace {

// Any fixed number shared by every station of a line: the key of the schema-upgrade lock.
constexpr const char* kMigrationLockKey = "7301125011";
// Nothing waits on the server for long: a server that does not answer within the connect
// time-out counts as unreachable, a lock (the schema upgrade's too) or a statement that takes
// longer is cancelled (busy: the record waits and is sent again), and a connection whose sent
// data stays unacknowledged is dropped. The URL may say otherwise: what it says wins.
constexpr const char* kConnectTimeoutSeconds = "3";
constexpr const char* kServerTimeouts = "-c statement_timeout=5000 -c lock_timeout=2000";
constexpr const char* kTcpUserTimeoutMs = "4000";

constexpr const char* kInsertRecord =
    "INSERT INTO unit_record (record_id, started_utc, ended_utc, station,"
    " operator_name, port, usb_identity, imei, firmware, gsm_signal, gps_count, agps_count, sim,"
    " test_gsm, test_gps, test_key, ttff_seconds, satellites_used, best_signal_dbhz,"
    " profile_name, profile_hash, passed, console_version)"
    " VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12, $13, $14, $15, $16, $17, $18,"
    " $19, $20, $21, $22, $23) ON CONFLICT (record_id) DO NOTHING";
constexpr const char* kInsertMismatch =
    "INSERT INTO unit_mismatch (record_id, seq, field, expected, actual)"
    " VALUES ($1, $2, $3, $4, $5)";
constexpr const char* kInsertReason =
    "INSERT INTO unit_reason (record_id, seq, step, expected, actual) VALUES ($1, $2, $3, $4, $5)";
constexpr const char* kSelectRecords =
    "SELECT record_id, started_utc, ended_utc, station, operator_name, port, usb_identity, imei,"
    " firmware, gsm_signal, gps_count, agps_count, sim, test_gsm, test_gps, test_key,"
    " ttff_seconds, satellites_used, best_signal_dbhz, profile_name, profile_hash, passed,"
    " console_version FROM unit_record"
    " WHERE ($1 = '' OR imei = $1) AND ($2::integer < 0 OR passed = $2::integer)"
    " AND ($3 = '' OR started_utc >= $3) AND ($4 = '' OR started_utc < $4)"
    " ORDER BY started_utc DESC, record_id DESC LIMIT $5::bigint";
constexpr const char* kSelectMismatches =
    "SELECT field, expected, actual FROM unit_mismatch WHERE record_id = $1 ORDER BY seq";
constexpr const char* kSelectReasons =
    "SELECT step, expected, actual FROM unit_reason WHERE record_id = $1 ORDER BY seq";
constexpr const char* kCount =
    "SELECT COALESCE(SUM(passed), 0), COALESCE(SUM(1 - passed), 0) FROM unit_record"
    " WHERE started_utc >= $1 AND started_utc < $2";

// Parameters as text (NULL for an absent value); the server converts them to the column types.
class Params {
 public:
  void Text(const std::string& value) { values_.emplace_back(StoreText(value)); }
  void Null() { values_.emplace_back(std::nullopt); }
  void Int(std::int64_t value) { Text(std::to_string(value)); }
  template <typename T>
  void Optional(const std::optional<T>& value) {
    if (!value) return Null();
    if constexpr (std::is_same_v<T, bool>) {
      Int(*value ? 1 : 0);
    } else if constexpr (std::is_same_v<T, double>) {
      Text(NumberText(*value));
    } else {
      Int(*value);
    }
  }
  [[nodiscard]] std::vector<const char*> Pointers() const {
    std::vector<const char*> pointers;
    for (const auto& value : values_) pointers.push_back(value ? value->c_str() : nullptr);
    return pointers;
  }

 private:
  std::vector<std::optional<std::string>> values_;
};

// One result, cleared with its owner.
class Result {
 public:
  explicit Result(PGresult* result) : result_(result) {}
  ~Result() { PQclear(result_); }
  Result(const Result&) = delete;
  Result& operator=(const Result&) = delete;
  [[nodiscard]] bool Ok() const {
    const ExecStatusType status = PQresultStatus(result_);
    return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
  }
  [[nodiscard]] int Rows() const { return PQntuples(result_); }
  [[nodiscard]] std::string Text(int row, int column) const {
    return PQgetvalue(result_, row, column);
  }
  [[nodiscard]] bool IsNull(int row, int column) const {
    return PQgetisnull(result_, row, column) != 0;
  }
  [[nodiscard]] std::optional<bool> Flag(int row, int column) const {
    if (IsNull(row, column)) return std::nullopt;
    return Text(row, column) != "0";
  }
  [[nodiscard]] std::optional<int> Number(int row, int column) const {
    if (IsNull(row, column)) return std::nullopt;
    return std::stoi(Text(row, column));
  }
  [[nodiscard]] std::optional<double> Real(int row, int column) const {
    if (IsNull(row, column)) return std::nullopt;
    return ParseNumber(PQgetvalue(result_, row, column));
  }
  [[nodiscard]] std::string State() const {
    const char* state = PQresultErrorField(result_, PG_DIAG_SQLSTATE);
    return state != nullptr ? state : "";
  }
  [[nodiscard]] bool Changed() const { return std::string(PQcmdTuples(result_)) != "0"; }

 private:
  PGresult* result_;
};

bool StartsWith(const std::string& text, std::string_view prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// A failed statement's fault, by its SQLSTATE class; a connection that broke is unreachable.
StoreFault FaultOfState(const std::string& state, bool connected) {
  if (!connected || StartsWith(state, "08")) return StoreFault::kUnreachable;
  if (state == "55P03" || state == "57014" || state == "40001" || state == "40P01" ||
      StartsWith(state, "53") || state == "57P03") {
    return StoreFault::kBusy;  // lock or statement time-out, deadlock, no room, starting up
  }
  if (StartsWith(state, "28")) return StoreFault::kAuthentication;
  if (state == "42501") return StoreFault::kPermission;
  if (StartsWith(state, "23") || StartsWith(state, "22")) return StoreFault::kData;
  if (state == "42P01" || state == "42703") return StoreFault::kSchemaNewer;
  return StoreFault::kOther;
}

// A failed connection: refused credentials, or no server to talk to.
StoreFault FaultOfConnection(const PGconn* conn) {
  if (conn != nullptr && (PQconnectionNeedsPassword(conn) || PQconnectionUsedPassword(conn))) {
    return StoreFault::kAuthentication;
  }
  return StoreFault::kUnreachable;
}

// libpq's reason for not reading a URL quotes the offending token, which may be the password:
// keep only the words before the quote.
std::string UnquotedReason(std::string reason) {
  reason = reason.substr(0, reason.find('"'));
  while (!reason.empty() &&
         (reason.back() == '\n' || reason.back() == ' ' || reason.back() == ':')) {
    reason.pop_back();
  }
  return reason;
}

// `text` with the URL's passwords, should the server or libpq quote them, starred out.
std::string WithoutPasswords(std::string text, const std::string& url) {
  PQconninfoOption* options = PQconninfoParse(url.c_str(), nullptr);
  for (const PQconninfoOption* o = options; o != nullptr && o->keyword != nullptr; ++o) {
    const std::string key = o->keyword;
    if (o->val == nullptr || *o->val == '\0' || (key != "password" && key != "sslpassword")) {
      continue;
    }
    const std::string secret = o->val;
    for (std::size_t at; (at = text.find(secret)) != std::string::npos;) {
      text.replace(at, secret.size(), "***");
    }
  }
  PQconninfoFree(options);
  return text;
}

std::string PercentEncoded(const std::string& text, bool inPath) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (std::isalnum(byte) || c == '-' || c == '.' || c == '_' || c == '~' ||
        (!inPath && c == '/')) {
      out += c;
    } else {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 0x0F];
    }
  }
  return out;
}

}  // namespace

struct PgStore::Connection {
  PGconn* conn = nullptr;
  ~Connection() { PQfinish(conn); }
  [[nodiscard]] PGresult* Run(const char* sql, const Params& params) const {
    const auto pointers = params.Pointers();
    return PQexecParams(conn, sql, static_cast<int>(pointers.size()), nullptr, pointers.data(),
                        nullptr, nullptr, 0);
  }
};

bool IsPostgresUrl(const std::string& url) {
  return StartsWith(url, kPostgresPrefix) || StartsWith(url, kPostgresShortPrefix);
}

std::string RedactUrl(const std::string& url) {
  char* problem = nullptr;
  PQconninfoOption* options = PQconninfoParse(url.c_str(), &problem);
  PQfreemem(problem);
  if (options == nullptr) return "postgresql://(a URL libpq cannot read)";
  std::string user, host, port, dbname, query;
  for (const PQconninfoOption* option = options; option->keyword != nullptr; ++option) {
    if (option->val == nullptr || *option->val == '\0') continue;
    const std::string key = option->keyword;
    const std::string value = option->val;
    if (key == "password" || key == "sslpassword") continue;
    // A socket folder or a list of hosts reads best as a parameter.
    const bool plainHost = value.find_first_of("/,") == std::string::npos;
    if (key == "user") {
      user = PercentEncoded(value, true) + "@";
    } else if (key == "host" && plainHost) {
      host = value;
    } else if (key == "port" && plainHost) {
      port = ":" + value;
    } else if (key == "dbname") {
      dbname = PercentEncoded(value, true);
    } else {
      query += (query.empty() ? "?" : "&") + key + "=" + PercentEncoded(value, false);
    }
  }
  PQconninfoFree(options);
  return "postgresql://" + user + host + port + "/" + dbname + query;
}

bool CheckPostgresUrl(const std::string& url, std::string* error) {
  char* problem = nullptr;
  PQconninfoOption* options = PQconninfoParse(url.c_str(), &problem);
  if (options != nullptr) {
    PQconninfoFree(options);
    return true;
  }
  const std::string reason = UnquotedReason(problem != nullptr ? problem : "out of memory");
  PQfreemem(problem);
  *error = "\"" + RedactUrl(url) + "\": not a PostgreSQL URL: " + reason;
  return false;
}

PgStore::PgStore(std::string url) : url_(std::move(url)) {}
PgStore::~PgStore() = default;

std::string PgStore::Describe() const {
  return RedactUrl(url_);
}

std::string PgStore::Identity() const {
  return identity_.empty() ? Describe() : identity_;
}

StoreStatus PgStore::Fail(const std::string& what, StoreFault fault) const {
  std::string reason = connection_ ? PQerrorMessage(connection_->conn) : "";
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == ' ')) reason.pop_back();
  reason = WithoutPasswords(reason, url_);
  return StoreStatus::Fail(Describe() + ": " + what + (reason.empty() ? "" : ": " + reason), fault);
}

StoreStatus PgStore::Refused(const std::string& what, const std::string& state) const {
  const bool connected = connection_ && PQstatus(connection_->conn) == CONNECTION_OK;
  StoreStatus status = Fail(what, FaultOfState(state, connected));
  if (!state.empty()) status.message += " (SQLSTATE " + state + ")";
  return status;
}

bool PgStore::Exec(const char* sql, std::string* state) {
  Result result(PQexec(connection_->conn, sql));
  if (state != nullptr) *state = result.State();
  return result.Ok();
}

void PgStore::DropIfBroken() {
  if (connection_ && PQstatus(connection_->conn) != CONNECTION_OK) connection_.reset();
}

StoreStatus PgStore::Connect() {
  DropIfBroken();
  if (connection_) return StoreStatus::Ok();
  // The URL comes last, so what it says overrides the time-outs given here.
  const std::array<const char*, 9> keys = {
      "connect_timeout",  "options",         "tcp_user_timeout",
      "keepalives",       "keepalives_idle", "keepalives_interval",
      "keepalives_count", "dbname",          nullptr};
  const std::array<const char*, 9> values = {
      kConnectTimeoutSeconds, kServerTimeouts, kTcpUserTimeoutMs, "1", "5", "2", "2",
      url_.c_str(),           nullptr};
  connection_ = std::make_unique<Connection>();
  connection_->conn = PQconnectdbParams(keys.data(), values.data(), 1);
  if (connection_->conn == nullptr || PQstatus(connection_->conn) != CONNECTION_OK) {
    const StoreFault fault = FaultOfConnection(connection_->conn);
    StoreStatus status = Fail(fault == StoreFault::kAuthentication ? "the server refused the login"
                                                                   : "cannot reach the server",
                              fault);
    connection_.reset();
    return status;
  }
  Exec("SET client_min_messages = warning");
  if (migrated_) return StoreStatus::Ok();
  StoreStatus status = Migrate();
  migrated_ = status.ok;
  if (status.ok) ReadIdentity();
  if (!status.ok) connection_.reset();  // the next try migrates again
  return status;
}

void PgStore::ReadIdentity() {
  // Several URLs may name one server: its cluster's identifier and the database tell it.
  Result identity(PQexec(connection_->conn,
                         "SELECT (SELECT system_identifier FROM pg_control_system())::text"
                         " || '/' || current_database()"));
  if (identity.Ok() && identity.Rows() == 1 && !identity.IsNull(0, 0)) {
    identity_ = "postgresql:" + identity.Text(0, 0);
  }
}

StoreStatus PgStore::Migrate() {
  if (!Exec("BEGIN")) return Refused("cannot start the schema upgrade", "");
  // lock_timeout bounds the wait for a station that holds the lock (or hangs holding it).
  const std::string lock = std::string("SELECT pg_advisory_xact_lock(") + kMigrationLockKey + ")";
  std::string state;
  bool ok = Exec(lock.c_str(), &state);
  // A station whose user may only write records cannot create tables, nor needs to.
  Result exists(PQexec(connection_->conn, "SELECT to_regclass('schema_version') IS NOT NULL"));
  const bool hasVersions = exists.Ok() && exists.Rows() == 1 && exists.Text(0, 0) == "t";
  ok = ok && (hasVersions || Exec(std::string(kCreateVersionTable).c_str(), &state));
  int current = 0;
  if (ok) {
    Result version(
        PQexec(connection_->conn, "SELECT COALESCE(MAX(version), 0) FROM schema_version"));
    ok = version.Ok() && version.Rows() == 1;
    state = version.State();
    if (ok) current = std::stoi(version.Text(0, 0));
  }
  if (ok && current > CurrentSchemaVersion()) {
    Exec("ROLLBACK");
    return StoreStatus::Fail(Describe() + ": written by a newer console (schema version " +
                                 std::to_string(current) + ")",
                             StoreFault::kSchemaNewer);
  }
  for (const auto& migration : Migrations()) {
    if (!ok || migration.version <= current) continue;
    for (const auto step : migration.steps) ok = ok && Exec(std::string(step).c_str(), &state);
    for (const auto step : migration.serverSteps)
      ok = ok && Exec(std::string(step).c_str(), &state);
    const std::string mark =
        "INSERT INTO schema_version (version) VALUES (" + std::to_string(migration.version) + ")";
    ok = ok && Exec("DELETE FROM schema_version", &state) && Exec(mark.c_str(), &state);
  }
  if (!ok) {
    StoreStatus status = Refused("cannot upgrade the schema", state);
    Exec("ROLLBACK");
    return status;
  }
  return Exec("COMMIT", &state) ? StoreStatus::Ok()
                                : Refused("cannot commit the schema upgrade", state);
}

bool PgStore::InsertChildren(const UnitRecord& r, std::string* state) {
  auto child = [&](const char* sql, int seq, const std::string& a, const std::string& b,
                   const std::string& c) {
    Params p;
    p.Text(r.recordId);
    p.Int(seq);
    p.Text(a);
    p.Text(b);
    p.Text(c);
    Result result(connection_->Run(sql, p));
    *state = result.State();
    return result.Ok();
  };
  int seq = 0;
  for (const auto& m : r.mismatches) {
    if (!child(kInsertMismatch, seq++, m.field, m.expected, m.actual)) return false;
  }
  seq = 0;
  for (const auto& reason : r.reasons) {
    if (!child(kInsertReason, seq++, reason.step, reason.expected, reason.actual)) return false;
  }
  return true;
}

ServerOutcome PgStore::Send(const UnitRecord& r, StoreStatus* status) {
  if (r.recordId.empty()) {
    *status = StoreStatus::Fail(Describe() + ": a record without an id", StoreFault::kData);
    return ServerOutcome::kRefused;
  }
  // A connection the server dropped (a restart) shows only when used: one fresh try.
  const bool wasConnected = connection_ != nullptr;
  ServerOutcome outcome = SendOnce(r, status);
  if (outcome == ServerOutcome::kUnreachable && wasConnected) outcome = SendOnce(r, status);
  return outcome;
}

ServerOutcome PgStore::SendOnce(const UnitRecord& r, StoreStatus* status) {
  *status = Connect();
  if (!status->ok) {
    return Passes(status->fault) ? ServerOutcome::kUnreachable : ServerOutcome::kRefused;
  }
  Params p;
  for (const auto* text :
       {&r.recordId, &r.startedUtc, &r.endedUtc, &r.station, &r.operatorName, &r.port,
        &r.usbIdentity, &r.imei, &r.firmware, &r.gsmSignal, &r.gpsCount, &r.agpsCount, &r.sim}) {
    p.Text(*text);
  }
  p.Optional(r.testGsm);
  p.Optional(r.testGps);
  p.Optional(r.testKey);
  p.Optional(r.ttffSeconds);
  p.Optional(r.satellitesUsed);
  p.Optional(r.bestSignalDbHz);
  p.Text(r.profileName);
  p.Text(r.profileHash);
  p.Int(r.passed ? 1 : 0);
  p.Text(r.consoleVersion);
  std::string state;
  bool ok = Exec("BEGIN", &state);
  if (ok) {
    Result inserted(connection_->Run(kInsertRecord, p));
    state = inserted.State();
    // Already stored (a spool delivering twice): keep the first, add nothing.
    ok = inserted.Ok() && (!inserted.Changed() || InsertChildren(r, &state));
  }
  if (ok && Exec("COMMIT", &state)) return ServerOutcome::kStored;
  *status = Refused("cannot write the record", state);
  if (PQstatus(connection_->conn) != CONNECTION_OK) {
    connection_.reset();
    return ServerOutcome::kUnreachable;
  }
  Exec("ROLLBACK");
  return Passes(status->fault) ? ServerOutcome::kUnreachable : ServerOutcome::kRefused;
}

StoreStatus PgStore::Append(const UnitRecord& record) {
  StoreStatus status;
  if (Send(record, &status) == ServerOutcome::kStored) return StoreStatus::Ok();
  return status;
}

bool PgStore::ReadChildren(UnitRecord* record, std::string* state) {
  Params p;
  p.Text(record->recordId);
  Result mismatches(connection_->Run(kSelectMismatches, p));
  for (int row = 0; mismatches.Ok() && row < mismatches.Rows(); ++row) {
    record->mismatches.push_back(
        {mismatches.Text(row, 0), mismatches.Text(row, 1), mismatches.Text(row, 2)});
  }
  Result reasons(connection_->Run(kSelectReasons, p));
  for (int row = 0; reasons.Ok() && row < reasons.Rows(); ++row) {
    record->reasons.push_back({reasons.Text(row, 0), reasons.Text(row, 1), reasons.Text(row, 2)});
  }
  *state = !mismatches.Ok() ? mismatches.State() : reasons.State();
  return mismatches.Ok() && reasons.Ok();
}

StoreStatus PgStore::Query(const RecordFilter& filter, std::vector<UnitRecord>* out) {
  out->clear();
  if (StoreStatus status = Connect(); !status.ok) return status;
  Params p;
  p.Text(filter.imei);
  p.Int(filter.passed ? (*filter.passed ? 1 : 0) : -1);
  p.Text(filter.fromUtc);
  p.Text(filter.toUtc);
  if (filter.limit != 0) {
    p.Int(static_cast<std::int64_t>(filter.limit));
  } else {
    p.Null();  // LIMIT NULL: every row
  }
  Result rows(connection_->Run(kSelectRecords, p));
  if (!rows.Ok()) {
    StoreStatus status = Refused("cannot read the records", rows.State());
    DropIfBroken();
    return status;
  }
  for (int row = 0; row < rows.Rows(); ++row) {
    UnitRecord r;
    int c = 0;
    for (auto* text :
         {&r.recordId, &r.startedUtc, &r.endedUtc, &r.station, &r.operatorName, &r.port,
          &r.usbIdentity, &r.imei, &r.firmware, &r.gsmSignal, &r.gpsCount, &r.agpsCount, &r.sim}) {
      *text = rows.Text(row, c++);
    }
    r.testGsm = rows.Flag(row, 13);
    r.testGps = rows.Flag(row, 14);
    r.testKey = rows.Flag(row, 15);
    r.ttffSeconds = rows.Real(row, 16);
    r.satellitesUsed = rows.Number(row, 17);
    r.bestSignalDbHz = rows.Number(row, 18);
    r.profileName = rows.Text(row, 19);
    r.profileHash = rows.Text(row, 20);
    r.passed = rows.Text(row, 21) != "0";
    r.consoleVersion = rows.Text(row, 22);
    // A record without its reasons is not given as whole: the server went away mid-read.
    if (std::string state; !ReadChildren(&r, &state)) {
      StoreStatus status = Refused("cannot read record " + r.recordId + " whole", state);
      out->clear();
      DropIfBroken();
      return status;
    }
    out->push_back(std::move(r));
  }
  return StoreStatus::Ok();
}

StoreStatus PgStore::Count(const std::string& fromUtc, const std::string& toUtc, DayCounts* out) {
  if (StoreStatus status = Connect(); !status.ok) return status;
  Params p;
  p.Text(fromUtc);
  p.Text(toUtc);
  Result counts(connection_->Run(kCount, p));
  if (!counts.Ok() || counts.Rows() != 1) {
    StoreStatus status = Refused("cannot count the records", counts.State());
    DropIfBroken();
    return status;
  }
  out->passed = std::stoll(counts.Text(0, 0));
  out->failed = std::stoll(counts.Text(0, 1));
  return StoreStatus::Ok();
}

std::unique_ptr<RecordStore> OpenPostgresStore(const std::string& url, StoreStatus* status) {
  auto store = std::make_unique<PgStore>(url);
  *status = store->Connect();
  if (!status->ok) return nullptr;
  return store;
}

}  // namespace records

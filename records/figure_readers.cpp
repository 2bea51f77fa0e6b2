// The two connections the figures are read through: a read-only SQLite file and a PostgreSQL
// server, plus the watches that tell a reader when a record was stored.

#include <libpq-fe.h>
#include <poll.h>
#include <sqlite3.h>

#include <charconv>
#include <chrono>
#include <thread>

#include "records/line_figures.h"
#include "records/pg_store.h"

namespace records {

namespace {

constexpr std::string_view kSqlitePrefix = "sqlite:";

// Locale-free, shortest text that reads back as the same double.
std::string NumberText(double value) {
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, value).ptr;
  return std::string(text, end);
}

// The figures' SQL numbers its parameters "?1"; the server wants "$1".
std::string ServerPlaceholders(std::string sql) {
  for (std::size_t i = 0; i + 1 < sql.size(); ++i) {
    if (sql[i] == '?' && sql[i + 1] >= '0' && sql[i + 1] <= '9') sql[i] = '$';
  }
  return sql;
}

class SqliteReader final : public FigureReader {
 public:
  explicit SqliteReader(std::string path) : path_(std::move(path)) {}
  ~SqliteReader() override { sqlite3_close_v2(db_); }
  SqliteReader(const SqliteReader&) = delete;
  SqliteReader& operator=(const SqliteReader&) = delete;

  StoreStatus Open() {
    // Read-only: the board and the charts never write, whatever a query says.
    if (sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
      return Fail("cannot open");
    }
    sqlite3_busy_timeout(db_, 2000);
    std::vector<Row> rows;
    if (!Select("SELECT MAX(version) FROM schema_version", {}, &rows).ok) {
      return StoreStatus::Fail(path_ + ": not a records file");
    }
    return StoreStatus::Ok();
  }

  StoreStatus Select(const std::string& sql, const std::vector<Param>& params,
                     std::vector<Row>* rows) override {
    rows->clear();
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
      return Fail("cannot read the figures");
    }
    for (std::size_t i = 0; i < params.size(); ++i) Bind(stmt, static_cast<int>(i + 1), params[i]);
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
      Row row;
      for (int c = 0; c < sqlite3_column_count(stmt); ++c) {
        const auto* text = sqlite3_column_text(stmt, c);
        if (text == nullptr) {
          row.emplace_back(std::nullopt);
        } else {
          row.emplace_back(std::string(reinterpret_cast<const char*>(text),
                                       static_cast<std::size_t>(sqlite3_column_bytes(stmt, c))));
        }
      }
      rows->push_back(std::move(row));
    }
    sqlite3_finalize(stmt);
    return rc == SQLITE_DONE ? StoreStatus::Ok() : Fail("cannot read the figures");
  }

  StoreStatus ChangeMark(std::string* mark) override {
    std::vector<Row> rows;
    auto status = Select("PRAGMA data_version", {}, &rows);
    *mark = status.ok && rows.size() == 1 && rows[0][0] ? *rows[0][0] : "";
    return status;
  }

  [[nodiscard]] std::string Describe() const override { return path_; }

 private:
  static void Bind(sqlite3_stmt* stmt, int index, const Param& p) {
    switch (p.kind) {
      case Param::Kind::kText:
        sqlite3_bind_text(stmt, index, p.text.data(), static_cast<int>(p.text.size()),
                          SQLITE_TRANSIENT);
        break;
      case Param::Kind::kInt:
        sqlite3_bind_int64(stmt, index, p.integer);
        break;
      case Param::Kind::kReal:
        sqlite3_bind_double(stmt, index, p.real);
        break;
    }
  }
  StoreStatus Fail(const std::string& what) const {
    return StoreStatus::Fail(path_ + ": " + what + ": " + (db_ ? sqlite3_errmsg(db_) : "?"));
  }

  std::string path_;
  sqlite3* db_ = nullptr;
};

// One server connection, made again when the server dropped it.
class ServerConnection {
 public:
  explicit ServerConnection(std::string url) : url_(std::move(url)) {}
  ~ServerConnection() { Drop(); }
  ServerConnection(const ServerConnection&) = delete;
  ServerConnection& operator=(const ServerConnection&) = delete;

  PGconn* Get(StoreStatus* status) {
    if (conn_ != nullptr && PQstatus(conn_) != CONNECTION_OK) Drop();
    if (conn_ != nullptr) return conn_;
    const char* keys[] = {"connect_timeout", "dbname", nullptr};
    const char* values[] = {"5", url_.c_str(), nullptr};
    conn_ = PQconnectdbParams(keys, values, 1);
    if (conn_ == nullptr || PQstatus(conn_) != CONNECTION_OK) {
      *status = Fail("cannot reach the server");
      Drop();
      return nullptr;
    }
    // The server's notices (its own shutdown among them) reach the caller as statuses.
    PQsetNoticeProcessor(
        conn_, [](void*, const char*) {}, nullptr);
    // Read-only and bounded, whatever the role may do.
    PQclear(PQexec(conn_,
                   "SET default_transaction_read_only = on; SET statement_timeout = 10000;"
                   " SET client_min_messages = warning"));
    return conn_;
  }
  void Drop() {
    PQfinish(conn_);
    conn_ = nullptr;
  }
  [[nodiscard]] StoreStatus Fail(const std::string& what) const {
    std::string reason = conn_ ? PQerrorMessage(conn_) : "";
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == ' ')) reason.pop_back();
    return StoreStatus::Fail(RedactUrl(url_) + ": " + what + (reason.empty() ? "" : ": " + reason));
  }
  [[nodiscard]] const std::string& Url() const { return url_; }
  [[nodiscard]] bool Broken() const { return conn_ != nullptr && PQstatus(conn_) != CONNECTION_OK; }

 private:
  std::string url_;
  PGconn* conn_ = nullptr;
};

class ServerReader final : public FigureReader {
 public:
  explicit ServerReader(std::string url) : connection_(std::move(url)) {}

  StoreStatus Open() {
    StoreStatus status;
    connection_.Get(&status);
    return status;
  }

  StoreStatus Select(const std::string& sql, const std::vector<Param>& params,
                     std::vector<Row>* rows) override {
    // A connection the server dropped (a restart) shows only when used: one fresh try.
    StoreStatus status = SelectOnce(sql, params, rows);
    if (!status.ok && connection_.Broken()) status = SelectOnce(sql, params, rows);
    return status;
  }

  StoreStatus ChangeMark(std::string* mark) override {
    mark->clear();
    return StoreStatus::Ok();
  }

  [[nodiscard]] std::string Describe() const override { return RedactUrl(connection_.Url()); }

 private:
  StoreStatus SelectOnce(const std::string& sql, const std::vector<Param>& params,
                         std::vector<Row>* rows) {
    rows->clear();
    StoreStatus status;
    PGconn* conn = connection_.Get(&status);
    if (conn == nullptr) return status;
    std::vector<std::string> texts;
    for (const auto& p : params) {
      if (p.kind == Param::Kind::kText) texts.push_back(p.text);
      if (p.kind == Param::Kind::kInt) texts.push_back(std::to_string(p.integer));
      if (p.kind == Param::Kind::kReal) texts.push_back(NumberText(p.real));
    }
    std::vector<const char*> values;
    for (const auto& text : texts) values.push_back(text.c_str());
    PGresult* result =
        PQexecParams(conn, ServerPlaceholders(sql).c_str(), static_cast<int>(values.size()),
                     nullptr, values.data(), nullptr, nullptr, 0);
    if (PQresultStatus(result) != PGRES_TUPLES_OK) {
      PQclear(result);
      status = connection_.Fail("cannot read the figures");
      return status;
    }
    for (int r = 0; r < PQntuples(result); ++r) {
      Row row;
      for (int c = 0; c < PQnfields(result); ++c) {
        if (PQgetisnull(result, r, c)) {
          row.emplace_back(std::nullopt);
        } else {
          row.emplace_back(std::string(PQgetvalue(result, r, c),
                                       static_cast<std::size_t>(PQgetlength(result, r, c))));
        }
      }
      rows->push_back(std::move(row));
    }
    PQclear(result);
    return StoreStatus::Ok();
  }

  ServerConnection connection_;
};

class FileWatch final : public ChangeWatch {
 public:
  explicit FileWatch(std::string path) : path_(std::move(path)) {}

  StoreStatus Wait(int timeoutMs, bool* changed) override {
    *changed = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    StoreStatus status;
    while (true) {
      if (!reader_) {
        auto reader = std::make_unique<SqliteReader>(path_);
        status = reader->Open();
        if (status.ok) reader_ = std::move(reader);
      }
      std::string mark;
      if (reader_) status = reader_->ChangeMark(&mark);
      if (!status.ok) {
        reader_.reset();
        lastMark_.clear();
      } else if (mark != lastMark_) {
        *changed = !lastMark_.empty();
        lastMark_ = mark;
        if (*changed) return status;
      }
      if (std::chrono::steady_clock::now() >= deadline) return status;
      std::this_thread::sleep_for(kPollInterval);
    }
  }

 private:
  // Another connection's commit moves data_version; asking costs a few microseconds.
  static constexpr std::chrono::milliseconds kPollInterval{250};
  std::string path_;
  std::unique_ptr<SqliteReader> reader_;
  std::string lastMark_;
};

class ServerWatch final : public ChangeWatch {
 public:
  explicit ServerWatch(std::string url) : connection_(std::move(url)) {}

  StoreStatus Wait(int timeoutMs, bool* changed) override {
    *changed = false;
    StoreStatus status;
    PGconn* conn = Listening(&status, changed);
    if (conn == nullptr) {
      // Not again at once: the caller waits as long as it asked to.
      std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
      return status;
    }
    if (*changed) return status;
    pollfd fd{PQsocket(conn), POLLIN, 0};
    if (poll(&fd, 1, timeoutMs) < 0) return status;
    if (PQconsumeInput(conn) == 0) {
      status = connection_.Fail("lost the server");
      connection_.Drop();
      listening_ = false;
      return status;
    }
    while (PGnotify* notice = PQnotifies(conn)) {
      *changed = true;
      PQfreemem(notice);
    }
    return status;
  }

 private:
  // A new connection counts as a change: records may have come while there was none.
  PGconn* Listening(StoreStatus* status, bool* changed) {
    PGconn* conn = connection_.Get(status);
    if (conn == nullptr) {
      listening_ = false;
      return nullptr;
    }
    if (listening_) return conn;
    PGresult* result = PQexec(conn, (std::string("LISTEN ") + kRecordChannel).c_str());
    const bool ok = PQresultStatus(result) == PGRES_COMMAND_OK;
    PQclear(result);
    if (!ok) {
      *status = connection_.Fail("cannot listen for records");
      connection_.Drop();
      return nullptr;
    }
    *changed = everConnected_;
    listening_ = everConnected_ = true;
    return conn;
  }

  ServerConnection connection_;
  bool listening_ = false;
  bool everConnected_ = false;
};

}  // namespace

std::unique_ptr<FigureReader> OpenFigureReader(const std::string& url, StoreStatus* status) {
  if (url.compare(0, kSqlitePrefix.size(), kSqlitePrefix) == 0) {
    auto reader = std::make_unique<SqliteReader>(url.substr(kSqlitePrefix.size()));
    *status = reader->Open();
    return status->ok ? std::move(reader) : nullptr;
  }
  if (IsPostgresUrl(url)) {
    auto reader = std::make_unique<ServerReader>(url);
    *status = reader->Open();
    return status->ok ? std::move(reader) : nullptr;
  }
  *status = StoreStatus::Fail("\"" + url +
                              "\": unknown kind of store (use sqlite:PATH or postgresql://...)");
  return nullptr;
}

std::unique_ptr<ChangeWatch> OpenChangeWatch(const std::string& url) {
  if (IsPostgresUrl(url)) return std::make_unique<ServerWatch>(url);
  const auto path = url.compare(0, kSqlitePrefix.size(), kSqlitePrefix) == 0
                        ? url.substr(kSqlitePrefix.size())
                        : url;
  return std::make_unique<FileWatch>(path);
}

}  // namespace records

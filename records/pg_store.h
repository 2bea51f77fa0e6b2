#pragma once
// The line's store: a PostgreSQL server shared by several stations, with the same schema and
// migrations as the SQLite file. Migrations take an advisory lock, so stations starting together
// upgrade the schema once; records carry their id as the key, so a record sent twice is kept once.

#include <memory>
#include <string>

#include "records/record_store.h"

namespace records {

inline constexpr std::string_view kPostgresPrefix = "postgresql://";
inline constexpr std::string_view kPostgresShortPrefix = "postgres://";
bool IsPostgresUrl(const std::string& url);

// False, with a message naming the URL (without its password), when libpq cannot read it.
bool CheckPostgresUrl(const std::string& url, std::string* error);

// The URL without its password, fit to show and log.
std::string RedactUrl(const std::string& url);

// How a write to the server ended: stored, to be tried again (unreachable or busy), or refused
// for a reason a person must see to.
enum class ServerOutcome { kStored, kUnreachable, kRefused };

class PgStore final : public RecordStore {
 public:
  explicit PgStore(std::string url);
  ~PgStore() override;
  PgStore(const PgStore&) = delete;
  PgStore& operator=(const PgStore&) = delete;

  // Connects when not connected (migrating on the first success); ok, or why not.
  StoreStatus Connect();
  // Append, telling a server that cannot be reached from one that refused the record.
  ServerOutcome Send(const UnitRecord& record, StoreStatus* status);

  StoreStatus Append(const UnitRecord& record) override;
  StoreStatus Query(const RecordFilter& filter, std::vector<UnitRecord>* out) override;
  StoreStatus Count(const std::string& fromUtc, const std::string& toUtc, DayCounts* out) override;
  [[nodiscard]] std::string Describe() const override;
  // The server's cluster and database ("postgresql:<system identifier>/<database>") once
  // connected; before that, the URL without its password.
  [[nodiscard]] std::string Identity() const override;

 private:
  struct Connection;
  StoreStatus Fail(const std::string& what, StoreFault fault) const;
  StoreStatus Refused(const std::string& what, const std::string& state) const;
  bool Exec(const char* sql, std::string* state = nullptr);
  StoreStatus Migrate();
  void ReadIdentity();
  ServerOutcome SendOnce(const UnitRecord& record, StoreStatus* status);
  bool InsertChildren(const UnitRecord& record, std::string* state);
  bool ReadChildren(UnitRecord* record, std::string* state);
  void DropIfBroken();

  std::string url_;
  std::unique_ptr<Connection> connection_;
  bool migrated_ = false;
  std::string identity_;
};

// A store on the server alone: fails when the server cannot be reached.
std::unique_ptr<RecordStore> OpenPostgresStore(const std::string& url, StoreStatus* status);

}  // namespace records

#pragma once
// A real PostgreSQL server in a temporary folder, on a Unix socket there, as `nobody` when run as
// root; stopped and removed with the object. The newest Debian server version is used.

#include <string>
#include <vector>

class PgServer {
 public:
  struct Setup {
    std::string locale = "C";  // the cluster's locale (initdb --locale)
    bool tcp = false;          // also listen on 127.0.0.1, on a free port
  };
  PgServer() : PgServer(Setup{}) {}
  explicit PgServer(const Setup& setup);  // initialises and starts; see ok() and error()
  ~PgServer();
  PgServer(const PgServer&) = delete;
  PgServer& operator=(const PgServer&) = delete;

  [[nodiscard]] bool ok() const { return error_.empty(); }
  [[nodiscard]] const std::string& error() const { return error_; }

  // The URL of the server's database, as a station would be given it.
  [[nodiscard]] std::string Url() const;
  // The same over TCP on 127.0.0.1 (with Setup::tcp), for `user`.
  [[nodiscard]] std::string TcpUrl(const std::string& user) const;
  // The first value a query gives, as text, by plain libpq; "" when there is none.
  [[nodiscard]] std::string Value(const std::string& sql) const;
  // Lines put first in pg_hba.conf, then the configuration reloaded.
  bool Trust(const std::string& hbaLines);
  // The server's main process, e.g. to stop it answering (SIGSTOP) and to let it go on.
  [[nodiscard]] int Pid() const;

  // Stop and start again on the same data, e.g. to take the server away mid-run.
  bool Stop();
  bool Start();

 private:
  bool Run(const std::string& program, std::vector<std::string> arguments);

  std::string bin_;     // the server's bin folder
  std::string folder_;  // data in folder_/data, the socket in folder_
  std::string error_;
  bool running_ = false;
  int port_ = 5432;
  bool tcp_ = false;
};

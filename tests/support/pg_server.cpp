#include "tests/support/pg_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <libpq-fe.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

namespace fs = std::filesystem;

// The newest installed server's bin folder, or "" when there is none.
std::string FindServerBin() {
  std::pair<int, std::string> newest;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql", error)) {
    const std::string bin = (entry.path() / "bin").string();
    if (access((bin + "/initdb").c_str(), X_OK) != 0) continue;
    newest = std::max(newest, {std::atoi(entry.path().filename().c_str()), bin});
  }
  return newest.second;
}

// Who runs the server: ourselves, or `nobody` when we are root.
const passwd* ServerUser() {
  return geteuid() == 0 ? getpwnam("nobody") : nullptr;
}

// A port nothing listens on right now.
int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  close(fd);
  return port;
}

}  // namespace

PgServer::PgServer(const Setup& setup) : bin_(FindServerBin()), tcp_(setup.tcp) {
  if (bin_.empty()) {
    error_ = "no PostgreSQL server under /usr/lib/postgresql (install the postgresql package)";
    return;
  }
  std::string pattern = (fs::temp_directory_path() / "tc-pg-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    error_ = "cannot make a temporary folder";
    return;
  }
  folder_ = pattern;
  if (const passwd* user = ServerUser();
      user != nullptr && chown(folder_.c_str(), user->pw_uid, user->pw_gid) != 0) {
    error_ = "cannot hand " + folder_ + " to the server's user";
    return;
  }
  if (Run("initdb", {"-D", folder_ + "/data", "-U", "jig", "-A", "trust", "-E", "UTF8",
                     "--locale=" + setup.locale, "--no-sync"})) {
    if (tcp_) port_ = FreePort();
    Start();
  }
}

PgServer::~PgServer() {
  Stop();
  std::error_code error;
  if (!folder_.empty()) fs::remove_all(folder_, error);
}

std::string PgServer::Url() const {
  const std::string port = port_ != 5432 ? "&port=" + std::to_string(port_) : "";
  return "postgresql:///postgres?host=" + folder_ + port + "&user=jig";
}

std::string PgServer::TcpUrl(const std::string& user) const {
  return "postgresql://" + user + "@127.0.0.1:" + std::to_string(port_) + "/postgres";
}

bool PgServer::Trust(const std::string& hbaLines) {
  const std::string path = folder_ + "/data/pg_hba.conf";
  std::stringstream old;
  old << std::ifstream(path).rdbuf();
  std::ofstream(path, std::ios::trunc) << hbaLines << "\n" << old.str();
  return Value("SELECT pg_reload_conf()") == "t";
}

int PgServer::Pid() const {
  int pid = 0;
  std::ifstream(folder_ + "/data/postmaster.pid") >> pid;
  return pid;
}

std::string PgServer::Value(const std::string& sql) const {
  PGconn* conn = PQconnectdb(Url().c_str());
  PGresult* result = PQexec(conn, sql.c_str());
  const bool found = PQresultStatus(result) == PGRES_TUPLES_OK && PQntuples(result) > 0;
  std::string value = found ? PQgetvalue(result, 0, 0) : "";
  PQclear(result);
  PQfinish(conn);
  return value;
}

bool PgServer::Start() {
  if (running_ || bin_.empty() || folder_.empty()) return running_;
  // Only the socket in our own folder: nothing listens on the network.
  const std::string options = "-c listen_addresses='" + std::string(tcp_ ? "127.0.0.1" : "") +
                              "' -p " + std::to_string(port_) + " -k " + folder_ + " -c fsync=off";
  running_ = Run("pg_ctl", {"start", "-w", "-t", "60", "-D", folder_ + "/data", "-l",
                            folder_ + "/server.log", "-o", options});
  return running_;
}

bool PgServer::Stop() {
  if (!running_) return true;
  running_ = !Run("pg_ctl", {"stop", "-w", "-t", "60", "-m", "fast", "-D", folder_ + "/data"});
  return !running_;
}

bool PgServer::Run(const std::string& program, std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), bin_ + "/" + program);
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  const std::string output = folder_ + "/" + program + ".out";
  const passwd* user = ServerUser();
  const pid_t pid = fork();
  if (pid == 0) {
    const int fd = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd >= 0) {
      dup2(fd, STDOUT_FILENO);
      dup2(fd, STDERR_FILENO);
    }
    if (user != nullptr &&
        (setgroups(0, nullptr) != 0 || setgid(user->pw_gid) != 0 || setuid(user->pw_uid) != 0)) {
      _exit(126);
    }
    if (chdir(folder_.c_str()) != 0) _exit(126);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0) {
    error_ = program + " failed; see " + output;
    return false;
  }
  return true;
}

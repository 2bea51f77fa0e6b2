// The line under faults: units (tracker-sim, pulled and plugged in again after each verdict)
// through tracker-jig --watch into a PostgreSQL server that is stopped, hung and restarted, while
// the jig is killed and started again, all at random moments. Prints the records stored against
// the units with a printed verdict, duplicates, lost records, and the worst delay from a unit's
// end to its printed verdict.
//
//   bench_jig_faults [units (1000)] [seed]

#include <fcntl.h>
#include <libpq-fe.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_util.h"
#include "tests/support/console_harness.h"
#include "tests/support/pg_server.h"
#include "tools/jig/jig_events.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Wall = std::chrono::system_clock;

constexpr int kSims = 8;
constexpr auto kLongestRun = std::chrono::minutes(30);

// tracker-jig --watch, its output read through a pipe as it comes.
class JigProcess {
 public:
  explicit JigProcess(std::vector<std::string> arguments) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    arguments.insert(arguments.begin(), TC_JIG_PATH);
    std::vector<char*> argv;
    for (std::string& a : arguments) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn(&pid_, TC_JIG_PATH, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    out_ = fds[0];
    fcntl(out_, F_SETFL, O_NONBLOCK);
  }
  ~JigProcess() {
    End(SIGKILL);
    close(out_);
  }
  JigProcess(const JigProcess&) = delete;
  JigProcess& operator=(const JigProcess&) = delete;

  // Whole lines that came since the last call.
  std::vector<std::string> Lines() {
    char chunk[8192];
    for (ssize_t got; (got = read(out_, chunk, sizeof chunk)) > 0;) {
      partial_.append(chunk, static_cast<std::size_t>(got));
    }
    std::vector<std::string> lines;
    for (std::size_t end; (end = partial_.find('\n')) != std::string::npos;
         partial_.erase(0, end + 1)) {
      lines.push_back(partial_.substr(0, end));
    }
    return lines;
  }
  // True once it ended on its own (a refused profile, a crash).
  bool Ended() {
    if (pid_ <= 0 || waitpid(pid_, nullptr, WNOHANG) == 0) return false;
    pid_ = -1;
    return true;
  }
  void End(int signal) {
    if (pid_ <= 0) return;
    kill(pid_, signal);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string partial_;
};

// "2026-12-06T23:41:07.123Z" as a wall-clock time.
Wall::time_point ParseUtc(const std::string& text) {
  std::tm parts{};
  int milliseconds = 0;
  if (std::sscanf(text.c_str(), "%d-%d-%dT%d:%d:%d.%dZ", &parts.tm_year, &parts.tm_mon,
                  &parts.tm_mday, &parts.tm_hour, &parts.tm_min, &parts.tm_sec,
                  &milliseconds) != 7) {
    return Wall::now();
  }
  parts.tm_year -= 1900;
  parts.tm_mon -= 1;
  return Wall::from_time_t(timegm(&parts)) + std::chrono::milliseconds(milliseconds);
}

// The server's postmaster and its children, to hang them all.
std::vector<pid_t> ServerProcesses(const std::string& url) {
  const std::size_t host = url.find("host=") + 5;
  std::ifstream pidFile(url.substr(host, url.find('&', host) - host) + "/data/postmaster.pid");
  pid_t postmaster = 0;
  pidFile >> postmaster;
  std::vector<pid_t> found = {postmaster};
  for (const auto& entry : fs::directory_iterator("/proc")) {
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    int parent = 0;
    if (!std::getline(stat, line) || line.rfind(')') == std::string::npos) continue;
    if (std::sscanf(line.c_str() + line.rfind(')') + 1, " %*c %d", &parent) == 1 &&
        parent == postmaster && postmaster > 0) {
      found.push_back(std::stoi(entry.path().filename()));
    }
  }
  return postmaster > 0 ? found : std::vector<pid_t>{};
}

std::multiset<std::string> StoredIds(const std::string& url) {
  std::multiset<std::string> ids;
  PGconn* conn = PQconnectdb(url.c_str());
  PGresult* result = PQexec(conn, "SELECT record_id FROM unit_record");
  for (int row = 0; PQresultStatus(result) == PGRES_TUPLES_OK && row < PQntuples(result); ++row) {
    ids.insert(PQgetvalue(result, row, 0));
  }
  PQclear(result);
  PQfinish(conn);
  return ids;
}

// The COM number in a unit's name, "COM97 (pts_3)" -> 97.
int PortNumber(const std::string& unit) {
  return unit.rfind("COM", 0) == 0 ? std::atoi(unit.c_str() + 3) : 0;
}

}  // namespace

int main(int argc, char** argv) {
  const int units = argc > 1 ? std::atoi(argv[1]) : 1000;
  const unsigned seed =
      argc > 2 ? static_cast<unsigned>(std::atoll(argv[2])) : std::random_device{}();
  std::mt19937 random(seed);
  std::string root = (fs::temp_directory_path() / "tc-bench-faults-XXXXXX").string();
  if (mkdtemp(root.data()) == nullptr) return 1;
  setenv("XDG_RUNTIME_DIR", root.c_str(), 1);
  setenv("XDG_DATA_HOME", root.c_str(), 1);
  const std::string profile = root + "/profile.txt";
  std::ofstream(profile) << "format = 1\naddress = 198.51.100.9\nport = 9100\ndomain = 0\n"
                            "sos1 = 110\nsos2 = 119\nsos3 = 120\n";
  PgServer server;
  if (!server.ok()) {
    std::printf("PostgreSQL: %s\n", server.error().c_str());
    return 1;
  }
  const std::string url = server.Url();
  std::map<int, std::unique_ptr<SimProcess>> sims;  // by COM number
  for (int i = 0; i < kSims; ++i) {
    auto sim = std::make_unique<SimProcess>(TC_SIM_PATH, root + "/tracker-console/ports", Quiet());
    const int number = sim->WaitForPlug();
    if (number > 0) sims[number] = std::move(sim);
  }
  const std::vector<std::string> arguments = {"--watch",        "--json", "--profile", profile,
                                              "--test-timeout", "7",      "--records", url};
  auto jig = std::make_unique<JigProcess>(arguments);

  std::set<std::string> printed;
  int printedTwice = 0;
  std::vector<double> delays;
  std::map<int, Clock::time_point> replugAt;  // pulled units, plugged in again then
  std::map<std::string, int> faults;
  std::string fault;  // the one in force, until faultEnds
  auto nextFault = Clock::now() + std::chrono::seconds(3);
  auto faultEnds = Clock::time_point::max();
  const auto started = Clock::now();
  const auto take = [&](const std::vector<std::string>& lines) {
    for (const std::string& line : lines) {
      jig::UnitEvent event;
      std::string error;
      if (!jig::FromJsonLine(line, &event, &error) ||
          event.kind != jig::UnitEvent::Kind::kVerdict) {
        continue;
      }
      const double late =
          std::chrono::duration<double>(Wall::now() - ParseUtc(event.record.endedUtc)).count();
      delays.push_back(late);
      printedTwice += printed.insert(event.record.recordId).second ? 0 : 1;
      const int number = PortNumber(event.unit);
      if (sims.contains(number) && !replugAt.contains(number)) {
        sims[number]->Signal(SIGUSR1);  // pulled, and a new unit plugged in a moment later
        replugAt[number] = Clock::now() + std::chrono::milliseconds(300);
      }
    }
  };
  while (static_cast<int>(printed.size()) < units && Clock::now() - started < kLongestRun) {
    take(jig->Lines());
    if (jig->Ended()) {
      std::printf("tracker-jig ended by itself; see its message\n");
      return 1;
    }
    const auto now = Clock::now();
    for (auto it = replugAt.begin(); it != replugAt.end();) {
      if (now < it->second) {
        ++it;
        continue;
      }
      sims[it->first]->Signal(SIGUSR1);
      it = replugAt.erase(it);
    }
    if (now >= faultEnds) {
      if (fault == "server stopped") server.Start();
      if (fault == "server hung") {
        for (const pid_t pid : ServerProcesses(url)) kill(pid, SIGCONT);
      }
      fault.clear();
      faultEnds = Clock::time_point::max();
      nextFault = now + std::chrono::milliseconds(2000 + random() % 6000);
    }
    if (fault.empty() && now >= nextFault) {
      const char* kinds[] = {"server stopped", "server hung", "jig killed"};
      fault = kinds[random() % 3];
      ++faults[fault];
      if (fault == "server stopped") server.Stop();
      if (fault == "server hung") {
        for (const pid_t pid : ServerProcesses(url)) kill(pid, SIGSTOP);
      }
      if (fault == "jig killed") {
        jig->End(SIGKILL);
        take(jig->Lines());
        jig = std::make_unique<JigProcess>(arguments);
      }
      faultEnds = now + std::chrono::milliseconds(1000 + random() % 4000);
    }
    usleep(10'000);
  }
  // Faults cleared: the server back, and the spool given time to drain into it.
  if (fault == "server stopped") server.Start();
  for (const pid_t pid : ServerProcesses(url)) kill(pid, SIGCONT);
  std::size_t stored = 0;
  for (auto quietSince = Clock::now(); Clock::now() - quietSince < std::chrono::seconds(25);
       usleep(500'000)) {
    take(jig->Lines());
    const std::size_t now = StoredIds(url).size();
    if (now != stored) quietSince = Clock::now();
    stored = now;
  }
  jig->End(SIGTERM);
  take(jig->Lines());

  const std::multiset<std::string> ids = StoredIds(url);
  const std::set<std::string> distinct(ids.begin(), ids.end());
  int lost = 0;
  for (const std::string& id : printed) lost += distinct.contains(id) ? 0 : 1;
  int unseen = 0;
  for (const std::string& id : distinct) unseen += printed.contains(id) ? 0 : 1;
  std::printf("seed %u, %.0f s; faults:", seed,
              std::chrono::duration<double>(Clock::now() - started).count());
  for (const auto& [kind, count] : faults) std::printf(" %s %d,", kind.c_str(), count);
  std::printf("\nunits with a printed verdict %zu, records stored %zu (%zu distinct)\n",
              printed.size(), ids.size(), distinct.size());
  std::printf(
      "duplicates %zu (verdicts printed twice %d), lost %d, stored without a printed "
      "verdict %d (target: 0 duplicates, 0 lost)\n",
      ids.size() - distinct.size(), printedTwice, lost, unseen);
  if (!delays.empty()) {
    std::printf("unit's end to its printed verdict: median %.2f s, 99th %.2f s, worst %.2f s\n",
                Percentile(delays, 0.5), Percentile(delays, 0.99), Percentile(delays, 1.0));
  }
  jig.reset();
  sims.clear();
  std::error_code error;
  fs::remove_all(root, error);
  return 0;
}

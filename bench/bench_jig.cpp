// The line on real parts: tracker-sim units through tracker-jig, records into a real PostgreSQL
// server.
//
//   bench_jig   eight units at once against one (tracker-jig --all); four processes writing
//               1,000 records each into one server
//   bench_jig faults [units (1000)] [seed]   units, pulled and plugged in again after each
//               verdict, through tracker-jig --watch into a server that is stopped, hung and
//               restarted, while the jig is killed and started again, all at random moments.
//               Prints the records stored against the units with a printed verdict, duplicates,
//               lost records, and the delay from a unit's end to its printed verdict.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "records/pg_store.h"
#include "records/record_store.h"
#include "tests/support/console_harness.h"
#include "tests/support/pg_server.h"
#include "tools/jig/jig_events.h"

namespace {

namespace fs = std::filesystem;
using Wall = std::chrono::system_clock;

// Seconds tracker-jig --all takes for `units` simulators, or -1 when it did not pass them all.
double RunUnits(int units, const std::string& root, const std::string& profile) {
  const std::string run = root + "/run" + std::to_string(units);
  setenv("XDG_RUNTIME_DIR", run.c_str(), 1);
  std::vector<std::unique_ptr<SimProcess>> sims;
  for (int i = 0; i < units; ++i) {
    sims.push_back(
        std::make_unique<SimProcess>(TC_SIM_PATH, run + "/tracker-console/ports", Quiet()));
    if (sims.back()->WaitForPlug() == 0) return -1;
  }
  const std::string command = std::string(TC_JIG_PATH) + " --all --json --no-records --profile " +
                              profile + " > " + run + "/out.json";
  const auto started = Clock::now();
  const int status = std::system(command.c_str());
  const double seconds = SecondsSince(started);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? seconds : -1;
}

records::UnitRecord Record(int writer, int n) {
  records::UnitRecord r;
  char id[40];
  std::snprintf(id, sizeof id, "%08x%024x", writer, n);
  r.recordId = id;
  r.startedUtc = r.endedUtc = "2026-12-07T00:00:00.000Z";
  r.station = "bench-" + std::to_string(writer);
  r.imei = "861234567890123";
  r.passed = n % 7 != 0;
  if (!r.passed) r.reasons = {{"test", "gps ok", "fail"}};
  return r;
}

// Each writer a process of its own with its own connection, as stations are.
int WriteFromProcesses(const std::string& url, int writers, int each) {
  std::vector<pid_t> pids;
  for (int w = 0; w < writers; ++w) {
    const pid_t pid = fork();
    if (pid == 0) {
      records::StoreStatus status;
      auto store = records::OpenPostgresStore(url, &status);
      for (int n = 0; store && n < each; ++n) {
        if (!store->Append(Record(w, n)).ok) _exit(1);
      }
      _exit(store ? 0 : 1);
    }
    pids.push_back(pid);
  }
  int failures = 0;
  for (const pid_t pid : pids) {
    int status = 0;
    waitpid(pid, &status, 0);
    failures += WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
  }
  return failures;
}

int Throughput(const std::string& root, const std::string& profile, const PgServer& server) {
  const double one = RunUnits(1, root, profile);
  const double eight = RunUnits(8, root, profile);
  std::printf("units in parallel: 1 unit %.2f s, 8 units %.2f s, ratio %.2f (target <= 1.5)\n", one,
              eight, one > 0 && eight > 0 ? eight / one : -1.0);
  constexpr int kWriters = 4, kEach = 1000;
  records::StoreStatus status;
  records::OpenPostgresStore(server.Url(), &status);  // migrates once, up front
  const auto started = Clock::now();
  const int failedWriters = WriteFromProcesses(server.Url(), kWriters, kEach);
  const double seconds = SecondsSince(started);
  const long long stored = std::atoll(server.Value("SELECT COUNT(*) FROM unit_record").c_str());
  std::printf(
      "PostgreSQL: %d processes x %d records in %.2f s, %.0f records/s, %lld lost, "
      "%d writers failed\n",
      kWriters, kEach, seconds, kWriters * kEach / seconds, kWriters * kEach - stored,
      failedWriters);
  return 0;
}

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
    pid_ = fork();
    if (pid_ == 0) {
      dup2(fds[1], STDOUT_FILENO);
      execv(TC_JIG_PATH, argv.data());
      _exit(127);
    }
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

// "2026-12-06T23:41:07.123Z" as a wall-clock time; now when it does not read.
Wall::time_point ParseUtc(const std::string& text) {
  std::tm parts{};
  const char* rest = strptime(text.c_str(), "%Y-%m-%dT%H:%M:%S", &parts);
  if (rest == nullptr || *rest != '.') return Wall::now();
  return Wall::from_time_t(timegm(&parts)) + std::chrono::milliseconds(std::atoi(rest + 1));
}

// To the server's postmaster and its children: SIGSTOP hangs them all, SIGCONT lets them go on.
void SignalServer(const PgServer& server, int signal) {
  const pid_t postmaster = server.Pid();
  if (postmaster <= 0) return;
  kill(postmaster, signal);
  for (const auto& entry : fs::directory_iterator("/proc")) {
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    int parent = 0;
    if (!std::getline(stat, line) || line.rfind(')') == std::string::npos) continue;
    if (std::sscanf(line.c_str() + line.rfind(')') + 1, " %*c %d", &parent) == 1 &&
        parent == postmaster) {
      kill(std::stoi(entry.path().filename()), signal);
    }
  }
}

std::multiset<std::string> StoredIds(const PgServer& server) {
  std::istringstream ids(server.Value("SELECT string_agg(record_id, ' ') FROM unit_record"));
  return {std::istream_iterator<std::string>(ids), std::istream_iterator<std::string>()};
}

// The COM number in a unit's name, "COM97 (pts_3)" -> 97.
int PortNumber(const std::string& unit) {
  return unit.rfind("COM", 0) == 0 ? std::atoi(unit.c_str() + 3) : 0;
}

int Faults(int units, unsigned seed, const std::string& root, const std::string& profile,
           PgServer& server) {
  constexpr int kSims = 8;
  constexpr auto kLongestRun = std::chrono::minutes(30);
  std::mt19937 random(seed);
  setenv("XDG_RUNTIME_DIR", root.c_str(), 1);
  std::map<int, std::unique_ptr<SimProcess>> sims;  // by COM number
  for (int i = 0; i < kSims; ++i) {
    auto sim = std::make_unique<SimProcess>(TC_SIM_PATH, root + "/tracker-console/ports", Quiet());
    const int number = sim->WaitForPlug();
    if (number > 0) sims[number] = std::move(sim);
  }
  const std::vector<std::string> arguments = {
      "--watch", "--json", "--profile", profile, "--test-timeout", "7", "--records", server.Url()};
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
  // The fault in force put on (`on`) or taken away.
  const auto apply = [&](bool on) {
    if (fault == "server stopped") on ? server.Stop() : server.Start();
    if (fault == "server hung") SignalServer(server, on ? SIGSTOP : SIGCONT);
    if (fault == "jig killed" && on) {
      jig->End(SIGKILL);
      take(jig->Lines());
      jig = std::make_unique<JigProcess>(arguments);
    }
  };
  while (static_cast<int>(printed.size()) < units && Clock::now() - started < kLongestRun) {
    take(jig->Lines());
    if (jig->Ended()) {
      std::printf("tracker-jig ended by itself; see its message\n");
      return 1;
    }
    const auto now = Clock::now();
    std::erase_if(replugAt, [&](const auto& due) {
      if (now < due.second) return false;
      sims[due.first]->Signal(SIGUSR1);
      return true;
    });
    if (now >= faultEnds) {
      apply(false);
      fault.clear();
      faultEnds = Clock::time_point::max();
      nextFault = now + std::chrono::milliseconds(2000 + random() % 6000);
    }
    if (fault.empty() && now >= nextFault) {
      const char* kinds[] = {"server stopped", "server hung", "jig killed"};
      fault = kinds[random() % 3];
      ++faults[fault];
      apply(true);
      faultEnds = now + std::chrono::milliseconds(1000 + random() % 4000);
    }
    usleep(10'000);
  }
  apply(false);  // the server back, and the spool given time to drain into it
  std::size_t stored = 0;
  for (auto quietSince = Clock::now(); Clock::now() - quietSince < std::chrono::seconds(25);
       usleep(500'000)) {
    take(jig->Lines());
    const std::size_t now = StoredIds(server).size();
    if (now != stored) quietSince = Clock::now();
    stored = now;
  }
  jig->End(SIGTERM);
  take(jig->Lines());

  const std::multiset<std::string> ids = StoredIds(server);
  const std::set<std::string> distinct(ids.begin(), ids.end());
  int lost = 0;
  for (const std::string& id : printed) lost += distinct.contains(id) ? 0 : 1;
  int unseen = 0;
  for (const std::string& id : distinct) unseen += printed.contains(id) ? 0 : 1;
  std::printf("seed %u, %.0f s; faults:", seed, SecondsSince(started));
  for (const auto& [kind, count] : faults) std::printf(" %s %d,", kind.c_str(), count);
  std::printf("\nunits with a printed verdict %zu, records stored %zu (%zu distinct)\n",
              printed.size(), ids.size(), distinct.size());
  std::printf(
      "duplicates %zu (verdicts printed twice %d), lost %d, stored without a printed "
      "verdict %d (target: 0 duplicates, 0 lost)\n",
      ids.size() - distinct.size(), printedTwice, lost, unseen);
  for (auto& delay : delays) delay *= 1000;
  PrintSpread("unit's end to its printed verdict", delays);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const bool faults = argc > 1 && std::string(argv[1]) == "faults";
  const ScratchFolder root(faults ? "tc-bench-faults" : "tc-bench-jig");
  if (root.path().empty()) return 1;
  setenv("XDG_DATA_HOME", root.path().c_str(), 1);
  const std::string profile = root.path() + "/profile.txt";
  std::ofstream(profile) << "format = 1\naddress = 198.51.100.9\nport = 9100\ndomain = 0\n"
                            "sos1 = 110\nsos2 = 119\nsos3 = 120\n"
                         << (faults ? "" : "upload = 30\n");
  PgServer server;
  if (!server.ok()) {
    std::printf("PostgreSQL: %s\n", server.error().c_str());
    return 1;
  }
  if (!faults) return Throughput(root.path(), profile, server);
  const auto seed = static_cast<unsigned>(Argument(argc, argv, 3, std::random_device{}()));
  return Faults(static_cast<int>(Argument(argc, argv, 2, 1000)), seed, root.path(), profile,
                server);
}

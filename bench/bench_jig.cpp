// The line's throughput: eight virtual units tested at once against one alone (tracker-jig --all
// on tracker-sim units), and four processes writing 1,000 records each into one PostgreSQL server.

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "records/pg_store.h"
#include "records/record_store.h"
#include "tests/support/console_harness.h"
#include "tests/support/pg_server.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

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
  const double seconds = Seconds(started);
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

}  // namespace

int main() {
  std::string root = (fs::temp_directory_path() / "tc-bench-jig-XXXXXX").string();
  if (mkdtemp(root.data()) == nullptr) return 1;
  const std::string profile = root + "/profile.txt";
  std::ofstream(profile) << "format = 1\naddress = 198.51.100.9\nport = 9100\ndomain = 0\n"
                            "sos1 = 110\nsos2 = 119\nsos3 = 120\nupload = 30\n";
  setenv("XDG_DATA_HOME", root.c_str(), 1);

  const double one = RunUnits(1, root, profile);
  const double eight = RunUnits(8, root, profile);
  std::printf("units in parallel: 1 unit %.2f s, 8 units %.2f s, ratio %.2f (target <= 1.5)\n", one,
              eight, one > 0 && eight > 0 ? eight / one : -1.0);

  PgServer server;
  if (!server.ok()) {
    std::printf("PostgreSQL: %s\n", server.error().c_str());
    return 1;
  }
  constexpr int kWriters = 4, kEach = 1000;
  records::StoreStatus status;
  records::OpenPostgresStore(server.Url(), &status);  // migrates once, up front
  const auto started = Clock::now();
  const int failedWriters = WriteFromProcesses(server.Url(), kWriters, kEach);
  const double seconds = Seconds(started);
  const long long stored = std::atoll(server.Value("SELECT COUNT(*) FROM unit_record").c_str());
  std::printf(
      "PostgreSQL: %d processes x %d records in %.2f s, %.0f records/s, %lld lost, "
      "%d writers failed\n",
      kWriters, kEach, seconds, kWriters * kEach / seconds, kWriters * kEach - stored,
      failedWriters);
  std::error_code error;
  fs::remove_all(root, error);
  return 0;
}

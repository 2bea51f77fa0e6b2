// The board at line scale: N records (default 1,000,000) on a real PostgreSQL server, a line
// writing 3.3 records a second, 50 browsers. Prints read, page and API times (p50/p95), record
// to event time, and the idle board's RSS and CPU.
//
// usage: bench_board [RECORDS]

#include <httplib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_util.h"
#include "records/line_figures.h"
#include "records/pg_store.h"
#include "tests/support/pg_server.h"
#include "tools/board/board_figures.h"

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A line of 50 stations writes about 300,000 records a day: one every 0.288 s, back from now.
std::string FillSql(long rows) {
  const std::string n = std::to_string(rows);
  const std::string time =
      "to_char((now() AT TIME ZONE 'UTC') - make_interval(secs => i * 0.288),"
      " 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"')";
  return "ALTER TABLE unit_record DISABLE TRIGGER unit_record_stored;"
         "INSERT INTO unit_record SELECT lpad(to_hex(i), 32, '0'), " +
         time + ", " + time +
         ", 'station ' || (i % 50), 'op', 'COM97', '', (860000000000000 + i / 3)::text, 'V1',"
         " '20', '8', '0', 'ok', 1, 1, 1, (i % 240) / 2.0, i % 20, 20 + i % 40, 'p', '',"
         " CASE WHEN i % 10 = 0 THEN 0 ELSE 1 END, 'bench' FROM generate_series(1, " +
         n +
         ") AS i;"
         "INSERT INTO unit_reason SELECT lpad(to_hex(i), 32, '0'), 0,"
         " (ARRAY['gps', 'verify', 'test'])[1 + i % 3], 'reason ' || (i % 7), 'none'"
         " FROM generate_series(10, " +
         n +
         ", 10) AS i;"
         "ALTER TABLE unit_record ENABLE TRIGGER unit_record_stored; ANALYZE; SELECT 1";
}

pid_t StartBoard(const std::string& url, int port) {
  const pid_t pid = fork();
  if (pid == 0) {
    const std::string listen = "127.0.0.1:" + std::to_string(port);
    execl(TC_BOARD_PATH, "tracker-board", "--records", url.c_str(), "--listen", listen.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  return pid;
}

// utime + stime of a process, in seconds.
double ProcessCpu(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string field;
  double ticks = 0;
  for (int i = 1; i <= 15 && stat >> field; ++i) {
    if (i == 14 || i == 15) ticks += std::stod(field);
  }
  return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

long RssKb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

records::UnitRecord Marked(int n) {
  records::UnitRecord r;
  r.recordId = "bench-marker-" + std::to_string(n);
  r.startedUtc = r.endedUtc = board::IsoUtc(std::time(nullptr));
  r.station = "station 0";
  r.imei = "869999999999" + std::to_string(100 + n);
  r.passed = true;
  return r;
}

void Report(const char* what, const std::vector<double>& ms) {
  if (ms.empty()) return std::printf("%-34s no samples\n", what), void();
  std::printf("%-34s p50 %8.1f ms   p95 %8.1f ms   (%zu)\n", what, Percentile(ms, 0.5),
              Percentile(ms, 0.95), ms.size());
}

}  // namespace

int main(int argc, char** argv) {
  const long rows = argc > 1 ? std::atol(argv[1]) : 1000000;
  signal(SIGPIPE, SIG_IGN);
  PgServer server;
  if (!server.ok()) return std::fprintf(stderr, "%s\n", server.error().c_str()), 1;
  records::StoreStatus status;
  auto store = records::OpenPostgresStore(server.Url(), &status);
  if (!store) return std::fprintf(stderr, "%s\n", status.message.c_str()), 1;
  auto start = Clock::now();
  if (server.Value(FillSql(rows)) != "1") return std::fprintf(stderr, "fill failed\n"), 1;
  std::printf("%ld records generated in %.1f s\n", rows, MsSince(start) / 1000);

  // What one refresh of the board costs the server.
  auto reader = records::OpenFigureReader(server.Url(), &status);
  std::vector<double> reads;
  for (int i = 0; i < 10 && reader; ++i) {
    nlohmann::json figures;
    start = Clock::now();
    if (!board::ReadFigures(*reader, {}, std::time(nullptr), &figures).ok) break;
    reads.push_back(MsSince(start));
  }
  Report("all figures read from the server", reads);
  // Each figure alone, over today.
  const auto today = board::LocalDays(std::time(nullptr), 1);
  const std::pair<const char*, std::function<records::StoreStatus()>> figures[] = {
      {"  units per hour",
       [&] {
         std::vector<records::HourCount> out;
         return reader->HourlyCounts(today, &out);
       }},
      {"  yields",
       [&] {
         records::Yields out;
         return reader->UnitYields(today, &out);
       }},
      {"  Pareto",
       [&] {
         records::Pareto out;
         return reader->FailurePareto(today, &out);
       }},
      {"  time to first fix",
       [&] {
         auto out = records::HistogramLayout(records::GpsMeasure::kTtff, {});
         return reader->Distribution(today, &out);
       }},
      {"  last units",
       [&] {
         std::vector<records::UnitSummary> out;
         return reader->LastUnits(15, &out);
       }},
  };
  for (const auto& [name, read] : figures) {
    std::vector<double> ms;
    for (int i = 0; i < 5 && reader; ++i) {
      start = Clock::now();
      if (read().ok) ms.push_back(MsSince(start));
    }
    Report(name, ms);
  }

  const int port = 18000 + getpid() % 1000;
  const pid_t boardPid = StartBoard(server.Url(), port);
  httplib::Client probe("127.0.0.1", port);
  for (int i = 0; i < 200; ++i) {
    if (auto res = probe.Get("/api/figures"); res && res->status == 200) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }

  // The stream as a browser holds it, noting when each marked record arrives.
  std::mutex seenMutex;
  std::vector<std::pair<std::string, Clock::time_point>> seen;
  std::atomic<bool> stop{false};
  std::thread stream([&] {
    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(30, 0);
    client.Get("/events", [&](const char* data, std::size_t size) {
      const std::string chunk(data, size);
      std::lock_guard lock(seenMutex);
      for (std::size_t at = chunk.find("bench-marker-"); at != std::string::npos;
           at = chunk.find("bench-marker-", at + 1)) {
        seen.emplace_back(chunk.substr(at, chunk.find('"', at) - at), Clock::now());
      }
      return !stop;
    });
  });

  // 50 browsers loading the page and its figures, while the line writes 3.3 records a second.
  std::mutex timesMutex;
  std::vector<double> pageMs, apiMs;
  std::vector<std::thread> browsers;
  const auto loadEnd = Clock::now() + std::chrono::seconds(20);
  for (int b = 0; b < 50; ++b) {
    browsers.emplace_back([&] {
      httplib::Client client("127.0.0.1", port);
      while (Clock::now() < loadEnd) {
        auto t = Clock::now();
        bool ok = true;
        for (const char* path : {"/", "/board.css", "/board.js", "/chart.js"}) {
          auto res = client.Get(path);
          ok = ok && res && res->status == 200;
        }
        const double page = MsSince(t);
        t = Clock::now();
        auto res = client.Get("/api/figures");
        ok = ok && res && res->status == 200;
        std::lock_guard lock(timesMutex);
        if (ok) pageMs.push_back(page), apiMs.push_back(MsSince(t));
      }
    });
  }
  std::vector<double> notifyMs;
  for (int n = 0; Clock::now() < loadEnd; ++n) {
    const auto stored = Clock::now();
    if (!store->Append(Marked(n)).ok) break;
    const std::string id = "bench-marker-" + std::to_string(n);
    while (MsSince(stored) < 5000) {
      {
        std::lock_guard lock(seenMutex);
        const auto found =
            std::find_if(seen.begin(), seen.end(), [&](const auto& s) { return s.first == id; });
        if (found != seen.end()) {
          notifyMs.push_back(
              std::chrono::duration<double, std::milli>(found->second - stored).count());
          break;
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::this_thread::sleep_until(stored + std::chrono::milliseconds(300));
  }
  for (auto& b : browsers) b.join();
  Report("page (/, style, script, Chart.js)", pageMs);
  Report("/api/figures", apiMs);
  Report("stored record -> open board's event", notifyMs);

  // Idle: one board still open, nothing stored.
  std::this_thread::sleep_for(std::chrono::seconds(3));
  const double cpuBefore = ProcessCpu(boardPid);
  std::this_thread::sleep_for(std::chrono::seconds(20));
  std::printf("idle board: RSS %ld kB, CPU %.2f %% of a core\n", RssKb(boardPid),
              100 * (ProcessCpu(boardPid) - cpuBefore) / 20);
  stop = true;
  kill(boardPid, SIGTERM);
  waitpid(boardPid, nullptr, 0);
  stream.join();
  return 0;
}

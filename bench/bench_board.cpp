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
#include <map>
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

records::UnitRecord Marked(int n) {
  records::UnitRecord r;
  r.recordId = "bench-marker-" + std::to_string(n);
  r.startedUtc = r.endedUtc = board::IsoUtc(std::time(nullptr));
  r.station = "station 0";
  r.imei = "869999999999" + std::to_string(100 + n);
  r.passed = true;
  return r;
}

// `rounds` reads, each into a fresh copy of `empty`; the spread of those that went through.
template <typename Out, typename Read>
void TimeReads(const char* what, int rounds, const Out& empty, Read read) {
  std::vector<double> ms;
  for (int i = 0; i < rounds; ++i) {
    Out out = empty;
    const auto start = Clock::now();
    if (read(&out).ok) ms.push_back(MsSince(start));
  }
  PrintSpread(what, ms);
}

}  // namespace

int main(int argc, char** argv) {
  const long rows = static_cast<long>(Argument(argc, argv, 1, 1000000));
  signal(SIGPIPE, SIG_IGN);
  PgServer server;
  if (!server.ok()) return std::fprintf(stderr, "%s\n", server.error().c_str()), 1;
  records::StoreStatus status;
  auto store = records::OpenPostgresStore(server.Url(), &status);
  if (!store) return std::fprintf(stderr, "%s\n", status.message.c_str()), 1;
  const auto filling = Clock::now();
  if (server.Value(FillSql(rows)) != "1") return std::fprintf(stderr, "fill failed\n"), 1;
  std::printf("%ld records generated in %.1f s\n", rows, SecondsSince(filling));

  // What one refresh of the board costs the server, then each figure alone, over today.
  auto reader = records::OpenFigureReader(server.Url(), &status);
  if (!reader) return std::fprintf(stderr, "%s\n", status.message.c_str()), 1;
  TimeReads("all figures read from the server", 10, nlohmann::json(), [&](nlohmann::json* out) {
    return board::ReadFigures(*reader, {}, std::time(nullptr), out);
  });
  const auto today = board::LocalDays(std::time(nullptr), 1);
  TimeReads("  units per hour", 5, std::vector<records::HourCount>(),
            [&](auto* out) { return reader->HourlyCounts(today, out); });
  TimeReads("  yields", 5, records::Yields(),
            [&](auto* out) { return reader->UnitYields(today, out); });
  TimeReads("  Pareto", 5, records::Pareto(),
            [&](auto* out) { return reader->FailurePareto(today, out); });
  TimeReads("  time to first fix", 5, records::HistogramLayout(records::GpsMeasure::kTtff, {}),
            [&](auto* out) { return reader->Distribution(today, out); });
  TimeReads("  last units", 5, std::vector<records::UnitSummary>(),
            [&](auto* out) { return reader->LastUnits(15, out); });

  const int port = 18000 + getpid() % 1000;
  const pid_t boardPid = StartBoard(server.Url(), port);
  httplib::Client probe("127.0.0.1", port);
  for (int i = 0; i < 200; ++i) {
    if (auto res = probe.Get("/api/figures"); res && res->status == 200) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }

  // The stream as a browser holds it: each marked record's time from stored to its event.
  std::mutex notifyMutex;
  std::map<std::string, Clock::time_point> storedAt;  // marked records not seen yet
  std::vector<double> notifyMs;
  std::atomic<bool> stop{false};
  std::thread stream([&] {
    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(30, 0);
    client.Get("/events", [&](const char* data, std::size_t size) {
      const std::string chunk(data, size);
      std::lock_guard lock(notifyMutex);
      for (std::size_t at = chunk.find("bench-marker-"); at != std::string::npos;
           at = chunk.find("bench-marker-", at + 1)) {
        const auto marked = storedAt.find(chunk.substr(at, chunk.find('"', at) - at));
        if (marked == storedAt.end()) continue;
        notifyMs.push_back(MsSince(marked->second));
        storedAt.erase(marked);
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
  for (int n = 0; Clock::now() < loadEnd; ++n) {
    const auto stored = Clock::now();
    {
      std::lock_guard lock(notifyMutex);
      storedAt["bench-marker-" + std::to_string(n)] = stored;
    }
    if (!store->Append(Marked(n)).ok) break;
    std::this_thread::sleep_until(stored + std::chrono::milliseconds(300));
  }
  for (auto& b : browsers) b.join();
  PrintSpread("page (/, style, script, Chart.js)", pageMs);
  PrintSpread("/api/figures", apiMs);

  // Idle: one board still open, nothing stored; the last records' events come in meanwhile.
  std::this_thread::sleep_for(std::chrono::seconds(3));
  {
    std::lock_guard lock(notifyMutex);
    PrintSpread("stored record -> open board's event", notifyMs);
    std::printf("%zu stored records without an event\n", storedAt.size());
  }
  const double cpuBefore = ProcessCpu(boardPid);
  std::this_thread::sleep_for(std::chrono::seconds(20));
  std::printf("idle board: RSS %ld kB, CPU %.2f %% of a core\n",
              StatusKb(std::to_string(boardPid), "VmRSS:"),
              100 * (ProcessCpu(boardPid) - cpuBefore) / 20);
  stop = true;
  kill(boardPid, SIGTERM);
  waitpid(boardPid, nullptr, 0);
  stream.join();
  return 0;
}

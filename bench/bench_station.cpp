// The production station's own cost: the time one unit's sequence takes beyond the device's
// waits (the unit answers at once), record write included; and the time to write one record
// into a store already holding 100,000.

#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "records/record_store.h"
#include "station/station_engine.h"
#include "tests/support/fake_unit.h"

namespace {

void UnitsBenchmark(records::RecordStore& store) {
  station::Profile profile;
  std::string error;
  station::ParseProfile("bench",
                        "format = 1\naddress = 10.0.0.1\nport = 9000\ndomain = 0\n"
                        "center = 1380000\nslave = 1390000\nlanguage = 1\nzone = 8\n"
                        "sos1 = 110\nsos2 = 120\nsos3 = 130\nmonitor = 555\nupload = 60\n",
                        &profile, &error);
  std::vector<double> ms;
  for (int unit = 0; unit < 300; ++unit) {
    tc_test::FakeUnit device;
    device.gps = {3.0, 8, {42, 40, 38, 36, 30}};
    station::StationEngine engine(device, &store, nullptr);
    station::StationSettings settings;
    settings.profile = profile;
    settings.gps.enabled = true;
    engine.SetSettings(settings);
    const auto start = Clock::now();
    engine.OnConnected("COM97", "1d6b:0104", start);
    while (engine.Running() && !device.replies.empty()) {
      const std::string reply = device.replies.front();
      device.replies.pop_front();
      engine.OnReply(reply, Clock::now());
    }
    engine.OnTick(Clock::now());
    ms.push_back(MsSince(start));
    if (!engine.LastRecord().passed) std::printf("unexpected FAIL\n");
  }
  PrintSpread("station's own time per unit (with record)", ms, "  (target < 100 ms)");
}

// 100,000 records in one statement, straight into the file, as a busy line's year would be.
void Fill(const std::string& path) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  const int filled = sqlite3_exec(
      db,
      "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 99999)"
      " INSERT INTO unit_record SELECT printf('fill%08d', i), t, t, 's', 'o', 'COM97', '',"
      " printf('86%013d', i), 'FW1', '25', '8', '3', 'present', 1, 1, i % 10 != 0, 3.5,"
      " 8, 42, 'p', 'h', i % 10 != 0, 'v'"
      " FROM (SELECT i, printf('2026-%02d-%02dT10:00:00.000Z', 1 + i % 12, 1 + i % 28)"
      " AS t FROM n)",
      nullptr, nullptr, nullptr);
  if (filled != SQLITE_OK) std::printf("fill failed: %s\n", sqlite3_errmsg(db));
  sqlite3_close(db);
}

void WriteBenchmark(const std::string& path) {
  records::StoreStatus status;
  { auto created = records::OpenStore("sqlite:" + path, &status); }
  Fill(path);
  auto store = records::OpenStore("sqlite:" + path, &status);
  std::vector<double> ms;
  for (int i = 0; i < 500; ++i) {
    records::UnitRecord record;
    record.recordId = "bench" + std::to_string(i);
    record.startedUtc = record.endedUtc = "2026-12-06T10:00:00.000Z";
    record.imei = "861234567890123";
    record.reasons = {{"verify", "sos2 \"120\"", "\"999\""}};
    record.mismatches = {{"sos2", "120", "999"}};
    const auto start = Clock::now();
    if (!store->Append(record).ok) std::printf("append failed\n");
    ms.push_back(MsSince(start));
  }
  PrintSpread("record write with 100,000 stored", ms, "  (target p99 < 10 ms)");
}

}  // namespace

int main() {
  const ScratchFolder dir("tc-bench-station");
  records::StoreStatus status;
  auto store = records::OpenStore("sqlite:" + dir.path() + "/units.sqlite", &status);
  if (!store) {
    std::printf("%s\n", status.message.c_str());
    return 1;
  }
  UnitsBenchmark(*store);
  WriteBenchmark(dir.path() + "/full.sqlite");
  return 0;
}

// The line's figures from both stores, a real SQLite file and a real PostgreSQL server, against
// the same figures counted here straight from the records that were written.

#include "records/line_figures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <random>
#include <set>

#include "records/pg_store.h"
#include "records/sqlite_store.h"
#include "tests/support/pg_server.h"

namespace {

using records::UnitRecord;

struct Scenario {
  const char* what;
  int count;        // generated records
  int imeis;        // distinct units among them (0: none has an IMEI)
  int failPercent;  // chance of a FAIL
  int hours;        // spread over this many hours from 2026-12-06T22:00
  records::FigureWindow window;
};

// A record's fields from a seeded generator: the same scenario gives the same records.
std::vector<UnitRecord> Generate(const Scenario& s) {
  std::mt19937 random(static_cast<unsigned>(s.count * 31 + s.imeis));
  std::vector<UnitRecord> out;
  for (int n = 0; n < s.count; ++n) {
    UnitRecord r;
    char text[48];
    std::snprintf(text, sizeof text, "%032x", n);
    r.recordId = text;
    const int minute = static_cast<int>(random() % static_cast<unsigned>(60 * s.hours));
    std::snprintf(text, sizeof text, "2026-12-%02dT%02d:%02d:%02d.%03dZ",
                  6 + (22 + minute / 60) / 24, (22 + minute / 60) % 24, minute % 60, n % 60,
                  n % 1000);
    r.startedUtc = r.endedUtc = text;
    r.station = "站 " + std::to_string(1 + random() % 3);
    if (s.imeis > 0) r.imei = std::to_string(861000000000000 + random() % s.imeis);
    r.firmware = n % 7 == 0 ? "<img src=x onerror=alert(1)>" : "V1.2";
    r.passed = static_cast<int>(random() % 100) >= s.failPercent;
    // Times on quarter seconds (exact in both stores), some on a bucket's edge or the limit.
    if (random() % 10 != 0) r.ttffSeconds = double(random() % 1000) / 4;
    if (random() % 10 != 0) r.satellitesUsed = static_cast<int>(random() % 20);
    r.bestSignalDbHz = static_cast<int>(random() % 70);
    if (!r.passed) {
      const char* steps[] = {"gps", "verify", "test"};
      const int reasons = 1 + static_cast<int>(random() % 2);
      for (int k = 0; k < reasons; ++k) {
        r.reasons.push_back(
            {steps[random() % 3], k ? "4 satellites used" : "a fix within 120 s", "none"});
      }
    }
    out.push_back(std::move(r));
  }
  return out;
}

// A station's store without a spool in front: "sqlite:PATH" or a server's URL.
std::unique_ptr<records::RecordStore> OpenWriter(const std::string& url,
                                                 records::StoreStatus* status) {
  return records::IsPostgresUrl(url) ? records::OpenPostgresStore(url, status)
                                     : records::OpenSqliteStore(url.substr(7), status);
}

bool InWindow(const UnitRecord& r, const records::FigureWindow& w) {
  return r.startedUtc >= w.fromUtc && r.startedUtc < w.toUtc;
}

bool Earlier(const UnitRecord& a, const UnitRecord& b) {
  return a.startedUtc != b.startedUtc ? a.startedUtc < b.startedUtc : a.recordId < b.recordId;
}

records::Yields ExpectedYields(const std::vector<UnitRecord>& all, const records::FigureWindow& w) {
  records::Yields y;
  std::map<std::string, std::pair<const UnitRecord*, const UnitRecord*>> firstLast;
  for (const auto& r : all) {
    if (!InWindow(r, w)) continue;
    ++y.records;
    if (r.imei.empty()) {
      ++y.unidentified;
      continue;
    }
    auto [it, fresh] = firstLast.try_emplace(r.imei, &r, &r);
    if (!fresh && Earlier(r, *it->second.first)) it->second.first = &r;
    if (!fresh && Earlier(*it->second.second, r)) it->second.second = &r;
  }
  for (const auto& [imei, ends] : firstLast) {
    ++y.units;
    y.firstPassed += ends.first->passed;
    y.finalPassed += ends.second->passed;
  }
  return y;
}

std::vector<std::int64_t> ExpectedBuckets(const std::vector<UnitRecord>& all,
                                          const records::FigureWindow& w,
                                          const records::Histogram& h) {
  // below, each bucket, above, missing, within
  std::vector<std::int64_t> counts(h.counts.size() + 4, 0);
  for (const auto& r : all) {
    if (!InWindow(r, w)) continue;
    std::optional<double> v = r.ttffSeconds;
    if (h.measure == records::GpsMeasure::kSatellitesUsed) v = r.satellitesUsed;
    if (h.measure == records::GpsMeasure::kBestSignal) v = r.bestSignalDbHz;
    if (!v) {
      ++counts[h.counts.size() + 2];
      continue;
    }
    const double slot = std::floor((*v - h.low) / h.width);
    const auto last = static_cast<double>(h.counts.size());
    counts[static_cast<std::size_t>(std::clamp(slot + 1, 0.0, last + 1))]++;
    if (h.limitIsMaximum ? *v <= h.limit : *v >= h.limit) ++counts.back();
  }
  return counts;
}

const Scenario kScenarios[] = {
    {"an empty store", 0, 5, 10, 1, {"2026-12-06", "2026-12-08"}},
    {"every unit passes the first time", 40, 40, 0, 2, {"2026-12-06", "2026-12-08"}},
    {"retests: many units tested more than once", 200, 30, 35, 6, {"2026-12-06", "2026-12-08"}},
    {"a window across midnight", 300, 50, 20, 5, {"2026-12-06T23:00:00Z", "2026-12-07T01:00:00Z"}},
    {"records without an IMEI count apart", 25, 0, 50, 1, {"2026-12-06", "2026-12-08"}},
};

class LineFigures : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { server = new PgServer(); }
  static void TearDownTestSuite() { delete server; }
  static PgServer* server;
  std::string folder = std::filesystem::temp_directory_path() / "tc-figures-XXXXXX";
  void SetUp() override {
    ASSERT_TRUE(server->ok()) << server->error();
    folder = mkdtemp(folder.data());
  }
  void TearDown() override { std::filesystem::remove_all(folder); }
};
PgServer* LineFigures::server = nullptr;

TEST_F(LineFigures, BothStoresGiveTheFiguresCountedFromTheRecords) {
  const records::GpsLimits limits;
  int round = 0;
  for (const auto& s : kScenarios) {
    SCOPED_TRACE(s.what);
    const auto all = Generate(s);
    const std::string schema = "s" + std::to_string(round++);
    // Each scenario in a fresh file and a fresh database schema on the one server.
    ASSERT_EQ(server->Value("CREATE SCHEMA " + schema + "; SELECT 1"), "1");
    const std::string serverUrl = server->Url() + "&options=-csearch_path%3D" + schema;
    const std::string fileUrl = "sqlite:" + folder + "/" + schema + ".sqlite";
    for (const std::string& url : {fileUrl, serverUrl}) {
      SCOPED_TRACE(url);
      records::StoreStatus status;
      auto store = OpenWriter(url, &status);
      ASSERT_TRUE(store) << status.message;
      for (const auto& r : all) ASSERT_TRUE(store->Append(r).ok);
      auto reader = records::OpenFigureReader(url, &status);
      ASSERT_TRUE(reader) << status.message;

      records::Yields yields;
      ASSERT_TRUE(reader->UnitYields(s.window, &yields).ok);
      const auto fields = [](const records::Yields& y) {
        return std::tuple(y.units, y.firstPassed, y.finalPassed, y.records, y.unidentified);
      };
      EXPECT_EQ(fields(yields), fields(ExpectedYields(all, s.window)));

      std::map<std::pair<std::string, std::string>, std::pair<std::int64_t, std::int64_t>> hours;
      std::map<std::string, std::set<std::string>> failedByStep;
      std::map<std::pair<std::string, std::string>, std::int64_t> reasons;
      for (const auto& r : all) {
        if (!InWindow(r, s.window)) continue;
        auto& hour = hours[{r.startedUtc.substr(0, 13), r.station}];
        ++hour.first;
        hour.second += r.passed;
        for (const auto& reason : r.reasons) {
          failedByStep[reason.step].insert(r.recordId);
          ++reasons[{reason.step, reason.expected}];
        }
      }
      std::vector<records::HourCount> hourly;
      ASSERT_TRUE(reader->HourlyCounts(s.window, &hourly).ok);
      ASSERT_EQ(hourly.size(), hours.size());
      for (const auto& h : hourly) {
        const auto counted = hours[{h.hourUtc, h.station}];
        EXPECT_EQ(std::make_pair(h.tested, h.passed), counted) << h.hourUtc << " " << h.station;
      }

      records::Pareto pareto;
      ASSERT_TRUE(reader->FailurePareto(s.window, &pareto).ok);
      ASSERT_EQ(pareto.steps.size(), failedByStep.size());
      for (std::size_t i = 0; i < pareto.steps.size(); ++i) {
        const auto& e = pareto.steps[i];
        EXPECT_EQ(e.count, static_cast<std::int64_t>(failedByStep[e.step].size())) << e.step;
        if (i > 0) {
          EXPECT_GE(pareto.steps[i - 1].count, e.count) << "most frequent first";
        }
      }
      ASSERT_EQ(pareto.reasons.size(), reasons.size());
      for (const auto& e : pareto.reasons) EXPECT_EQ(e.count, (reasons[{e.step, e.reason}]));

      for (auto measure : {records::GpsMeasure::kTtff, records::GpsMeasure::kSatellitesUsed,
                           records::GpsMeasure::kBestSignal}) {
        auto h = records::HistogramLayout(measure, limits);
        ASSERT_TRUE(reader->Distribution(s.window, &h).ok);
        std::vector<std::int64_t> got = {h.below};
        got.insert(got.end(), h.counts.begin(), h.counts.end());
        got.insert(got.end(), {h.above, h.missing, h.withinLimit});
        EXPECT_EQ(got, ExpectedBuckets(all, s.window, h)) << static_cast<int>(measure);
      }

      auto newest = all;
      std::sort(newest.begin(), newest.end(), [](auto& a, auto& b) { return Earlier(b, a); });
      std::vector<records::UnitSummary> units;
      ASSERT_TRUE(reader->LastUnits(10, &units).ok);
      ASSERT_EQ(units.size(), std::min<std::size_t>(10, all.size()));
      for (std::size_t i = 0; i < units.size(); ++i) {
        EXPECT_EQ(units[i].recordId, newest[i].recordId);
        EXPECT_EQ(units[i].firmware, newest[i].firmware) << "kept byte for byte";
        EXPECT_EQ(units[i].firstStep, newest[i].reasons.empty() ? "" : newest[i].reasons[0].step);
      }
      if (all.empty() || all[0].imei.empty()) continue;
      ASSERT_TRUE(reader->UnitHistory(all[0].imei, 1000, &units).ok);
      EXPECT_EQ(units.size(), std::count_if(all.begin(), all.end(), [&](const UnitRecord& r) {
                  return r.imei == all[0].imei;
                }));
    }
  }
}

// What the reader refuses, and that it never writes.
TEST_F(LineFigures, ReaderRefusesWhatItCannotReadAndNeverWrites) {
  const std::string missing = folder + "/none.sqlite";
  const struct {
    const char* what;
    std::string url;
  } cases[] = {
      {"a file that is not there", "sqlite:" + missing},
      {"a file that is not a records file", "sqlite:/etc/hostname"},
      {"an unknown kind of store", "mysql://line"},
      {"a server that does not answer", "postgresql:///none?host=" + folder + "&connect_timeout=2"},
  };
  for (const auto& c : cases) {
    records::StoreStatus status;
    EXPECT_FALSE(records::OpenFigureReader(c.url, &status)) << c.what;
    EXPECT_FALSE(status.ok || status.message.empty()) << c.what;
  }
  EXPECT_FALSE(std::filesystem::exists(missing)) << "the reader created the file";
  records::StoreStatus status;
  auto reader = records::OpenFigureReader(server->Url(), &status);
  ASSERT_TRUE(reader) << status.message;
  std::vector<records::FigureReader::Row> rows;
  EXPECT_FALSE(reader->Select("CREATE TABLE board_wrote (x INTEGER)", {}, &rows).ok);
}

// A record stored by a station wakes a watch on either store; a quiet store times out.
TEST_F(LineFigures, WatchSeesEveryStoredRecord) {
  for (const std::string& url : {"sqlite:" + folder + "/watch.sqlite", server->Url()}) {
    SCOPED_TRACE(url);
    records::StoreStatus status;
    auto store = OpenWriter(url, &status);
    ASSERT_TRUE(store) << status.message;
    auto watch = records::OpenChangeWatch(url);
    bool changed = true;
    ASSERT_TRUE(watch->Wait(300, &changed).ok);
    EXPECT_FALSE(changed) << "nothing was stored";
    UnitRecord r;
    r.recordId = "watched" + url.substr(0, 6);
    r.startedUtc = "2026-12-07T10:00:00.000Z";
    ASSERT_TRUE(store->Append(r).ok);
    for (int tries = 0; tries < 20 && !changed; ++tries) ASSERT_TRUE(watch->Wait(700, &changed).ok);
    EXPECT_TRUE(changed);
  }
}

}  // namespace

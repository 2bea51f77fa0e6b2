// The SQLite store on real files: round trip, filters, duplicates, CSV, and a writer killed
// mid-stream.

#include "records/record_store.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "records/csv_export.h"

namespace {

struct TempDir {
  std::string path;
  TempDir() {
    char templ[] = "/tmp/tc-records-XXXXXX";
    path = mkdtemp(templ);
  }
  ~TempDir() { std::filesystem::remove_all(path); }
};

records::UnitRecord Sample(int n, bool passed, const std::string& imei) {
  records::UnitRecord r;
  r.recordId = "id" + std::to_string(n);
  r.startedUtc = "2026-12-0" + std::to_string(1 + n % 5) + "T10:00:00.000Z";
  r.endedUtc = r.startedUtc;
  r.station = "站 1";
  r.operatorName = "li, \"wei\"";
  r.imei = imei;
  r.testGps = passed;
  r.ttffSeconds = 12.5;
  r.passed = passed;
  if (!passed) {
    r.mismatches = {{"sos2", "110", "119"}};
    r.reasons = {{"verify", "sos2 110", "119"}, {"test", "gps ok", "fail"}};
  }
  return r;
}

std::unique_ptr<records::RecordStore> Open(const std::string& path) {
  records::StoreStatus status;
  auto store = records::OpenStore("sqlite:" + path, &status);
  EXPECT_TRUE(status.ok) << status.message;
  return store;
}

TEST(RecordStore, RoundTripFiltersAndCounts) {
  TempDir dir;
  auto store = Open(dir.path + "/sub/r.sqlite");
  ASSERT_TRUE(store);
  for (int n = 0; n < 10; ++n) {
    ASSERT_TRUE(store->Append(Sample(n, n % 3 != 0, n < 4 ? "111" : "222")).ok);
  }
  ASSERT_TRUE(store->Append(Sample(1, true, "111")).ok);  // same id again: kept once

  struct Case {
    const char* what;
    records::RecordFilter filter;
    std::size_t expected;
  } cases[] = {
      {"all", {}, 10},
      {"by imei", {"111", std::nullopt, "", "", 0}, 4},
      {"failed only", {"", false, "", "", 0}, 4},
      {"passed 222", {"222", true, "", "", 0}, 4},
      {"date range", {"", std::nullopt, "2026-12-02", "2026-12-04", 0}, 4},
      {"limit", {"", std::nullopt, "", "", 3}, 3},
  };
  for (const auto& c : cases) {
    std::vector<records::UnitRecord> found;
    ASSERT_TRUE(store->Query(c.filter, &found).ok) << c.what;
    EXPECT_EQ(found.size(), c.expected) << c.what;
    for (std::size_t i = 1; i < found.size(); ++i) {
      EXPECT_GE(found[i - 1].startedUtc, found[i].startedUtc) << c.what << ": newest first";
    }
  }

  std::vector<records::UnitRecord> found;
  ASSERT_TRUE(store->Query({"", false, "", "", 1}, &found).ok);
  const auto expected = Sample(std::stoi(found[0].recordId.substr(2)), false, found[0].imei);
  EXPECT_EQ(found[0].station, expected.station);
  EXPECT_EQ(found[0].operatorName, expected.operatorName);
  EXPECT_EQ(found[0].testGps, std::optional<bool>(false));
  EXPECT_EQ(found[0].testGsm, std::nullopt);
  EXPECT_EQ(found[0].ttffSeconds, 12.5);
  ASSERT_EQ(found[0].reasons.size(), 2u);
  EXPECT_EQ(found[0].reasons[1].step, "test");
  ASSERT_EQ(found[0].mismatches.size(), 1u);
  EXPECT_EQ(found[0].mismatches[0].actual, "119");

  records::DayCounts counts;
  ASSERT_TRUE(store->Count("2026-12-01", "2026-12-03", &counts).ok);
  EXPECT_EQ(counts.passed + counts.failed, 4);  // n = 0, 1, 5, 6
  EXPECT_EQ(counts.failed, 2);

  // Reopening keeps everything and the schema as it is.
  store.reset();
  store = Open(dir.path + "/sub/r.sqlite");
  ASSERT_TRUE(store->Query({}, &found).ok);
  EXPECT_EQ(found.size(), 10u);
}

TEST(RecordStore, RefusesWhatItCannotOpen) {
  TempDir dir;
  {
    sqlite3* db = nullptr;
    sqlite3_open((dir.path + "/newer.sqlite").c_str(), &db);
    sqlite3_exec(
        db, "CREATE TABLE schema_version (version INTEGER); INSERT INTO schema_version VALUES (99)",
        nullptr, nullptr, nullptr);
    sqlite3_close(db);
  }
  std::ofstream(dir.path + "/junk.sqlite") << "not a database at all, not at all, no";
  struct Case {
    std::string url, fragment;
  } cases[] = {
      {"postgresql://line/records", "without the PostgreSQL store"},
      {"mysql://x", "unknown kind of store"},
      {"sqlite:", "no file"},
      {"sqlite:" + dir.path + "/newer.sqlite", "newer console"},
      {"sqlite:" + dir.path + "/junk.sqlite", "junk.sqlite"},
  };
  for (const auto& c : cases) {
    records::StoreStatus status;
    EXPECT_EQ(records::OpenStore(c.url, &status), nullptr) << c.url;
    EXPECT_FALSE(status.ok) << c.url;
    EXPECT_NE(status.message.find(c.fragment), std::string::npos) << status.message;
  }
}

TEST(RecordStore, DefaultPathFollowsXdgDataHome) {
  setenv("XDG_DATA_HOME", "/srv/data", 1);
  EXPECT_EQ(records::DefaultStorePath(), "/srv/data/tracker-console/records.sqlite");
  unsetenv("XDG_DATA_HOME");
}

TEST(RecordStore, CsvIsRfc4180) {
  struct Case {
    std::string in, out;
  } cases[] = {{"plain", "plain"},
               {"a,b", "\"a,b\""},
               {"say \"hi\"", "\"say \"\"hi\"\"\""},
               {"two\r\nlines", "\"two\r\nlines\""},
               {"站 1", "站 1"}};
  for (const auto& c : cases) EXPECT_EQ(records::CsvField(c.in), c.out);

  TempDir dir;
  auto store = Open(dir.path + "/r.sqlite");
  ASSERT_TRUE(store->Append(Sample(1, true, "111")).ok);
  ASSERT_TRUE(store->Append(Sample(2, false, "222")).ok);
  std::size_t written = 0;
  ASSERT_TRUE(records::ExportCsv(*store, {}, dir.path + "/out.csv", &written).ok);
  EXPECT_EQ(written, 2u);
  std::ifstream in(dir.path + "/out.csv", std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  const std::string csv = text.str();
  EXPECT_EQ(csv.substr(0, csv.find("\r\n")), records::CsvHeader().substr(0, csv.find("\r\n")));
  EXPECT_NE(csv.find("\r\nid1,2026-12-02T10:00:00.000Z,2026-12-02T10:00:00.000Z,站 1,"
                     "\"li, \"\"wei\"\"\","),
            std::string::npos);
  EXPECT_NE(csv.find(",FAIL,\"verify: expected \"\"sos2 110\"\", came \"\"119\"\"; test:"),
            std::string::npos);
  EXPECT_FALSE(records::ExportCsv(*store, {}, dir.path + "/no/such/dir/out.csv").ok);
}

// A child writes records and reports each one after Append returned; it is killed at an
// arbitrary moment. Every reported record must be there, in a consistent file.
TEST(RecordStore, KillNineLosesNoReportedRecord) {
  TempDir dir;
  const std::string path = dir.path + "/k.sqlite";
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(pipeFds[0]);
    records::StoreStatus status;
    auto store = records::OpenStore("sqlite:" + path, &status);
    for (int n = 0; store; ++n) {
      if (!store->Append(Sample(n, n % 2 == 0, "333")).ok) break;
      if (write(pipeFds[1], "x", 1) != 1) break;
    }
    _exit(1);
  }
  close(pipeFds[1]);
  int reported = 0;
  char byte;
  while (reported < 40 && read(pipeFds[0], &byte, 1) == 1) ++reported;
  kill(child, SIGKILL);
  while (read(pipeFds[0], &byte, 1) == 1) ++reported;  // reported before it died
  close(pipeFds[0]);
  waitpid(child, nullptr, 0);
  ASSERT_GE(reported, 40);

  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  auto scalar = [&](const char* sql) {
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, sql, -1, &st, nullptr);
    std::string value = sqlite3_step(st) == SQLITE_ROW
                            ? reinterpret_cast<const char*>(sqlite3_column_text(st, 0))
                            : "";
    sqlite3_finalize(st);
    return value;
  };
  EXPECT_EQ(scalar("PRAGMA integrity_check"), "ok");
  EXPECT_GE(std::stoi(scalar("SELECT COUNT(*) FROM unit_record")), reported);
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM unit_record r WHERE passed = 0 AND "
                   "(SELECT COUNT(*) FROM unit_reason WHERE record_id = r.record_id) != 2"),
            "0");
  sqlite3_close(db);
}

}  // namespace

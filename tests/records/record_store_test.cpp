// The SQLite store on real files: what it refuses to open, and a writer killed mid-stream (what
// both stores share is tested on both, with the line's).

#include "records/record_store.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

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
      {"postgresql://line/records?nosuchoption=1", "not a PostgreSQL URL"},
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

TEST(RecordStore, CsvFieldsAreQuotedOnlyWhenTheyMustBe) {
  struct Case {
    std::string in, out;
  } cases[] = {{"plain", "plain"},
               {"a,b", "\"a,b\""},
               {"say \"hi\"", "\"say \"\"hi\"\"\""},
               {"two\r\nlines", "\"two\r\nlines\""},
               {"站 1", "站 1"}};
  for (const auto& c : cases) EXPECT_EQ(records::CsvField(c.in), c.out);
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
      records::UnitRecord r;
      r.recordId = "id" + std::to_string(n);
      r.startedUtc = r.endedUtc = "2026-12-01T10:00:00.000Z";
      r.passed = n % 2 == 0;
      if (!r.passed) r.reasons = {{"verify", "sos2 110", "119"}, {"test", "gps ok", "fail"}};
      if (!store->Append(r).ok) break;
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

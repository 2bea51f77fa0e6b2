// tracker-jig end to end: real tracker-sim units, the real program, a real PostgreSQL server.

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <clocale>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <thread>

#include "records/record_store.h"
#include "records/store_text.h"
#include "tests/support/console_harness.h"
#include "tests/support/pg_server.h"
#include "tools/jig/jig_events.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Lines = std::vector<std::string>;

constexpr auto kPatience = std::chrono::seconds(60);

// tracker-jig as a child process; its stdout goes to an anonymous file, read as it grows.
class Jig {
 public:
  explicit Jig(Lines arguments, const std::string& program = TC_JIG_PATH)
      : out_(memfd_create("jig-out", MFD_CLOEXEC)) {
    arguments.insert(arguments.begin(), program);
    std::vector<char*> argv;
    for (std::string& a : arguments) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out_, STDOUT_FILENO);
    posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Jig() {
    if (pid_ > 0) kill(pid_, SIGKILL), Wait();
    close(out_);
  }
  // The next line holding `fragment`, after the last one found; "" when none came in time.
  std::string WaitFor(const std::string& fragment) {
    for (const auto deadline = Clock::now() + kPatience; Clock::now() < deadline; usleep(20'000)) {
      for (ReadLines(); from_ < lines.size(); ++from_) {
        if (lines[from_].find(fragment) != std::string::npos) return lines[from_++];
      }
    }
    return {};
  }
  void Signal(int number) const { kill(pid_, number); }
  [[nodiscard]] pid_t Pid() const { return pid_; }
  int Wait() {
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    ReadLines();
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  Lines lines;  // every whole line written so far

 private:
  void ReadLines() {
    char chunk[4096];
    for (ssize_t got; (got = pread(out_, chunk, sizeof chunk, read_)) > 0; read_ += got) {
      partial_.append(chunk, static_cast<std::size_t>(got));
    }
    for (std::size_t end; (end = partial_.find('\n')) != std::string::npos;
         partial_.erase(0, end + 1)) {
      lines.push_back(partial_.substr(0, end));
    }
  }
  pid_t pid_ = -1;
  int out_;
  off_t read_ = 0;
  std::string partial_;
  std::size_t from_ = 0;
};

// The run's summary, "units passed failed", when it is the last line and the only summary.
std::string Summary(const Lines& lines) {
  jig::UnitEvent event;
  std::string error;
  const auto isSummary = [&](const std::string& line) {
    return jig::FromJsonLine(line, &event, &error) && event.kind == jig::UnitEvent::Kind::kSummary;
  };
  if (std::count_if(lines.begin(), lines.end(), isSummary) != 1 || !isSummary(lines.back())) {
    return "no summary at the end";
  }
  return std::to_string(event.units) + " " + std::to_string(event.passed) + " " +
         std::to_string(event.failed);
}

// The jig's workers whose parent is `parent`, and whether each is a zombie (a zombie's command
// line is gone; a sanitizer's helper task shares the jig's).
std::map<pid_t, bool> JigsUnder(pid_t parent) {
  std::map<pid_t, bool> found;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    std::ifstream stat(entry.path() / "stat");
    std::string line, arguments;
    if (!std::getline(stat, line) || line.find("(tracker-jig) ") == std::string::npos) continue;
    char state = 0;
    int ppid = 0;
    if (std::sscanf(line.c_str() + line.rfind(')') + 1, " %c %d", &state, &ppid) != 2) continue;
    std::getline(std::ifstream(entry.path() / "cmdline"), arguments);
    if (ppid != parent || (state != 'Z' && arguments.find("--device") == std::string::npos)) {
      continue;
    }
    found[std::stoi(entry.path().filename())] = state == 'Z';
  }
  return found;
}

// Private runtime and data folders (ports, the default store), a profile, simulators.
class JigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "tc-jig-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    UseFolders("one");
    profile = root_ + "/profile.txt";
    std::ofstream(profile) << "format = 1\naddress = 198.51.100.9\nport = 9100\ndomain = 0\n"
                              "sos1 = 110\nsos2 = 119\nsos3 = 120\n";
  }
  void TearDown() override {
    sims_.clear();
    fs::remove_all(root_);
  }
  SimProcess& Plug(Lines arguments) {
    sims_.push_back(std::make_unique<SimProcess>(TC_SIM_PATH, ports_, Quiet(arguments)));
    EXPECT_GT(sims_.back()->WaitForPlug(), 0);
    return *sims_.back();
  }
  // A station's own runtime folder (its ports) and data folder (its store and spool).
  void UseFolders(const std::string& name) {
    setenv("XDG_RUNTIME_DIR", (root_ + "/" + name).c_str(), 1);
    setenv("XDG_DATA_HOME", (root_ + "/" + name).c_str(), 1);
    ports_ = root_ + "/" + name + "/tracker-console/ports";
  }
  Lines Args(Lines extra) const {
    extra.insert(extra.end(), {"--profile", profile, "--test-timeout", "4", "--json"});
    return extra;
  }

  std::string root_;
  std::string ports_;
  std::string profile;
  std::vector<std::unique_ptr<SimProcess>> sims_;
};

// Every kind of line reads back as written, in a decimal-comma locale too; a device's bytes that
// are not UTF-8 arrive escaped, and every byte comes back from the escape.
TEST(JigEvents, EveryKindReadsBackAsWritten) {
  using Kind = jig::UnitEvent::Kind;
  std::setlocale(LC_ALL, "de_DE.UTF-8");
  for (const Kind kind :
       {Kind::kStep, Kind::kVerdict, Kind::kRecord, Kind::kNotice, Kind::kSummary}) {
    jig::UnitEvent e;
    e.kind = kind;
    e.time = "2026-12-06T23:41:07.123Z";
    e.unit = "COM65 (ttyACM0)";
    e.device = "/dev/ttyACM0";
    e.elapsedSeconds = 12.25;
    e.step = "test";
    e.detail = "say \"\xFF\xFE\" \x01";
    e.problem = true;
    e.record.recordId = "0123456789abcdef0123456789abcdef";
    e.record.firmware = "V1.\xFF";
    e.record.ttffSeconds = 0.1;
    e.record.reasons = {{"test", "gps ok", "gps fail"}};
    e.recordId = e.record.recordId;
    e.stored = true;
    e.store = "postgresql://jig@db/r";
    e.kept = "spool";
    e.units = 3, e.passed = 1, e.failed = 2;
    const std::string line = jig::ToJsonLine(e);
    EXPECT_EQ(line.find("12,25"), std::string::npos) << line;
    EXPECT_TRUE(records::IsUtf8(line)) << line;
    jig::UnitEvent back;
    std::string error;
    ASSERT_TRUE(jig::FromJsonLine(line, &back, &error)) << error << ": " << line;
    EXPECT_EQ(jig::ToJsonLine(back), line);
    if (kind == Kind::kNotice) {
      EXPECT_EQ(records::StoreTextBytes(back.detail), e.detail);
    }
    if (kind == Kind::kVerdict) {
      EXPECT_EQ(records::StoreTextBytes(back.record.firmware), "V1.\xFF");
    }
  }
  std::setlocale(LC_ALL, "C");
}

TEST_F(JigTest, ExitStatusSaysHowTheRunEnded) {
  const std::string badProfile = root_ + "/bad.txt";
  std::ofstream(badProfile) << "format = 1\nnosuchkey = 1\n";
  // What befalls the run once its unit's test has begun.
  enum Fault { kNone, kKillWorker, kStopWorker, kInterrupt, kHangUp, kStopWorkerInterruptTwice };
  const struct {
    const char* what;
    std::vector<Lines> units;
    Lines arguments;
    int status;
    Fault fault = kNone;
    const char* verdict = nullptr;  // in the unit's verdict
    const char* summary = nullptr;  // "units passed failed"; each unit's record stored
  } cases[] = {
      {"a passing unit", {{}}, Args({}), 0},
      {"a failing unit", {{"--fail-test", "gps"}}, Args({"--all"}), 1},
      {"no tracker", {}, Args({"--all"}), 2},
      {"no tracker on that port", {{}}, Args({"--port", "COM120"}), 2},
      {"no such device", {}, Args({"--device", "/dev/nonexistent-tty"}), 2},
      {"bad profile", {}, {"--profile", badProfile, "--all"}, 3},
      {"bad store URL", {}, Args({"--records", "mysql://x"}), 3},
      // Each way a unit can end, as the summary and the exit status tell it.
      {"passed", {{}}, Args({"--all"}), 0, kNone, "\"PASS\"", "1 1 0"},
      {"failed", {{"--fail-test", "key"}}, Args({"--all"}), 1, kNone, "\"key ok", "1 0 1"},
      {"silent", {{"--silent"}}, Args({"--all"}), 1, kNone, "\"step\":\"identify\"", "1 0 1"},
      {"unplugged",
       {{"--unplug-on", "factory_test"}},
       Args({"--all"}),
       1,
       kNone,
       "unplugged during test",
       "1 0 1"},
      {"worker crashed",
       {{"--no-test-result"}},
       Args({"--all"}),
       1,
       kKillWorker,
       "signal Killed",
       "1 0 1"},
      {"worker hung",
       {{"--no-test-result"}},
       Args({"--all"}),
       1,
       kStopWorker,
       "worker stopped answering during test",
       "1 0 1"},
      {"stopped by the operator",
       {{"--no-test-result"}},
       Args({"--all"}),
       1,
       kInterrupt,
       "station stopped during test",
       "1 0 1"},
      {"terminal hung up",
       {{"--no-test-result"}},
       Args({"--all"}),
       1,
       kHangUp,
       "station stopped during test",
       "1 0 1"},
      {"hung worker, two interrupts",
       {{"--no-test-result"}},
       Args({"--watch"}),
       1,
       kStopWorkerInterruptTwice,
       "station stopped during test",
       "1 0 1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    for (const Lines& unit : c.units) Plug(unit);
    Jig jig(c.arguments);
    if (c.fault != kNone) {
      ASSERT_NE(jig.WaitFor("\"step\":\"test\""), "");
      const std::map<pid_t, bool> workers = JigsUnder(jig.Pid());
      ASSERT_EQ(workers.size(), 1u);
      const pid_t worker = workers.begin()->first;
      if (c.fault == kKillWorker) kill(worker, SIGKILL);
      if (c.fault == kStopWorker || c.fault == kStopWorkerInterruptTwice) kill(worker, SIGSTOP);
      if (c.fault == kInterrupt || c.fault == kStopWorkerInterruptTwice) jig.Signal(SIGINT);
      if (c.fault == kHangUp) jig.Signal(SIGHUP);
      if (c.fault == kStopWorkerInterruptTwice) {
        EXPECT_NE(jig.WaitFor("interrupt again"), "");
        jig.Signal(SIGINT);
      }
    }
    // A jig that does not end fails here instead of hanging the test.
    if (c.summary != nullptr && jig.WaitFor("\"event\":\"summary\"").empty()) {
      jig.Signal(SIGKILL);
    }
    EXPECT_EQ(jig.Wait(), c.status);
    if (c.summary != nullptr) {
      EXPECT_EQ(Summary(jig.lines), c.summary);
      const auto has = [&](const char* a, const char* b) {
        return std::count_if(jig.lines.begin(), jig.lines.end(), [&](const std::string& line) {
          return line.find(a) != std::string::npos && line.find(b) != std::string::npos;
        });
      };
      EXPECT_EQ(has("\"event\":\"verdict\"", c.verdict), 1);
      EXPECT_EQ(has("\"event\":\"record\"", "\"stored\":true"), c.summary[0] - '0');
    }
    sims_.clear();
  }
}

// The jig's workers still running after the jig is gone (this process reaps them as their
// subreaper), once those that end have had `patience` to do so.
std::set<pid_t> OrphanedWorkers(std::chrono::seconds patience) {
  std::set<pid_t> alive;
  for (const auto deadline = Clock::now() + patience; Clock::now() < deadline; usleep(50'000)) {
    alive.clear();
    for (const auto& [pid, zombie] : JigsUnder(getpid())) {
      if (zombie) waitpid(pid, nullptr, 0);
      if (!zombie) alive.insert(pid);
    }
    if (alive.empty()) break;
  }
  return alive;
}

// Kill -9 and SIGHUP of the jig, SIGSTOP and kill -9 of a worker, each at a random moment: no
// worker outlives the jig by more than a moment, and each unit whose sequence began has its
// verdict and its stored record. A jig killed outright cannot tell; its units wait for a test
// result for 9 s, which an orphaned worker would stay for, and a jig started again finds every
// port free.
TEST_F(JigTest, ProcessFaultsLeaveNoOrphanAndNoUnitWithoutItsVerdict) {
  ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  const std::string store = "sqlite:" + root_ + "/faults.sqlite";
  const char* faults[] = {"kill -9 of the jig", "SIGHUP of the jig", "SIGSTOP of a worker",
                          "kill -9 of a worker"};
  for (int run = 0; run < 8; ++run) {
    const int fault = run % 4;
    SCOPED_TRACE(faults[fault]);
    const Lines unit = fault == 0 ? Lines{"--no-test-result"} : Lines{};
    Plug(unit);
    Plug(unit);
    Lines arguments = Args({"--all", "--records", store});
    if (fault == 0) arguments.insert(arguments.end(), {"--test-timeout", "9"});
    auto jig = std::make_unique<Jig>(arguments);
    ASSERT_NE(jig->WaitFor("\"event\""), "");
    std::this_thread::sleep_for(std::chrono::milliseconds(random() % 2000));
    const std::map<pid_t, bool> workers = JigsUnder(jig->Pid());
    const pid_t worker =
        workers.empty() ? -1 : std::next(workers.begin(), random() % workers.size())->first;
    if (fault == 0) jig->Signal(SIGKILL);
    if (fault == 1) jig->Signal(SIGHUP);
    if (fault >= 2 && worker > 0) kill(worker, fault == 2 ? SIGSTOP : SIGKILL);
    if (fault != 0 && jig->WaitFor("\"event\":\"summary\"").empty()) jig->Signal(SIGKILL);
    const int status = jig->Wait();
    EXPECT_EQ(OrphanedWorkers(std::chrono::seconds(3)), std::set<pid_t>{});
    for (const auto& [pid, zombie] : JigsUnder(getpid())) kill(pid, SIGKILL);
    OrphanedWorkers(std::chrono::seconds(10));

    std::set<std::string> begun, judged, reported;
    int failed = 0;
    for (const std::string& line : jig->lines) {
      jig::UnitEvent event;
      std::string error;
      ASSERT_TRUE(jig::FromJsonLine(line, &event, &error)) << line;
      if (event.kind == jig::UnitEvent::Kind::kStep) begun.insert(event.unit);
      if (event.kind == jig::UnitEvent::Kind::kVerdict) {
        judged.insert(event.unit);
        failed += event.record.passed ? 0 : 1;
      }
      if (event.kind == jig::UnitEvent::Kind::kRecord && event.stored) {
        reported.insert(event.recordId);
      }
    }
    records::StoreStatus opened;
    auto reader = records::OpenStore(store, &opened);
    ASSERT_TRUE(reader) << opened.message;
    std::vector<records::UnitRecord> kept;
    ASSERT_TRUE(reader->Query({}, &kept).ok);
    std::set<std::string> keptIds;
    for (const auto& record : kept) keptIds.insert(record.recordId);
    EXPECT_TRUE(std::includes(keptIds.begin(), keptIds.end(), reported.begin(), reported.end()));
    if (fault != 0) {
      EXPECT_EQ(status, failed > 0 ? 1 : 0);
      EXPECT_EQ(Summary(jig->lines).substr(0, 2), std::to_string(judged.size()) + " ");
      EXPECT_EQ(judged, begun);
      EXPECT_EQ(reported.size(), judged.size());
    } else {
      Jig again(Args({"--all", "--records", store}));
      EXPECT_LE(again.Wait(), 1);
      EXPECT_EQ(Summary(again.lines).substr(0, 2), "2 ");
      for (const std::string& line : again.lines) EXPECT_EQ(line.find("busy"), std::string::npos);
    }
    sims_.clear();
  }
  prctl(PR_SET_CHILD_SUBREAPER, 0);
}

TEST_F(JigTest, JsonLinesFollowTheDocumentedSchemaInAMixedParallelRun) {
  Plug({"--imei", "861111111111111"});
  Plug({"--imei", "862222222222223", "--fail-test", "gps"});
  Plug({"--imei", "863333333333335", "--refuse-set", "sos1"});
  Jig jig(Args({"--all"}));
  ASSERT_EQ(jig.Wait(), 1);
  using Type = nlohmann::json::value_t;
  const Type S = Type::string, B = Type::boolean, N = Type::number_unsigned, A = Type::array,
             O = Type::object;
  const std::map<std::string, std::vector<std::pair<const char*, Type>>> schema = {
      {"step", {{"unit", S}, {"device", S}, {"step", S}, {"detail", S}, {"problem", B}}},
      {"verdict", {{"unit", S}, {"verdict", S}, {"imei", S}, {"reasons", A}, {"record", O}}},
      {"record", {{"record_id", S}, {"stored", B}, {"store", S}, {"message", S}, {"kept", S}}},
      {"summary", {{"units", N}, {"passed", N}, {"failed", N}}},
  };
  std::map<std::string, std::string> verdicts;  // by IMEI
  std::set<std::string> units;
  int recordEvents = 0;
  std::string lastVerdictId;
  for (const std::string& line : jig.lines) {
    const auto value = nlohmann::json::parse(line, nullptr, false);
    ASSERT_TRUE(value.is_object()) << line;
    const std::string event = value.value("event", "");
    ASSERT_TRUE(schema.contains(event)) << line;
    for (const auto& [name, type] : schema.at(event)) {
      ASSERT_TRUE(value.contains(name)) << name << " in " << line;
      EXPECT_EQ(value[name].type(), type) << name << " in " << line;
    }
    EXPECT_EQ(value["time"].get<std::string>().size(), 24u) << line;
    EXPECT_TRUE(value["elapsed_s"].is_number()) << line;
    if (event == "verdict") {
      verdicts[value["imei"]] = value["verdict"];
      units.insert(value["unit"].get<std::string>());
      EXPECT_EQ(value["unit"], value["record"]["port"]);
      lastVerdictId = value["record"]["record_id"];
    }
    if (event == "record") {
      ++recordEvents;
      // Each record's line follows its own verdict: shown once the record is kept.
      EXPECT_EQ(value["record_id"], lastVerdictId) << line;
      EXPECT_EQ(value["kept"], "store") << line;
    }
  }
  EXPECT_EQ(verdicts, (std::map<std::string, std::string>{{"861111111111111", "PASS"},
                                                          {"862222222222223", "FAIL"},
                                                          {"863333333333335", "FAIL"}}));
  EXPECT_EQ(units.size(), 3u);
  EXPECT_EQ(recordEvents, 3);
  EXPECT_EQ(Summary(jig.lines), "3 1 2");
}

TEST_F(JigTest, WatchTestsUnitsAsTheyArePluggedAndPulled) {
  const std::string program = root_ + "/tracker-jig";
  fs::copy_file(TC_JIG_PATH, program);
  Jig jig(Args({"--watch"}), program);
  SimProcess& first = Plug({"--imei", "861111111111111"});
  EXPECT_NE(jig.WaitFor("\"verdict\":\"PASS\""), "");
  // An upgrade takes the program away under the running line; a chown of a tested unit's port
  // changes its node's change time, but it is still the unit already tested.
  fs::remove(program);
  for (const auto& link : fs::directory_iterator(ports_)) {
    ASSERT_EQ(lchown(link.path().c_str(), getuid(), getgid()), 0);
  }
  Plug({"--imei", "862222222222223", "--fail-test", "key"});
  EXPECT_NE(jig.WaitFor("\"verdict\":\"FAIL\""), "");
  EXPECT_EQ(std::count_if(jig.lines.begin(), jig.lines.end(),
                          [](const std::string& line) {
                            return line.find("\"imei\":\"861111111111111\"") != std::string::npos;
                          }),
            1);
  first.Signal(SIGUSR1);  // pulled: the port is free for the next unit
  ASSERT_TRUE(first.WaitForLine("unplugged"));
  first.Signal(SIGUSR1);  // the next unit on that port is tested afresh
  EXPECT_NE(jig.WaitFor("\"verdict\":\"PASS\""), "");
  Plug({"--imei", "863333333333335", "--unplug-on", "factory_test"});
  EXPECT_NE(jig.WaitFor("unplugged during"), "");
  // The first interrupt lets the unit under test go on; the second stops it, and says so.
  Plug({"--no-test-result"});
  EXPECT_NE(jig.WaitFor("\"step\":\"test\""), "");
  jig.Signal(SIGINT);
  EXPECT_NE(jig.WaitFor("interrupt again"), "");
  jig.Signal(SIGINT);
  EXPECT_NE(jig.WaitFor("station stopped during test"), "");
  EXPECT_EQ(jig.Wait(), 1);
  EXPECT_EQ(Summary(jig.lines), "5 2 3");
}

TEST_F(JigTest, TwoJigsShareOneServerAndItsOutagesLoseNothing) {
  PgServer server;
  ASSERT_TRUE(server.ok()) << server.error();
  const std::string url = server.Url();
  // Two stations, each with its own units (runtime folders) and its own spool (data folders).
  auto station = [&](const std::string& name) {
    UseFolders(name);
    for (int i = 0; i < 3; ++i) Plug({});
    return std::make_unique<Jig>(Args({"--all", "--records", url, "--station", name}));
  };
  auto east = station("east");
  auto west = station("west");
  EXPECT_EQ(east->Wait(), 0);
  EXPECT_EQ(west->Wait(), 0);
  EXPECT_EQ(server.Value("SELECT COUNT(*) FROM unit_record"), "6");

  // The server goes away mid-run: the next units wait in the spool and go once it is back.
  sims_.clear();
  UseFolders("east");
  Jig jig(Args({"--watch", "--records", url}));
  ASSERT_TRUE(server.Stop());
  Plug({});
  EXPECT_NE(jig.WaitFor("1 record waits"), "");
  Plug({});
  EXPECT_NE(jig.WaitFor("2 records wait"), "");
  ASSERT_TRUE(server.Start());
  EXPECT_NE(jig.WaitFor("2 waiting records sent"), "");
  jig.Signal(SIGTERM);
  EXPECT_EQ(jig.Wait(), 0);
  EXPECT_EQ(server.Value("SELECT COUNT(*) FROM unit_record"), "8");
}

// A real fault on a real store per row: what the jig says, its exit status, and, once the fault
// is put right and `tracker-jig records resend` has run, the unit's record in the store once.
TEST_F(JigTest, StoreFaultsLoseNoRecordAndTheExitStatusSaysSo) {
  PgServer server{{"de_DE.UTF-8", true}};
  ASSERT_TRUE(server.ok()) << server.error();
  const std::string file = "sqlite:" + root_ + "/line.sqlite";
  sqlite3* holder = nullptr;
  const auto sql = [&](const std::string& text) {
    EXPECT_EQ(server.Value(text + "; SELECT 1"), "1") << text;
  };
  const struct Row {
    const char* what;
    std::string url;
    Lines extra;
    std::function<void()> inject, clear;
    int status;
    std::string kept, told;
    std::string count;  // how to count the unit's records in the store afterwards
  } rows[] = {
      {"SQLite write lock held past the busy time-out",
       file,
       {},
       [&] {
         sqlite3_open((root_ + "/line.sqlite").c_str(), &holder);
         sqlite3_exec(holder, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
       },
       [&] { sqlite3_close(holder); },
       0,
       "spool",
       "database is locked",
       ""},
      {"CHECK constraint",
       server.Url(),
       {},
       [&] { sql("ALTER TABLE unit_record ADD CONSTRAINT no_8611 CHECK (imei NOT LIKE '8611%')"); },
       [&] { sql("ALTER TABLE unit_record DROP CONSTRAINT no_8611"); },
       4,
       "quarantine",
       "refused (data)",
       "SELECT COUNT(*) FROM unit_record"},
      {"server hung: accepts and never answers",
       server.TcpUrl("jig"),
       {},
       [&] { kill(server.Pid(), SIGSTOP); },
       [&] { kill(server.Pid(), SIGCONT); },
       0,
       "spool",
       "cannot reach the server",
       "SELECT COUNT(*) FROM unit_record"},
      {"decimal-comma locale, GBK station name",
       server.Url(),
       {"--station", "\xB9\xA4\xCE\xBB 1"},
       [] { setenv("LC_ALL", "de_DE.UTF-8", 1); },
       [] { unsetenv("LC_ALL"); },
       0,
       "store",
       "",
       "SELECT COUNT(*) FROM unit_record WHERE station = '工位 1'"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    records::StoreStatus status;
    ASSERT_TRUE(records::OpenStore(row.url, &status)) << status.message;  // the schema is there
    Plug({"--imei", "861111111111111"});
    row.inject();
    Lines arguments = {"--records", row.url};
    arguments.insert(arguments.end(), row.extra.begin(), row.extra.end());
    Jig jig(Args(arguments));
    EXPECT_EQ(jig.Wait(), row.status);
    row.clear();
    Lines records;
    for (const std::string& line : jig.lines) {
      if (line.find("\"event\":\"record\"") != std::string::npos) records.push_back(line);
    }
    ASSERT_EQ(records.size(), 1u) << jig.lines.size();
    EXPECT_NE(records[0].find("\"kept\":\"" + row.kept + "\""), std::string::npos) << records[0];
    EXPECT_NE(records[0].find(row.told), std::string::npos) << records[0];
    Jig list({"records", "list"});
    EXPECT_EQ(list.Wait(), row.kept == "store" ? 0 : 4);
    Jig resend({"records", "resend", "--all", "--records", row.url});
    EXPECT_EQ(resend.Wait(), 0) << resend.lines.back();
    if (!row.count.empty()) {
      EXPECT_EQ(server.Value(row.count), "1");
      sql("DELETE FROM unit_record");
    }
    sims_.clear();
  }
  sqlite3* db = nullptr;
  sqlite3_open((root_ + "/line.sqlite").c_str(), &db);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "SELECT COUNT(*) FROM unit_record", -1, &st, nullptr);
  EXPECT_EQ(sqlite3_step(st), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(st, 0), 1);  // the locked row's record, once
  sqlite3_finalize(st);
  sqlite3_close(db);
}

}  // namespace

// tracker-jig end to end: real tracker-sim units, the real program, a real PostgreSQL server.

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <clocale>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <sstream>
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

// A program as a child process, without a display (a program that reached for a window would
// fail on the xcb platform); its stdout and stderr go to anonymous files, read as they grow.
class Jig {
 public:
  explicit Jig(Lines arguments, const std::string& program = TC_JIG_PATH)
      : out_(memfd_create("out", MFD_CLOEXEC)), err_(memfd_create("err", MFD_CLOEXEC)) {
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    arguments.insert(arguments.begin(), program);
    std::vector<char*> argv;
    for (std::string& a : arguments) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out_, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err_, STDERR_FILENO);
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0)
      pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Jig() {
    if (pid_ > 0) kill(pid_, SIGKILL), Wait();
    close(out_);
    close(err_);
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
  // The exit status; -1 for a signal or a program that never started.
  int Wait() {
    int status = -1;
    if (pid_ > 0) waitpid(pid_, &status, 0);
    pid_ = -1;
    ReadLines();
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  [[nodiscard]] std::string Out() const { return ReadAll(out_); }
  [[nodiscard]] std::string Err() const { return ReadAll(err_); }
  Lines lines;  // every whole line written to stdout so far

 private:
  static std::string ReadAll(int fd) {
    std::string text;
    char chunk[4096];
    for (ssize_t got; (got = pread(fd, chunk, sizeof chunk, std::ssize(text))) > 0;) {
      text.append(chunk, static_cast<std::size_t>(got));
    }
    return text;
  }
  void ReadLines() {
    const std::string text = Out();
    lines.clear();
    for (std::size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
      lines.push_back(text.substr(at, end - at));
    }
  }
  pid_t pid_ = -1;
  int out_, err_;
  std::size_t from_ = 0;
};

Lines Words(const std::string& text) {
  std::istringstream in(text);
  return {std::istream_iterator<std::string>(in), {}};
}

// How many lines hold both fragments.
long Count(const Lines& lines, const std::string& a, const std::string& b = "") {
  return std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
    return line.find(a) != std::string::npos && line.find(b) != std::string::npos;
  });
}

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
  // Options apart by spaces; later ones override these.
  Lines Args(const std::string& extra) const {
    return Words("--profile " + profile + " --test-timeout 4 --json " + extra);
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

// Holds `pid` where SIGCONT cannot wake it and only SIGKILL ends it, as a worker wedged in the
// kernel would be. The returned thread reaps it for its tracer, so that its parent learns of it.
std::thread HoldFast(pid_t pid) {
  if (ptrace(PTRACE_SEIZE, pid, nullptr, nullptr) != 0 ||
      ptrace(PTRACE_INTERRUPT, pid, nullptr, nullptr) != 0) {
    ADD_FAILURE() << "cannot hold worker " << pid << ": " << std::strerror(errno);
    return {};
  }
  return std::thread([pid] {
    // Still ours to end if the jig never does: it is not reaped before then.
    for (const auto lastResort = Clock::now() + 2 * kPatience;; usleep(20'000)) {
      int status = 0;
      const pid_t seen = waitpid(pid, &status, __WALL | WNOHANG);
      if (seen < 0 || (seen == pid && (WIFEXITED(status) || WIFSIGNALED(status)))) return;
      if (Clock::now() > lastResort) kill(pid, SIGKILL);
    }
  });
}

TEST_F(JigTest, ExitStatusSaysHowTheRunEnded) {
  const std::string badProfile = root_ + "/bad.txt";
  std::ofstream(badProfile) << "format = 1\nnosuchkey = 1\n";
  // What befalls the run once its unit's test has begun.
  enum Fault {
    kNone,
    kKillWorker,
    kStopWorker,
    kStopWorkerInGps,
    kInterrupt,
    kHangUp,
    kStopWorkerInterruptTwice,
    kHoldWorkerInterrupt
  };
  const struct {
    const char* what;
    const char* unit;  // the simulator's options; nullptr: none plugged
    std::string arguments;
    int status;
    Fault fault = kNone;
    const char* verdict = nullptr;  // in the unit's verdict
    const char* summary = nullptr;  // "units passed failed"; each unit's record stored
  } cases[] = {
      {"a passing unit", "", "", 0},
      {"no tracker", nullptr, "--all", 2},
      {"no tracker on that port", "", "--port COM120", 2},
      {"no such device", nullptr, "--device /dev/nonexistent-tty", 2},
      {"bad profile", nullptr, "--all --profile " + badProfile, 3},
      {"bad store URL", nullptr, "--records mysql://x", 3},
      // Each way a unit can end, as the summary and the exit status tell it.
      {"passed", "", "--all", 0, kNone, "\"PASS\"", "1 1 0"},
      {"failed", "--fail-test key", "--all", 1, kNone, "\"key ok", "1 0 1"},
      {"silent", "--silent", "--all", 1, kNone, "\"step\":\"identify\"", "1 0 1"},
      {"unplugged", "--unplug-on factory_test", "--all", 1, kNone, "unplugged during test",
       "1 0 1"},
      {"worker crashed", "--no-test-result", "--all", 1, kKillWorker, "signal Killed", "1 0 1"},
      {"worker hung", "--no-test-result", "--all", 1, kStopWorker, "stopped answering during test",
       "1 0 1"},
      // waited on for the fix limit, not the test's time-out (past this test's patience)
      {"worker hung in the GPS step", "--no-fix", "--all --gps-criteria fix=7 --test-timeout 120",
       1, kStopWorkerInGps, "stopped answering during gps", "1 0 1"},
      {"stopped by the operator", "--no-test-result", "--all", 1, kInterrupt,
       "station stopped during test", "1 0 1"},
      {"terminal hung up", "--no-test-result", "--all", 1, kHangUp, "station stopped during test",
       "1 0 1"},
      {"hung worker, two interrupts", "--no-test-result", "--watch", 1, kStopWorkerInterruptTwice,
       "station stopped during test", "1 0 1"},
      // not even SIGCONT moves it: ended after the interrupt's grace, not the test's time-out
      {"worker held fast, interrupted", "--no-test-result", "--all --test-timeout 120", 1,
       kHoldWorkerInterrupt, "stopped answering during test", "1 0 1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.unit != nullptr) Plug(Words(c.unit));
    Jig jig(Args(c.arguments));
    std::thread held;
    if (c.fault != kNone) {
      ASSERT_NE(jig.WaitFor(c.fault == kStopWorkerInGps ? "\"step\":\"gps\"" : "\"step\":\"test\""),
                "");
      const std::map<pid_t, bool> workers = JigsUnder(jig.Pid());
      ASSERT_EQ(workers.size(), 1u);
      const pid_t worker = workers.begin()->first;
      if (c.fault == kKillWorker) kill(worker, SIGKILL);
      if (c.fault == kStopWorker || c.fault == kStopWorkerInGps ||
          c.fault == kStopWorkerInterruptTwice) {
        kill(worker, SIGSTOP);
      }
      if (c.fault == kHoldWorkerInterrupt) held = HoldFast(worker);
      if (c.fault == kInterrupt || c.fault == kStopWorkerInterruptTwice ||
          c.fault == kHoldWorkerInterrupt) {
        jig.Signal(SIGINT);
      }
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
    if (held.joinable()) held.join();
    if (c.summary != nullptr) {
      EXPECT_EQ(Summary(jig.lines), c.summary);
      EXPECT_EQ(Count(jig.lines, "\"event\":\"verdict\"", c.verdict), 1);
      EXPECT_EQ(Count(jig.lines, "\"event\":\"record\"", "\"stored\":true"), c.summary[0] - '0');
    }
    sims_.clear();
  }
}

// The ids of the records in a store, as a station reads them back.
std::multiset<std::string> StoredIds(const std::string& url) {
  records::StoreStatus opened;
  std::vector<records::UnitRecord> kept;
  const auto store = records::OpenStore(url, &opened);
  EXPECT_TRUE(store && store->Query({}, &kept).ok) << opened.message;
  std::multiset<std::string> ids;
  for (const auto& record : kept) ids.insert(record.recordId);
  return ids;
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
    auto jig = std::make_unique<Jig>(
        Args("--all --records " + store + (fault == 0 ? " --test-timeout 9" : "")));
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
    const std::multiset<std::string> keptIds = StoredIds(store);
    EXPECT_TRUE(std::includes(keptIds.begin(), keptIds.end(), reported.begin(), reported.end()));
    if (fault != 0) {
      EXPECT_EQ(status, failed > 0 ? 1 : 0);
      EXPECT_EQ(Summary(jig->lines).substr(0, 2), std::to_string(judged.size()) + " ");
      EXPECT_EQ(judged, begun);
      EXPECT_EQ(reported.size(), judged.size());
    } else {
      Jig again(Args("--all --records " + store));
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
  Jig jig(Args("--all"));
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
  Jig jig(Args("--watch"), program);
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
  EXPECT_EQ(Count(jig.lines, "\"imei\":\"861111111111111\""), 1);
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
  // A unit plugged in while the line stops is left alone: longer than a rescan to be sure.
  Plug({"--imei", "864444444444444"});
  std::this_thread::sleep_for(std::chrono::seconds(3));
  jig.Signal(SIGINT);
  EXPECT_NE(jig.WaitFor("station stopped during test"), "");
  EXPECT_EQ(jig.Wait(), 1);
  EXPECT_EQ(Summary(jig.lines), "5 2 3");
  EXPECT_EQ(Count(jig.lines, "864444444444444"), 0);
}

TEST_F(JigTest, TwoJigsShareOneServerAndItsOutagesLoseNothing) {
  PgServer server;
  ASSERT_TRUE(server.ok()) << server.error();
  const std::string url = server.Url();
  // Two stations, each with its own units (runtime folders) and its own spool (data folders).
  auto station = [&](const std::string& name) {
    UseFolders(name);
    for (int i = 0; i < 3; ++i) Plug({});
    return std::make_unique<Jig>(Args("--all --records " + url + " --station " + name));
  };
  auto east = station("east");
  auto west = station("west");
  EXPECT_EQ(east->Wait(), 0);
  EXPECT_EQ(west->Wait(), 0);
  EXPECT_EQ(server.Value("SELECT COUNT(*) FROM unit_record"), "6");

  // The server goes away mid-run: the next units wait in the spool and go once it is back.
  sims_.clear();
  UseFolders("east");
  Jig jig(Args("--watch --records " + url));
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
    std::string extra;
    std::function<void()> inject, clear;
    int status;
    std::string kept, told;
    std::string count;  // how to count the unit's records on the server afterwards
  } rows[] = {
      {"SQLite write lock held past the busy time-out", file, "",
       [&] {
         sqlite3_open((root_ + "/line.sqlite").c_str(), &holder);
         sqlite3_exec(holder, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
       },
       [&] { sqlite3_close(holder); }, 0, "spool", "database is locked", ""},
      {"CHECK constraint", server.Url(), "",
       [&] { sql("ALTER TABLE unit_record ADD CONSTRAINT no_8611 CHECK (imei NOT LIKE '8611%')"); },
       [&] { sql("ALTER TABLE unit_record DROP CONSTRAINT no_8611"); }, 4, "quarantine",
       "refused (data)", "SELECT COUNT(*) FROM unit_record"},
      {"server hung: accepts and never answers", server.TcpUrl("jig"), "",
       [&] { kill(server.Pid(), SIGSTOP); }, [&] { kill(server.Pid(), SIGCONT); }, 0, "spool",
       "cannot reach the server", "SELECT COUNT(*) FROM unit_record"},
      {"decimal-comma locale, GBK station name", server.Url(), "--station \xB9\xA4\xCE\xBB",
       [] { setenv("LC_ALL", "de_DE.UTF-8", 1); }, [] { unsetenv("LC_ALL"); }, 0, "store", "",
       "SELECT COUNT(*) FROM unit_record WHERE station = '工位'"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    records::StoreStatus status;
    ASSERT_TRUE(records::OpenStore(row.url, &status)) << status.message;  // the schema is there
    Plug({"--imei", "861111111111111"});
    row.inject();
    Jig jig(Args("--records " + row.url + " " + row.extra));
    EXPECT_EQ(jig.Wait(), row.status);
    row.clear();
    ASSERT_EQ(Count(jig.lines, "\"event\":\"record\""), 1) << jig.Out();
    EXPECT_EQ(Count(jig.lines, "\"event\":\"record\"", "\"kept\":\"" + row.kept + "\""), 1);
    const bool safe = row.kept == "store" || row.kept == "spool";
    EXPECT_EQ(Count(jig.lines, "\"stored\":" + std::string(safe ? "true" : "false")), 1);
    EXPECT_EQ(Count(jig.lines, "\"event\":\"record\"", row.told), 1);
    Jig list({"records", "list"});
    EXPECT_EQ(list.Wait(), row.kept == "store" ? 0 : 4);
    Jig resend({"records", "resend", "--all", "--records", row.url});
    EXPECT_EQ(resend.Wait(), 0) << resend.Out();
    if (!row.count.empty()) {
      EXPECT_EQ(server.Value(row.count), "1");
      sql("DELETE FROM unit_record");
    }
    sims_.clear();
  }
  EXPECT_EQ(StoredIds(file).size(), 1u);  // the locked row's record, once
}

// The three programs' command lines, run as an operator runs them: each answer byte for byte on
// the stream it belongs to, and the exit status scripts rely on.
TEST(CommandLines, EveryProgramAnswersAlike) {
  constexpr const char* kJig = TC_JIG_PATH;
  constexpr const char* kSim = TC_SIM_PATH;
#ifdef TC_CONSOLE_PATH
  constexpr const char* kConsole = TC_CONSOLE_PATH;
#else
  constexpr const char* kConsole = nullptr;  // built without the window
#endif
  const struct {
    const char* what;
    const char* program;
    const char* arguments;  // apart by spaces
    int status;
    std::string said;  // status 0: stdout's start; else stderr's line between "NAME: " and "(see"
  } rows[] = {
      {"help", kJig, "--help", 0, "usage: tracker-jig [--port COMn"},
      {"help, short", kJig, "-h", 0, "usage: tracker-jig [--port COMn"},
      {"version", kJig, "--version", 0, "tracker-jig " TC_VERSION "\n"},
      {"unknown option", kJig, "--colour", 3, "unknown option --colour"},
      {"unknown short option", kJig, "-x", 3, "unknown option -x"},
      {"missing value", kJig, "--all --profile", 3, "--profile wants FILE"},
      {"switch with a value", kJig, "--all=yes", 3, "--all takes no value"},
      {"stray word", kJig, "--all now", 3, "unexpected argument \"now\""},
      {"without a profile", kJig, "--all", 3, "--profile FILE is required"},
      {"port below", kJig, "--port COM0", 3, "--port wants a port name COM1..COM127, not \"COM0\""},
      {"lowest port", kJig, "--port COM1 --help", 0, "usage: tracker-jig"},
      {"highest port", kJig, "--port=COM127 --help", 0, "usage: tracker-jig"},
      {"port above", kJig, "--port=COM128", 3,
       "--port wants a port name COM1..COM127, not \"COM128\""},
      {"two targets", kJig, "--all --port COM97", 3, "--port and --all exclude each other"},
      {"time-out at its limit", kJig, "--test-timeout 3600 -h", 0, "usage: tracker-jig"},
      {"time-out past it", kJig, "--test-timeout 3600.5", 3,
       "--test-timeout wants seconds between 0 and 3600, not \"3600.5\""},
      {"time-out not a number", kJig, "--test-timeout inf", 3,
       "--test-timeout wants seconds between 0 and 3600, not \"inf\""},
      {"bad GPS criteria", kJig, "--gps-criteria fix=soon", 3,
       "--gps-criteria \"fix=soon\" is not one of fix=SECONDS, used=N, strong=K, dbhz=X (e.g. "
       "fix=60,used=4,strong=3,dbhz=30)"},
      {"help", kSim, "--help", 0, "usage: tracker-sim [OPTION]..."},
      {"help, short", kSim, "-h", 0, "usage: tracker-sim [OPTION]..."},
      {"version", kSim, "--version", 0, "tracker-sim " TC_VERSION "\n"},
      {"unknown option", kSim, "--colour", 2, "unknown option --colour"},
      {"missing value", kSim, "--seed", 2, "--seed wants N"},
      {"switch with a value", kSim, "--glonass=1", 2, "--glonass takes no value"},
      {"port below", kSim, "--port-number 96", 2, "--port-number expects a number from 97 to 127"},
      {"lowest port", kSim, "--port-number 97 --help", 0, "usage: tracker-sim"},
      {"highest port", kSim, "--port-number=127 --help", 0, "usage: tracker-sim"},
      {"port above", kSim, "--port-number 128", 2, "--port-number expects a number from 97 to 127"},
      {"bad fault list", kSim, "--fail-test gsm,lcd", 2,
       "--fail-test expects gsm, gps or key (comma-separated)"},
      {"help", kConsole, "--help", 0, "usage: tracker-console [--lang zh|en]"},
      {"help, short", kConsole, "-h", 0, "usage: tracker-console [--lang zh|en]"},
      {"version", kConsole, "--version", 0, "tracker-console " TC_VERSION "\n"},
      {"unknown option", kConsole, "--colour", 2, "unknown option --colour"},
      {"missing value", kConsole, "--lang", 2, "--lang wants zh|en"},
      {"bad value", kConsole, "--lang fr", 2, "--lang wants zh or en, not \"fr\""},
      {"stray word", kConsole, "now", 2, "unexpected argument \"now\""},
      {"Qt's options passed on", kConsole, "-platform offscreen --lang=en -h", 0, "usage: "},
  };
  for (const auto& row : rows) {
    if (row.program == nullptr) continue;
    const std::string name = fs::path(row.program).filename();
    SCOPED_TRACE(name + ": " + row.what);
    Jig program(Words(row.arguments), row.program);
    EXPECT_EQ(program.Wait(), row.status) << program.Err();
    if (row.status == 0) {
      EXPECT_EQ(program.Out().substr(0, row.said.size()), row.said);
      EXPECT_EQ(program.Err(), "");
      // One layout for the three help pages: options in two columns, -h beside --help.
      const bool help = row.said.starts_with("usage: ");
      EXPECT_EQ(help, program.Out().find("\n  -h, --help  ") != std::string::npos) << program.Out();
    } else {
      EXPECT_EQ(program.Err(), name + ": " + row.said + " (see " + name + " --help)\n");
      EXPECT_EQ(program.Out(), "");
    }
  }
  // The simulator's default ports folder must be one the console reads: another that others may
  // write to is refused, and why, instead of holding a port nobody will find.
  const fs::path runtime = fs::temp_directory_path() / ("tc-runtime-" + std::to_string(getpid()));
  fs::create_directories(runtime / "tracker-console/ports");
  fs::permissions(runtime / "tracker-console", fs::perms::owner_all);
  fs::permissions(runtime / "tracker-console/ports", fs::perms(0755));
  const char* was = std::getenv("XDG_RUNTIME_DIR");
  const std::string runtimeBefore = was != nullptr ? was : "";
  setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  Jig sim({"10", kSim}, "/usr/bin/timeout");
  EXPECT_EQ(sim.Wait(), 1);
  EXPECT_NE(sim.Err().find("ports: mode 0755), so the console would not look there"),
            std::string::npos)
      << sim.Err();
  if (was != nullptr) {
    setenv("XDG_RUNTIME_DIR", runtimeBefore.c_str(), 1);
  } else {
    unsetenv("XDG_RUNTIME_DIR");
  }
  fs::remove_all(runtime);
}

}  // namespace

// A connection the operator can trust: a port someone else holds is never taken (and the
// holder keeps it undisturbed), a silent port gives way to one that answers, a port busy at
// plug time is tried again, and recording stops with a word when its file cannot take a line.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/port_lock.h"
#include "tests/support/console_harness.h"
#include "tests/support/pty_peer.h"

extern char** environ;

namespace {

// Another program (`sleep 60`, or `flock <port> sleep 60`), in its own process group, with
// `port` as its standard input when given.
struct Holder {
  explicit Holder(const std::string& port = {}, const std::string& flockPort = {},
                  const std::string& sleep = "/usr/bin/sleep") {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!port.empty()) posix_spawn_file_actions_addopen(&actions, 0, port.c_str(), O_RDWR, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    std::vector<std::string> argv = {sleep, "60"};
    if (!flockPort.empty()) argv.insert(argv.begin(), {"/usr/bin/flock", flockPort});
    std::vector<char*> args;
    for (std::string& arg : argv) args.push_back(arg.data());
    args.push_back(nullptr);
    posix_spawn(&pid, args[0], &actions, &attributes, args.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    for (int i = 0; i < 2000 && (!port.empty() || !flockPort.empty()) && !Holds(port + flockPort);
         ++i) {
      ::usleep(5000);
    }
  }
  ~Holder() { End(); }
  bool Holds(const std::string& port) const {
    for (const ports::PortHolder& holder : ports::FindOtherPortHolders(port, -1)) {
      if (holder.pid == pid) return true;
    }
    return false;
  }
  void End() {
    if (pid > 0 && ::kill(-pid, SIGKILL) == 0) ::waitpid(pid, nullptr, 0);
    pid = -1;
  }
  pid_t pid = -1;
};

std::string Read(const std::string& path) {
  std::ostringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

struct Rig {
  explicit Rig(const std::function<void(ConsoleEnvironment&)>& adjust = {}) : h(0, adjust) {
    EXPECT_TRUE(peer.RegisterAsPort(h.PortsFolder(), 97));
  }
  std::string LockPath() { return h.LockFolder() + "/" + serial::LockFileName(peer.SlavePath()); }
  // Open, and showing it: connected, or waiting for the device's first answer.
  bool Connected() {
    const std::string& link = h.state.m_linkState;
    return (link == T(kLinkConnected) || link == T(kWaitingForDevice)) && h.logic.Port().IsOpen();
  }
  ConsoleHarness h;
  PtyPeer peer;
};

TEST(Exclusive, APortSomeoneElseHoldsIsNotTakenAndTheHolderIsNamed) {
  enum class Hold { kOpen, kFlock, kLockFile, kSecondConsole, kStaleLock, kModemManager };
  const struct {
    const char* description;
    Hold hold;
    std::string named;  // the holder the window names ("" : connected)
  } rows[] = {
      {"a plain open() holder (a terminal, a cat)", Hold::kOpen, "sleep"},
      {"a flock holder", Hold::kFlock, "flock"},
      {"a lock-file holder that has not even opened it", Hold::kLockFile, "sleep"},
      {"a second console", Hold::kSecondConsole, "self"},
      {"a stale lock file: taken over, and ours removed on close", Hold::kStaleLock, ""},
      {"a modem manager probing it: named, with a hint", Hold::kModemManager, "ModemManager"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.description);
    Rig r;
    const std::string port = r.peer.SlavePath();
    const bool modemManager = row.hold == Hold::kModemManager;
    const std::string program = r.h.tree.Root() + "/ModemManager";  // sleep by another name
    if (modemManager) std::filesystem::copy_file("/usr/bin/sleep", program);
    Holder holder(row.hold == Hold::kOpen || modemManager ? port : "",
                  row.hold == Hold::kFlock ? port : "", modemManager ? program : "/usr/bin/sleep");
    if (row.hold == Hold::kStaleLock) holder.End();
    pid_t pid = row.hold == Hold::kSecondConsole ? ::getpid() : holder.pid;
    if (row.hold == Hold::kLockFile || row.hold == Hold::kStaleLock) {
      std::ofstream(r.LockPath()) << "     " << (pid > 0 ? pid : 99999999) << "\n";
    }
    ConsoleHarness first(0, [&](ConsoleEnvironment& e) { e.lockFolder = r.h.LockFolder(); });
    ASSERT_EQ(::symlink(port.c_str(), (first.PortsFolder() + "/COM97").c_str()), 0);
    if (row.hold == Hold::kSecondConsole) first.logic.OnInitDialog();
    r.h.logic.OnInitDialog();
    EXPECT_EQ(r.Connected(), row.named.empty()) << r.h.surface.portProblem;
    if (row.named.empty()) {
      char line[16];
      std::snprintf(line, sizeof line, "%10d\n", static_cast<int>(::getpid()));
      EXPECT_EQ(Read(r.LockPath()), line);
      r.h.logic.CloseStep();
      EXPECT_NE(::access(r.LockPath().c_str(), F_OK), 0);
      continue;
    }
    const std::string named = " (PID " + std::to_string(pid) + ")";
    EXPECT_NE(r.h.surface.portProblem.find(named), std::string::npos) << r.h.surface.portProblem;
    if (row.hold == Hold::kOpen || modemManager) {  // exactly what the operator reads
      EXPECT_EQ(r.h.surface.portProblem,
                T(kPortBusyBy) + row.named + named + (modemManager ? T(kModemManagerHint) : ""));
    }
    if (row.hold == Hold::kSecondConsole) {  // the failed open left the first one's flag alone
      const int fd = ::open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
      int exclusive = 0;
      EXPECT_EQ(::ioctl(fd, TIOCGEXCL, &exclusive), 0);
      EXPECT_EQ(exclusive, 1);
      ::close(fd);
    }
  }
}

TEST(RightPort, ASilentPortGivesWayToOneThatAnswers) {
  Rig r([](ConsoleEnvironment& e) { e.answerWaitMilliseconds = 1500; });  // COM97: silent
  SimProcess sim(TC_SIM_PATH, r.h.PortsFolder(), Quiet());
  ASSERT_EQ(sim.WaitForPlug(), 98);
  r.h.logic.OnInitDialog();
  EXPECT_TRUE(r.Connected());
  const std::string& name = r.h.state.m_portName;  // "COM98 (pts/N)"
  ASSERT_TRUE(name.starts_with("COM98 (") && name.ends_with(")")) << name;
  EXPECT_EQ(r.h.surface.portDetails,
            "virtual tracker port → /dev/" + name.substr(7, name.size() - 8));
}

TEST(BusyRetry, APortBusyAtPlugTimeIsTriedAgainUntilFreeOrTimeUp) {
  for (const bool freed : {true, false}) {
    SCOPED_TRACE(freed ? "freed after the first retry" : "never freed");
    Rig r([](ConsoleEnvironment& e) {
      e.busyRetryIntervalMilliseconds = 50;
      e.busyRetryMilliseconds = 600;
    });
    Holder holder(r.peer.SlavePath());
    r.h.surface.onPortProblem = [&] {
      if (freed && r.h.surface.portProblem.find(T(kPortRetrying)) != std::string::npos) {
        holder.End();
      }
    };
    r.h.logic.OnDeviceChange(kDeviceArrival, 0);
    EXPECT_EQ(r.Connected(), freed);
    EXPECT_EQ(r.h.surface.portProblem.ends_with(T(kPortRetryGaveUp)), !freed)
        << r.h.surface.portProblem;
  }
}

TEST(Recording, AFileThatCannotTakeALineStopsRecordingWithItsNameAndReason) {
  const std::string whole = "0123456789\r\n";
  const struct {
    const char* description;
    int fileSizeLimit;  // 0: none
    bool deleted;
    std::string path;  // "": a new file
    std::string reason;
    std::string leftInFile;
  } rows[] = {
      {"deleted", 0, true, "", T(kLogFileDeleted), ""},
      {"full after a line and a half: no torn last line", 15, false, "", "File too large", whole},
      {"a full disk (/dev/full)", 0, false, "/dev/full", "No space left on device", ""},
  };
  ::signal(SIGXFSZ, SIG_IGN);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.description);
    ConsoleHarness h(0);
    const std::string path = row.path.empty() ? h.LockFolder() + "/log.txt" : row.path;
    h.surface.nextLogFileName = path;
    h.logic.OnSaveToFile();
    ASSERT_TRUE(h.state.m_saving);
    if (row.deleted) ::unlink(path.c_str());
    rlimit limit{row.fileSizeLimit > 0 ? rlim_t(row.fileSizeLimit) : RLIM_INFINITY, RLIM_INFINITY};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    h.logic.WriteLogFile(whole + whole);
    limit.rlim_cur = RLIM_INFINITY;
    ::setrlimit(RLIMIT_FSIZE, &limit);
    EXPECT_FALSE(h.state.m_saving);
    ASSERT_TRUE(h.RunUntil([&] { return !h.surface.boxes.empty(); }));
    EXPECT_EQ(h.surface.boxes[0].text, T(kLogFileWriteFailed) + path + "\n" + row.reason);
    if (row.path.empty() && !row.deleted) {
      EXPECT_EQ(Read(path), row.leftInFile);
    }
  }
}

}  // namespace

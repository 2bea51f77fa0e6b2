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
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "platform/port_lock.h"
#include "tests/support/console_harness.h"
#include "tests/support/pty_peer.h"

extern char** environ;

namespace {

// Another program: `argv`, with `stdinPath` (if any) open as its standard input.
struct Holder {
  Holder(std::vector<std::string> argv, const std::string& stdinPath = {}) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!stdinPath.empty()) {
      posix_spawn_file_actions_addopen(&actions, 0, stdinPath.c_str(), O_RDWR | O_NOCTTY, 0);
    }
    // Its own group, and not on our output: a child it starts (flock's) ends with it.
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    std::vector<char*> args;
    for (std::string& arg : argv) args.push_back(arg.data());
    args.push_back(nullptr);
    posix_spawn(&pid, args[0], &actions, &attributes, args.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Holder() { End(); }
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
  bool Connected() { return h.state.m_linkState == T(kLinkConnected) && h.logic.Port().IsOpen(); }
  ConsoleHarness h;
  PtyPeer peer;
};

// Waits until the process `pid` has `node` open.
void WaitUntilHolds(const std::string& node, pid_t pid) {
  const auto holds = [&] {
    for (const ports::PortHolder& holder : ports::FindOtherPortHolders(node, -1)) {
      if (holder.pid == pid) return true;
    }
    return false;
  };
  for (int i = 0; i < 2000 && !holds(); ++i) ::usleep(5000);
}

TEST(Exclusive, APortSomeoneElseHoldsIsNotTakenAndTheHolderIsNamed) {
  const struct {
    const char* description;
    std::function<std::unique_ptr<Holder>(Rig&)> hold;
    std::string named;  // "" : our own process (a second console in it)
    bool opens = true;  // the holder opens the port (rather than only owning its lock file)
  } rows[] = {
      {"a plain open() holder (a terminal, a cat)",
       [](Rig& r) {
         return std::make_unique<Holder>(std::vector<std::string>{"/usr/bin/sleep", "60"},
                                         r.peer.SlavePath());
       },
       "sleep (PID "},
      {"a flock holder",
       [](Rig& r) {
         return std::make_unique<Holder>(std::vector<std::string>{
             "/usr/bin/flock", r.peer.SlavePath(), "/usr/bin/sleep", "60"});
       },
       "flock (PID "},
      {"a lock-file holder that has not even opened it",
       [](Rig& r) {
         auto holder = std::make_unique<Holder>(std::vector<std::string>{"/usr/bin/sleep", "60"});
         std::ofstream(r.LockPath()) << "     " << holder->pid << "\n";
         return holder;
       },
       "sleep (PID ", false},
      {"a second console", [](Rig&) { return nullptr; }, "", false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.description);
    Rig first;
    Rig& r = first;
    std::unique_ptr<ConsoleHarness> console;
    std::unique_ptr<Holder> holder = row.hold(r);
    if (holder && row.opens) WaitUntilHolds(r.peer.SlavePath(), holder->pid);
    if (!holder) {  // the first console holds it; the rig's own console is the second
      console = std::make_unique<ConsoleHarness>(0, [&](ConsoleEnvironment& e) {
        e.lockFolder = r.h.LockFolder();
        e.roots.portsFolder = r.h.PortsFolder();
      });
      console->logic.OnInitDialog();
      ASSERT_TRUE(console->logic.Port().IsOpen());
    }
    r.h.logic.OnInitDialog();
    EXPECT_FALSE(r.Connected());
    const std::string named = row.named.empty() ? " (PID " + std::to_string(::getpid()) + ")"
                                                : row.named + std::to_string(holder->pid) + ")";
    EXPECT_NE(r.h.surface.portProblem.find(named), std::string::npos) << r.h.surface.portProblem;
    if (console) {  // the failed open left the first console's exclusive flag alone
      const int fd = ::open(r.peer.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
      int exclusive = 0;
      EXPECT_EQ(::ioctl(fd, TIOCGEXCL, &exclusive), 0);
      EXPECT_EQ(exclusive, 1);
      ::close(fd);
    }
  }
}

TEST(Exclusive, AStaleLockIsTakenOverAndOurOwnIsRemovedOnClose) {
  Rig r;
  pid_t gone = -1;
  {
    Holder dead({"/usr/bin/true"});
    gone = dead.pid;
    ::waitpid(dead.pid, nullptr, 0);
    dead.pid = -1;
  }
  std::ofstream(r.LockPath()) << "     " << gone << "\n";
  r.h.logic.OnInitDialog();
  ASSERT_TRUE(r.Connected());
  char line[16];
  std::snprintf(line, sizeof line, "%10d\n", static_cast<int>(::getpid()));
  EXPECT_EQ(Read(r.LockPath()), line);
  r.h.logic.CloseStep();
  EXPECT_NE(::access(r.LockPath().c_str(), F_OK), 0);
}

TEST(RightPort, ASilentPortGivesWayToOneThatAnswers) {
  Rig r([](ConsoleEnvironment& e) { e.answerWaitMilliseconds = 1500; });  // COM97: silent
  SimProcess sim(TC_SIM_PATH, r.h.PortsFolder(), Quiet());
  ASSERT_EQ(sim.WaitForPlug(), 98);
  r.h.logic.OnInitDialog();
  EXPECT_TRUE(r.Connected());
  EXPECT_TRUE(r.h.state.m_portName.starts_with("COM98 ("));
  EXPECT_EQ(r.h.surface.portDetails.find(texts::Utf8(texts::Id::kWaitingForDevice)),
            std::string::npos);
}

TEST(BusyRetry, APortBusyAtPlugTimeIsTriedAgainUntilFreeOrTimeUp) {
  for (const bool freed : {true, false}) {
    SCOPED_TRACE(freed ? "freed after the first retry" : "never freed");
    Rig r([](ConsoleEnvironment& e) {
      e.busyRetryIntervalMilliseconds = 50;
      e.busyRetryMilliseconds = 600;
    });
    Holder holder({"/usr/bin/sleep", "60"}, r.peer.SlavePath());
    WaitUntilHolds(r.peer.SlavePath(), holder.pid);
    r.h.surface.onPortProblem = [&] {
      if (freed && r.h.surface.portProblem.find(T(kPortRetrying)) != std::string::npos)
        holder.End();
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
    bool useDevFull;
    std::function<void(const std::string& path)> spoil;
    std::string reason;
    std::string leftInFile;
  } rows[] = {
      {"deleted", false, [](const std::string& path) { ::unlink(path.c_str()); },
       T(kLogFileDeleted), ""},
      {"full: no torn last line", false,
       [](const std::string&) {
         ::signal(SIGXFSZ, SIG_IGN);
         rlimit limit{15, RLIM_INFINITY};
         ::setrlimit(RLIMIT_FSIZE, &limit);
       },
       "File too large", whole},
      {"a full disk (/dev/full)", true, [](const std::string&) {}, "No space left on device", ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.description);
    ConsoleHarness h(0);
    const std::string path = row.useDevFull ? "/dev/full" : h.LockFolder() + "/log.txt";
    h.surface.nextLogFileName = path;
    h.logic.OnSaveToFile();
    ASSERT_TRUE(h.state.m_saving);
    row.spoil(path);
    h.logic.WriteLogFile(whole + whole);
    rlimit unlimited{RLIM_INFINITY, RLIM_INFINITY};
    ::setrlimit(RLIMIT_FSIZE, &unlimited);
    EXPECT_FALSE(h.state.m_saving);
    EXPECT_EQ(h.state.m_saveCaption, T(kSaveToFile));
    ASSERT_TRUE(h.RunUntil([&] { return !h.surface.boxes.empty(); }));
    EXPECT_EQ(h.surface.boxes[0].text, T(kLogFileWriteFailed) + path + "\n" + row.reason);
    if (!row.useDevFull) {
      EXPECT_EQ(Read(path), row.leftInFile);
    }
  }
}

}  // namespace

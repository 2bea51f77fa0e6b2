// Port lock files between processes: a stale lock taken over by exactly one of its racers, a
// PID that was reused, the age of a lock without a PID, and a lock given back by exit().

#include "platform/port_lock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

extern char** environ;

namespace {

constexpr const char* kDevice = "/dev/ttyRACE0";  // never opened: only its lock's name counts

struct LockFolder {
  LockFolder() {
    char pattern[] = "/tmp/tc-lock-XXXXXX";
    path = ::mkdtemp(pattern) != nullptr ? pattern : "";
  }
  ~LockFolder() { std::filesystem::remove_all(path); }
  [[nodiscard]] std::string Lock() const { return path + "/" + serial::LockFileName(kDevice); }
  std::string path;
};

std::string Read(const std::string& path) {
  std::ostringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

std::string PidLine(int pid) {
  char line[16];
  std::snprintf(line, sizeof line, "%10d\n", pid);
  return line;
}

// Writes a lock file in one step, as a process that then died (or any PID) would have left it.
void PlantLock(const std::string& path, const std::string& content, std::time_t modified) {
  const std::string temporary = path + ".planting";
  std::ofstream(temporary) << content;
  const timespec times[2] = {{modified, 0}, {modified, 0}};
  ::utimensat(AT_FDCWD, temporary.c_str(), times, 0);
  ::rename(temporary.c_str(), path.c_str());
}

struct RaceTally {
  std::atomic<int> holding{0};
  std::atomic<int> taken{0};
  std::atomic<int> bothHeld{0};
  std::atomic<int> heldWithoutFile{0};
};

// Takes the lock whenever it can, checks that nobody else holds it and that the file names us,
// then leaves it behind as a process killed while holding it would.
void Race(const std::string& folder, RaceTally* tally, int rounds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (tally->taken.load() < rounds && std::chrono::steady_clock::now() < end) {
    serial::PortLockFile lock;
    int holder = 0;
    if (lock.Acquire(folder, kDevice, &holder) != 0) continue;
    if (tally->holding.fetch_add(1) != 0) tally->bothHeld.fetch_add(1);
    // Held for a moment, as a port is: the file must name us from first to last.
    const bool named = Read(lock.Path()) == PidLine(::getpid());
    ::usleep(200);
    if (!named || Read(lock.Path()) != PidLine(::getpid())) tally->heldWithoutFile.fetch_add(1);
    tally->taken.fetch_add(1);
    tally->holding.fetch_sub(1);
    PlantLock(lock.Path(), PidLine(99999999), std::time(nullptr));
  }
}

TEST(PortLock, TwoProcessesRacingForStaleLocksNeverBothHoldOne) {
  LockFolder folder;
  constexpr int kRounds = 1000;
  auto* tally = static_cast<RaceTally*>(::mmap(nullptr, sizeof(RaceTally), PROT_READ | PROT_WRITE,
                                               MAP_SHARED | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(tally, MAP_FAILED);
  new (tally) RaceTally;
  PlantLock(folder.Lock(), PidLine(99999999), std::time(nullptr));
  pid_t racers[2];
  for (pid_t& racer : racers) {
    racer = ::fork();
    if (racer == 0) {
      Race(folder.path, tally, kRounds);
      ::_exit(0);
    }
  }
  for (const pid_t racer : racers) ::waitpid(racer, nullptr, 0);
  EXPECT_GE(tally->taken.load(), kRounds);
  EXPECT_EQ(tally->bothHeld.load(), 0);
  EXPECT_EQ(tally->heldWithoutFile.load(), 0);
  ::munmap(tally, sizeof(RaceTally));
}

// A lock naming a live process is stale when written before that process started (its PID was
// reused); a lock without a PID is held until it is older than five seconds.
TEST(PortLock, AStaleLockIsTakenOverAndALiveOneNamesItsHolder) {
  const struct {
    std::time_t age;
    bool leftOver;
  } ages[] = {{0, false}, {4, false}, {5, false}, {6, true}, {3600, true}};
  for (const auto& row : ages) {
    EXPECT_EQ(serial::IsUnfinishedLockLeftOver(row.age), row.leftOver) << row.age << " s";
  }
  char sleepPath[] = "/usr/bin/sleep";
  char seconds[] = "60";
  char* argv[] = {sleepPath, seconds, nullptr};
  pid_t sleeper = -1;
  ASSERT_EQ(::posix_spawn(&sleeper, sleepPath, nullptr, nullptr, argv, environ), 0);
  const std::time_t started = serial::ProcessStartTime(sleeper);
  ASSERT_GT(started, 0);
  const std::string held = PidLine(sleeper);
  const std::time_t now = std::time(nullptr);
  const std::time_t slack = serial::kStartTimeSlackSeconds;
  const struct {
    const char* description;
    std::string content;
    std::time_t modified;
    bool taken;
  } rows[] = {
      // Without a PID: the same rule as above on real files, away from the boundary's second.
      {"empty, 3 s old", "", now - 3, false},
      {"empty, 8 s old", "", now - 8, true},
      {"garbage, 3 s old", "   garbage\n", now - 3, false},
      {"garbage, 8 s old", "   garbage\n", now - 8, true},
      {"written a minute before the process started", held, started - 60, true},
      {"written just past the slack before it started", held, started - slack - 1, true},
      {"written at the slack before it started", held, started - slack, false},
      {"written when it started", held, started, false},
      {"written after it started", held, started + 5, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.description);
    LockFolder folder;
    PlantLock(folder.Lock(), row.content, row.modified);
    serial::PortLockFile lock;
    int holder = -1;
    EXPECT_EQ(lock.Acquire(folder.path, kDevice, &holder), row.taken ? 0 : EBUSY);
    // The window names a live holder.
    EXPECT_EQ(holder, row.content == held && !row.taken ? sleeper : 0);
    EXPECT_EQ(Read(folder.Lock()), row.taken ? PidLine(::getpid()) : row.content);
  }
  ::kill(sleeper, SIGKILL);
  ::waitpid(sleeper, nullptr, 0);
}

TEST(PortLock, ExitGivesTheLockBackAKillDoesNot) {
  for (const bool viaExit : {true, false}) {
    SCOPED_TRACE(viaExit ? "exit() (the display server gone)" : "_exit() (as after SIGKILL)");
    LockFolder folder;
    const pid_t child = ::fork();
    if (child == 0) {
      serial::PortLockFile lock;  // exit() runs no destructor of the stack, as of the window
      int holder = 0;
      if (lock.Acquire(folder.path, kDevice, &holder) != 0) ::_exit(2);
      if (viaExit) std::exit(1);
      ::_exit(1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(::access(folder.Lock().c_str(), F_OK) == 0, !viaExit);
  }
}

}  // namespace

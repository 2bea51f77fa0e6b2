#include "platform/port_lock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>

namespace serial {
namespace {

// Taking over a stale lock can race with other takers; each round is short, and the rounds are
// few, so a contended lock costs the UI thread a few milliseconds at most.
constexpr int kClaimRounds = 10;
constexpr useconds_t kClaimPauseMicroseconds = 1000;

// Lock files this process holds, removed by exit() too: the display server going away ends
// the program through exit(), past every destructor on the stack.
struct HeldLocks {
  std::mutex lock;
  std::set<std::string> paths;
};

HeldLocks& Held() {
  static auto* held = new HeldLocks;  // never destroyed: the exit handler still needs it
  return *held;
}

std::string PidLine(pid_t pid) {
  char line[16];
  const int length = std::snprintf(line, sizeof line, "%10d\n", static_cast<int>(pid));
  return std::string(line, static_cast<std::size_t>(length));
}

// The PID in a lock file's bytes: ASCII (the usual form) or a 4-byte binary int (an old one).
// 0 when there is none.
int ParseLockPid(const char* bytes, ssize_t count) {
  if (count == static_cast<ssize_t>(sizeof(int)) && bytes[0] != ' ' &&
      (bytes[0] < '0' || bytes[0] > '9')) {
    int binary = 0;
    std::memcpy(&binary, bytes, sizeof binary);
    return binary > 0 ? binary : 0;
  }
  const long pid = std::strtol(bytes, nullptr, 10);
  return pid > 0 && pid <= INT_MAX ? static_cast<int>(pid) : 0;
}

const char* KindName(mode_t mode) {
  if (S_ISLNK(mode)) return "symbolic link";
  if (S_ISFIFO(mode)) return "FIFO";
  if (S_ISDIR(mode)) return "directory";
  if (S_ISSOCK(mode)) return "socket";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "device node";
  return "not a regular file";
}

// What sits at a lock's name.
struct LockView {
  enum class Kind { kAbsent, kLock, kUnreadable, kUnsafe } kind = Kind::kAbsent;
  int fd = -1;  // kLock: the file, open for reading
  int pid = 0;
  std::time_t modified = 0;
  std::string problem;  // kUnsafe: what it is
};

// Looks first (lstat), then opens only a regular file, without following a link or waiting,
// and makes sure the file opened is the one looked at.
LockView ViewLock(const std::string& path) {
  LockView view;
  struct stat seen {};
  if (lstat(path.c_str(), &seen) != 0) {
    view.kind = errno == ENOENT ? LockView::Kind::kAbsent : LockView::Kind::kUnreadable;
    return view;
  }
  if (!S_ISREG(seen.st_mode)) {
    view.kind = LockView::Kind::kUnsafe;
    view.problem = path + ": " + KindName(seen.st_mode);
    return view;
  }
  if (seen.st_size > kMaxLockFileBytes) {
    view.kind = LockView::Kind::kUnsafe;
    view.problem = path + ": " + std::to_string(seen.st_size) + " bytes";
    return view;
  }
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
  struct stat opened {};
  if (fd < 0 || fstat(fd, &opened) != 0 || opened.st_ino != seen.st_ino ||
      opened.st_dev != seen.st_dev) {
    if (fd >= 0) close(fd);
    // Replaced between the look and the open, or not ours to read.
    view.kind = errno == ENOENT ? LockView::Kind::kAbsent : LockView::Kind::kUnreadable;
    return view;
  }
  char bytes[kMaxLockFileBytes + 1] = {};
  const ssize_t count = pread(fd, bytes, kMaxLockFileBytes, 0);
  view.kind = LockView::Kind::kLock;
  view.fd = fd;
  view.pid = count > 0 ? ParseLockPid(bytes, count) : 0;
  view.modified = opened.st_mtime;
  return view;
}

void CloseView(LockView& view) {
  if (view.fd >= 0) close(view.fd);
  view.fd = -1;
}

bool ProcessExists(int pid) {
  return kill(pid, 0) == 0 || errno == EPERM;
}

// True when the lock in `view` is left over (its process gone or not the one that wrote it).
bool IsStale(const LockView& view) {
  if (view.pid == 0) return IsUnfinishedLockLeftOver(std::time(nullptr) - view.modified);
  // Our own PID is another port object of this process, never a leftover.
  if (view.pid == getpid()) return false;
  if (!ProcessExists(view.pid)) return true;
  const std::time_t started = ProcessStartTime(view.pid);
  return started != 0 && IsPidReused(started, view.modified);
}

bool WriteAll(int fd, const std::string& text) {
  return write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

// A finished lock file under a private name, so others never see half of it.
std::string WriteTemporary(const std::string& folder) {
  std::string path = folder + "/LTMP.XXXXXX";
  const int fd = mkstemp(path.data());
  if (fd < 0) return {};
  const bool written = fchmod(fd, 0644) == 0 && WriteAll(fd, PidLine(getpid()));
  close(fd);
  if (!written) {
    unlink(path.c_str());
    return {};
  }
  return path;
}

// Replaces the stale lock in `view` by `temporary`. Takers serialise on the stale file's own
// flock, and each checks under it that the name still leads to that file: of two takers of
// one stale lock, the second finds the first one's fresh lock there instead.
bool TakeOver(const LockView& view, const std::string& path, const std::string& temporary) {
  if (temporary.empty() || flock(view.fd, LOCK_EX | LOCK_NB) != 0) return false;
  struct stat named {};
  struct stat held {};
  const bool same = lstat(path.c_str(), &named) == 0 && fstat(view.fd, &held) == 0 &&
                    named.st_ino == held.st_ino && named.st_dev == held.st_dev;
  const bool taken = same && rename(temporary.c_str(), path.c_str()) == 0;
  flock(view.fd, LOCK_UN);
  return taken;
}

bool HoldsOurPid(const std::string& path) {
  LockView view = ViewLock(path);
  CloseView(view);
  return view.kind == LockView::Kind::kLock && view.pid == getpid();
}

void RemoveHeldLocksAtExit() {
  HeldLocks& held = Held();
  std::lock_guard<std::mutex> guard(held.lock);
  for (const std::string& path : held.paths) {
    if (HoldsOurPid(path)) unlink(path.c_str());
  }
  held.paths.clear();
}

void Remember(const std::string& path) {
  static const bool registered = std::atexit(RemoveHeldLocksAtExit) == 0;
  (void)registered;
  HeldLocks& held = Held();
  std::lock_guard<std::mutex> guard(held.lock);
  held.paths.insert(path);
}

void Forget(const std::string& path) {
  HeldLocks& held = Held();
  std::lock_guard<std::mutex> guard(held.lock);
  held.paths.erase(path);
}

}  // namespace

bool IsUnfinishedLockLeftOver(std::time_t ageSeconds) {
  return ageSeconds > kUnfinishedLockSeconds;
}

bool IsPidReused(std::time_t processStart, std::time_t lockModified) {
  return processStart > lockModified + kStartTimeSlackSeconds;
}

std::time_t ProcessStartTime(int pid, const std::string& procRoot) {
  std::ifstream statFile(procRoot + "/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(statFile, line)) return 0;
  // The command name may hold spaces and parentheses; the fields start after the last ')'.
  const std::size_t close = line.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(line.substr(close + 1));
  std::string field;
  unsigned long long ticks = 0;
  // Field 3 (the state) is the first after the name; the start time is field 22.
  for (int number = 3; number <= 22 && fields >> field; ++number) {
    if (number == 22) ticks = std::strtoull(field.c_str(), nullptr, 10);
  }
  std::ifstream systemStat(procRoot + "/stat");
  long long bootTime = 0;
  for (std::string key; systemStat >> key;) {
    if (key == "btime") {
      systemStat >> bootTime;
      break;
    }
  }
  const long ticksPerSecond = sysconf(_SC_CLK_TCK);
  if (ticks == 0 || bootTime == 0 || ticksPerSecond <= 0) return 0;
  return static_cast<std::time_t>(bootTime + static_cast<long long>(ticks) / ticksPerSecond);
}

std::string DefaultLockFolder() {
  struct stat info {};
  if (stat("/run/lock", &info) == 0 && S_ISDIR(info.st_mode)) return "/run/lock";
  return "/var/lock";
}

std::string LockFileName(const std::string& device) {
  char resolved[PATH_MAX];
  std::string node = realpath(device.c_str(), resolved) != nullptr ? resolved : device;
  const std::string devPrefix = "/dev/";
  if (node.compare(0, devPrefix.size(), devPrefix) == 0) {
    node.erase(0, devPrefix.size());
  } else if (const std::size_t slash = node.rfind('/'); slash != std::string::npos) {
    node.erase(0, slash + 1);
  }
  for (char& c : node) {
    if (c == '/') c = '_';
  }
  return "LCK.." + node;
}

int PortLockFile::Acquire(const std::string& folder, const std::string& device, int* holderPid) {
  Release();
  *holderPid = 0;
  problem_.clear();
  const std::string path = folder + "/" + LockFileName(device);
  std::string temporary = WriteTemporary(folder);
  const bool canWrite = !temporary.empty();
  int result = EBUSY;  // still contended after every round
  for (int round = 0; round < kClaimRounds && result == EBUSY; ++round) {
    if (canWrite && link(temporary.c_str(), path.c_str()) == 0) {
      result = 0;
      break;
    }
    LockView view = ViewLock(path);
    if (view.kind == LockView::Kind::kUnsafe) {
      problem_ = view.problem;
      result = ENOLCK;
      break;
    }
    if (view.kind == LockView::Kind::kAbsent) {
      if (!canWrite) result = 0;  // a folder we may not write: no lock of ours
      continue;
    }
    *holderPid = view.pid;
    const bool stale = view.kind == LockView::Kind::kLock && IsStale(view);
    if (stale && canWrite && TakeOver(view, path, temporary)) {
      temporary.clear();  // it is the lock now
      result = 0;
    } else if (!stale) {
      CloseView(view);
      break;
    } else if (!canWrite) {
      result = 0;  // left over, but we cannot write one of ours
    } else {
      usleep(kClaimPauseMicroseconds);
    }
    CloseView(view);
  }
  if (!temporary.empty()) unlink(temporary.c_str());
  if (result == 0) *holderPid = 0;
  if (result == 0 && canWrite) {
    path_ = path;
    Remember(path_);
  }
  return result;
}

void PortLockFile::Release() {
  if (path_.empty()) return;
  if (HoldsOurPid(path_)) unlink(path_.c_str());
  Forget(path_);
  path_.clear();
}

}  // namespace serial

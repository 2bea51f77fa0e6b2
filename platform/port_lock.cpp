#include "platform/port_lock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace serial {
namespace {

constexpr std::size_t kMaxLockBytes = 64;
// A lock file that does not (yet) hold a PID may be one another program is still writing.
constexpr std::time_t kUnfinishedLockSeconds = 5;
// Taking over a stale lock can race with another taker; a few rounds settle it.
constexpr int kClaimRounds = 3;

std::string PidLine(pid_t pid) {
  char line[16];
  const int length = std::snprintf(line, sizeof line, "%10d\n", static_cast<int>(pid));
  return std::string(line, static_cast<std::size_t>(length));
}

// The PID in a lock file: ASCII (the usual form) or a 4-byte binary int (an old one).
// 0 when there is none; -1 when the file cannot be read.
int ReadLockPid(const std::string& path, std::time_t* modified) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return -1;
  char bytes[kMaxLockBytes + 1] = {};
  const ssize_t count = read(fd, bytes, kMaxLockBytes);
  struct stat info {};
  *modified = fstat(fd, &info) == 0 ? info.st_mtime : 0;
  close(fd);
  if (count == static_cast<ssize_t>(sizeof(int)) && bytes[0] != ' ' &&
      (bytes[0] < '0' || bytes[0] > '9')) {
    int binary = 0;
    std::memcpy(&binary, bytes, sizeof binary);
    return binary > 0 ? binary : 0;
  }
  const long pid = std::strtol(bytes, nullptr, 10);
  return pid > 0 && pid <= INT_MAX ? static_cast<int>(pid) : 0;
}

bool ProcessExists(int pid) {
  return kill(pid, 0) == 0 || errno == EPERM;
}

// True when `path` is a lock nobody holds any more (and so may be removed).
bool IsStale(const std::string& path, int* holderPid) {
  std::time_t modified = 0;
  const int pid = ReadLockPid(path, &modified);
  *holderPid = pid > 0 ? pid : 0;
  if (pid < 0) return errno == ENOENT;  // gone meanwhile: try again
  if (pid == 0) return std::time(nullptr) - modified > kUnfinishedLockSeconds;
  // Our own PID is another port object of this process, never a leftover.
  if (pid == getpid()) return false;
  return !ProcessExists(pid);
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

}  // namespace

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
  const std::string path = folder + "/" + LockFileName(device);
  const std::string temporary = WriteTemporary(folder);
  for (int round = 0; round < kClaimRounds; ++round) {
    if (!temporary.empty() && link(temporary.c_str(), path.c_str()) == 0) {
      unlink(temporary.c_str());
      path_ = path;
      return 0;
    }
    if (access(path.c_str(), F_OK) != 0) break;  // a folder we may not write: no lock of ours
    if (!IsStale(path, holderPid)) {
      if (!temporary.empty()) unlink(temporary.c_str());
      return EBUSY;
    }
    unlink(path.c_str());
  }
  if (!temporary.empty()) unlink(temporary.c_str());
  return 0;
}

void PortLockFile::Release() {
  if (path_.empty()) return;
  std::time_t modified = 0;
  if (ReadLockPid(path_, &modified) == getpid()) unlink(path_.c_str());
  path_.clear();
}

}  // namespace serial

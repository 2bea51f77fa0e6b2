#pragma once
// The lock files by which serial programs on Linux tell each other that a port is taken:
// <folder>/LCK..<name>, where <name> is the device node below /dev with '/' read as '_'
// (LCK..ttyACM0, LCK..pts_3), holding the owner's PID as ten ASCII digits, right-aligned, and
// a line feed. A file whose process is gone is left over and taken over.
//
// The lock folder is writable by every local user, so whatever sits at a lock's name is looked
// at without following links and without opening anything that could block (a FIFO) or answer
// (a device): only a small regular file counts as a lock file.

#include <ctime>
#include <string>

namespace serial {

// /run/lock where it exists, else /var/lock.
std::string DefaultLockFolder();

// "LCK..ttyACM0" for /dev/ttyACM0; links are followed first, so a virtual port's COM97 link
// locks the pseudo-terminal it leads to.
std::string LockFileName(const std::string& device);

// A lock file larger than this is no lock file (the usual one has 11 bytes).
inline constexpr long kMaxLockFileBytes = 64;
// A lock file without a PID may be one another program is still writing: it counts as held
// until it is older than this many seconds.
inline constexpr std::time_t kUnfinishedLockSeconds = 5;
// Process start times are known to the second and file times are rounded: a process that
// started this many seconds after the lock was written still counts as its writer.
inline constexpr std::time_t kStartTimeSlackSeconds = 2;

// True when a lock file without a PID, `ageSeconds` old, is left over.
[[nodiscard]] bool IsUnfinishedLockLeftOver(std::time_t ageSeconds);
// True when process `pid`, started at `processStart` (seconds since the epoch), cannot have
// written a lock file last modified at `lockModified`: the PID was reused.
[[nodiscard]] bool IsPidReused(std::time_t processStart, std::time_t lockModified);
// When process `pid` started (seconds since the epoch), from <procRoot>; 0 when unknown.
std::time_t ProcessStartTime(int pid, const std::string& procRoot = "/proc");

class PortLockFile {
 public:
  PortLockFile() = default;
  ~PortLockFile() { Release(); }
  PortLockFile(const PortLockFile&) = delete;
  PortLockFile& operator=(const PortLockFile&) = delete;

  // Takes the lock of `device` in `folder`. 0 when it is ours now, or when the folder takes no
  // files of ours and nothing is at the lock's name (then nothing is written).
  // EBUSY when a live process holds it; *holderPid names it (0 when not known).
  // ENOLCK when something that is not a lock file sits at the lock's name (a FIFO, a link, a
  // folder, a large file): Problem() says what, and the port must not be taken.
  int Acquire(const std::string& folder, const std::string& device, int* holderPid);
  // Removes our lock file, if we wrote one and it is still ours.
  void Release();
  [[nodiscard]] const std::string& Path() const { return path_; }
  // After ENOLCK: "<path>: FIFO" and the like (UTF-8).
  [[nodiscard]] const std::string& Problem() const { return problem_; }

 private:
  std::string path_;
  std::string problem_;
};

}  // namespace serial

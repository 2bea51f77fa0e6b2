#pragma once
// The lock files by which serial programs on Linux tell each other that a port is taken:
// <folder>/LCK..<name>, where <name> is the device node below /dev with '/' read as '_'
// (LCK..ttyACM0, LCK..pts_3), holding the owner's PID as ten ASCII digits, right-aligned, and
// a line feed. A file whose process is gone is left over and taken over.

#include <string>

namespace serial {

// /run/lock where it exists, else /var/lock.
std::string DefaultLockFolder();

// "LCK..ttyACM0" for /dev/ttyACM0; links are followed first, so a virtual port's COM97 link
// locks the pseudo-terminal it leads to.
std::string LockFileName(const std::string& device);

class PortLockFile {
 public:
  PortLockFile() = default;
  ~PortLockFile() { Release(); }
  PortLockFile(const PortLockFile&) = delete;
  PortLockFile& operator=(const PortLockFile&) = delete;

  // Takes the lock of `device` in `folder`. 0 when it is ours now, or when the folder takes no
  // files of ours (then nothing is written, and only a live owner's lock refuses the port).
  // EBUSY when a live process holds it; *holderPid names it (0 when its file is unreadable).
  int Acquire(const std::string& folder, const std::string& device, int* holderPid);
  // Removes our lock file, if we wrote one and it is still ours.
  void Release();
  [[nodiscard]] const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace serial

#pragma once
// Device arrival and removal notices: a libudev monitor on the "udev" source for USB devices,
// disks, HID devices and network interfaces (one notice per device, not one per udev event),
// plus an inotify watch on the runtime ports folder (a link created is an arrival, a link
// removed a removal). The caller waits on fd() (readable when notices are pending) on its UI
// thread and then calls ReadNotices().

#include <string>
#include <vector>

namespace notices {

enum class Kind { kArrival, kRemoval };

struct DeviceNotice {
  Kind kind;
  std::string what;  // for the operator and tests: "usb 1-2", "port COM97", ...
};

struct SourceError {
  int errorCode = 0;  // errno
  std::string step;   // which registration failed
};

class DeviceNoticeSource {
 public:
  DeviceNoticeSource() = default;
  ~DeviceNoticeSource();
  DeviceNoticeSource(const DeviceNoticeSource&) = delete;
  DeviceNoticeSource& operator=(const DeviceNoticeSource&) = delete;

  // Registers the folder watch (creating the folder, mode 0700) and, when useUdev, the udev
  // monitor. A part that fails is left out and the other still works; the first failure is
  // reported and the result is false. A second Open starts over.
  bool Open(const std::string& portsFolder, bool useUdev, SourceError* error);

  // Drops every registration; fd() is -1 afterwards.
  void Close();

  // A descriptor that polls readable when notices may be pending; -1 before Open.
  [[nodiscard]] int fd() const { return epollFd_; }

  // Drains what is pending, without blocking.
  std::vector<DeviceNotice> ReadNotices();

 private:
  static bool Fail(const char* step, int errorCode, SourceError* error);
  void DropUdevMonitor();
  void DropFolderWatch();
  bool OpenUdevMonitor(SourceError* error);
  bool OpenFolderWatch(SourceError* error);
  void ReadUdevNotices(std::vector<DeviceNotice>& notices);
  void ReadFolderNotices(std::vector<DeviceNotice>& notices);

  int epollFd_ = -1;
  int inotifyFd_ = -1;
  int watchFd_ = -1;
  void* udev_ = nullptr;
  void* monitor_ = nullptr;
  std::string portsFolder_;
};

}  // namespace notices

#include "platform/device_notices.h"

#include <fcntl.h>
#include <libudev.h>
#include <sys/epoll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "platform/port_list.h"

namespace notices {
namespace {

constexpr std::uint32_t kFolderEvents = IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM;

// The device classes whose arrival or removal may change the port list. The devtype keeps
// USB to one notice per device (not one per interface or tty) and block devices to disks.
struct WatchedClass {
  const char* subsystem;
  const char* devtype;
};
constexpr WatchedClass kWatchedClasses[] = {
    {"usb", "usb_device"}, {"block", "disk"}, {"hid", nullptr}, {"net", nullptr}};

udev* AsUdev(void* handle) {
  return static_cast<udev*>(handle);
}
udev_monitor* AsMonitor(void* handle) {
  return static_cast<udev_monitor*>(handle);
}

int ErrnoOr(int fallback) {
  return errno != 0 ? errno : fallback;
}

bool IsPortName(std::string_view name) {
  return name.size() > 3 && name.substr(0, 3) == "COM";
}

bool AddToEpoll(int epollFd, int fd) {
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.fd = fd;
  return ::epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &event) == 0;
}

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace

DeviceNoticeSource::~DeviceNoticeSource() {
  Close();
}

void DeviceNoticeSource::DropUdevMonitor() {
  if (monitor_ != nullptr) udev_monitor_unref(AsMonitor(monitor_));
  if (udev_ != nullptr) udev_unref(AsUdev(udev_));
  monitor_ = nullptr;
  udev_ = nullptr;
}

void DeviceNoticeSource::DropFolderWatch() {
  CloseFd(inotifyFd_);
  watchFd_ = -1;
}

void DeviceNoticeSource::Close() {
  DropFolderWatch();
  DropUdevMonitor();
  CloseFd(epollFd_);
}

bool DeviceNoticeSource::Fail(const char* step, int errorCode, SourceError* error) {
  if (error != nullptr) *error = SourceError{errorCode, step};
  return false;
}

bool DeviceNoticeSource::Open(const std::string& portsFolder, bool useUdev, SourceError* error) {
  Close();
  portsFolder_ = portsFolder;
  epollFd_ = ::epoll_create1(EPOLL_CLOEXEC);
  if (epollFd_ < 0) return Fail("epoll_create1", ErrnoOr(EIO), error);
  // Virtual ports need no udev, and a machine without udev still has them: each part stands
  // on its own, and the first failure is the one reported.
  SourceError folderError;
  const bool folderOk = OpenFolderWatch(&folderError);
  if (!folderOk) DropFolderWatch();
  SourceError udevError;
  const bool udevOk = !useUdev || OpenUdevMonitor(&udevError);
  if (!udevOk) DropUdevMonitor();
  if (error != nullptr && !folderOk) *error = folderError;
  if (error != nullptr && folderOk && !udevOk) *error = udevError;
  return folderOk && udevOk;
}

bool DeviceNoticeSource::OpenUdevMonitor(SourceError* error) {
  errno = 0;
  udev_ = udev_new();
  if (udev_ == nullptr) return Fail("udev_new", ErrnoOr(ENOMEM), error);
  errno = 0;
  monitor_ = udev_monitor_new_from_netlink(AsUdev(udev_), "udev");
  if (monitor_ == nullptr) return Fail("udev_monitor_new_from_netlink", ErrnoOr(EIO), error);
  for (const WatchedClass& watched : kWatchedClasses) {
    const int result = udev_monitor_filter_add_match_subsystem_devtype(
        AsMonitor(monitor_), watched.subsystem, watched.devtype);
    if (result < 0) return Fail("udev_monitor_filter_add_match_subsystem_devtype", -result, error);
  }
  const int result = udev_monitor_enable_receiving(AsMonitor(monitor_));
  if (result < 0) return Fail("udev_monitor_enable_receiving", -result, error);
  const int fd = udev_monitor_get_fd(AsMonitor(monitor_));
  if (fd < 0) return Fail("udev_monitor_get_fd", -fd, error);
  // Reading drains until nothing is left, so the socket must never block.
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
    return Fail("fcntl", ErrnoOr(EIO), error);
  }
  if (!AddToEpoll(epollFd_, fd)) return Fail("epoll_ctl", ErrnoOr(EIO), error);
  return true;
}

bool DeviceNoticeSource::OpenFolderWatch(SourceError* error) {
  if (!ports::MakePrivateFolder(portsFolder_)) return Fail("mkdir", ErrnoOr(EIO), error);
  inotifyFd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (inotifyFd_ < 0) return Fail("inotify_init1", ErrnoOr(EIO), error);
  watchFd_ = ::inotify_add_watch(inotifyFd_, portsFolder_.c_str(), kFolderEvents);
  if (watchFd_ < 0) return Fail("inotify_add_watch", ErrnoOr(EIO), error);
  if (!AddToEpoll(epollFd_, inotifyFd_)) return Fail("epoll_ctl", ErrnoOr(EIO), error);
  return true;
}

std::vector<DeviceNotice> DeviceNoticeSource::ReadNotices() {
  std::vector<DeviceNotice> notices;
  // Level-triggered: the epoll descriptor stays readable until both sources are drained.
  if (monitor_ != nullptr) ReadUdevNotices(notices);
  if (inotifyFd_ >= 0) ReadFolderNotices(notices);
  return notices;
}

void DeviceNoticeSource::ReadUdevNotices(std::vector<DeviceNotice>& notices) {
  while (udev_device* device = udev_monitor_receive_device(AsMonitor(monitor_))) {
    const char* action = udev_device_get_action(device);
    const char* subsystem = udev_device_get_subsystem(device);
    const char* name = udev_device_get_sysname(device);
    const std::string what =
        std::string(subsystem != nullptr ? subsystem : "?") + " " + (name != nullptr ? name : "?");
    if (action != nullptr && std::strcmp(action, "add") == 0) {
      notices.push_back({Kind::kArrival, what});
    } else if (action != nullptr && std::strcmp(action, "remove") == 0) {
      notices.push_back({Kind::kRemoval, what});
    }
    udev_device_unref(device);
  }
}

void DeviceNoticeSource::ReadFolderNotices(std::vector<DeviceNotice>& notices) {
  alignas(inotify_event) char buffer[16 * 1024];
  for (;;) {
    const ssize_t length = ::read(inotifyFd_, buffer, sizeof buffer);
    if (length <= 0) return;  // EAGAIN: drained
    for (ssize_t offset = 0; offset + static_cast<ssize_t>(sizeof(inotify_event)) <= length;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
      offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      if ((event->mask & IN_Q_OVERFLOW) != 0) {
        // Events were lost: a rescan finds whatever changed.
        notices.push_back({Kind::kArrival, "port folder overflow"});
        continue;
      }
      if ((event->mask & IN_IGNORED) != 0) {
        // The folder itself went away; watch the one that the next registration creates.
        if (ports::MakePrivateFolder(portsFolder_)) {
          watchFd_ = ::inotify_add_watch(inotifyFd_, portsFolder_.c_str(), kFolderEvents);
        }
        continue;
      }
      const std::string_view name = event->len > 0 ? std::string_view(event->name) : "";
      if (!IsPortName(name)) continue;
      const bool arrived = (event->mask & (IN_CREATE | IN_MOVED_TO)) != 0;
      notices.push_back({arrived ? Kind::kArrival : Kind::kRemoval, "port " + std::string(name)});
    }
  }
}

}  // namespace notices

#include "platform/port_list.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string_view>

namespace ports {
namespace {

constexpr int kMaxTtyIndex = kPortsPerKind - 1;
// How far up from a tty's device the USB device folder may lie (interface, usb-serial port).
constexpr int kMaxUsbWalk = 6;
constexpr std::size_t kMaxAttributeBytes = 256;

enum class TtyKind { kUart, kUsbSerial, kAcm };

struct TtyName {
  TtyKind kind;
  int index;
};

// Reads a whole decimal number; nullopt on anything else (signs, leading zeros, trailing text).
std::optional<int> ParseIndex(std::string_view digits) {
  if (digits.empty() || (digits.size() > 1 && digits.front() == '0')) return std::nullopt;
  int value = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  return value;
}

std::optional<TtyName> ParseTtyName(std::string_view name) {
  static constexpr std::pair<std::string_view, TtyKind> kPrefixes[] = {
      {"ttyS", TtyKind::kUart}, {"ttyUSB", TtyKind::kUsbSerial}, {"ttyACM", TtyKind::kAcm}};
  for (const auto& [prefix, kind] : kPrefixes) {
    if (name.substr(0, prefix.size()) != prefix) continue;
    const std::optional<int> index = ParseIndex(name.substr(prefix.size()));
    if (!index || *index > kMaxTtyIndex) return std::nullopt;
    return TtyName{kind, *index};
  }
  return std::nullopt;
}

std::optional<int> ParseVirtualPortName(std::string_view name) {
  if (name.substr(0, 3) != "COM") return std::nullopt;
  const std::optional<int> number = ParseIndex(name.substr(3));
  if (!number || *number < kFirstVirtualPort || *number > kLastVirtualPort) return std::nullopt;
  return number;
}

std::string BaseName(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  const std::size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string ParentFolder(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos || slash == 0) return "/";
  return path.substr(0, slash);
}

std::optional<std::string> ReadLink(const std::string& path) {
  char target[PATH_MAX];
  const ssize_t length = ::readlink(path.c_str(), target, sizeof target - 1);
  if (length < 0) return std::nullopt;
  return std::string(target, static_cast<std::size_t>(length));
}

// A sysfs attribute without its line end; nullopt when the file cannot be read.
std::optional<std::string> ReadAttribute(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  char buffer[kMaxAttributeBytes];
  const ssize_t length = ::read(fd, buffer, sizeof buffer);
  ::close(fd);
  if (length < 0) return std::nullopt;
  std::string value(buffer, static_cast<std::size_t>(length));
  while (!value.empty() && (value.back() == '\n' || value.back() == '\r' || value.back() == ' ')) {
    value.pop_back();
  }
  return value;
}

bool IsPresent(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

bool IsCharacterDevice(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISCHR(info.st_mode);
}

// The names in a folder; none when it cannot be read.
std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code error;
  for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
       it.increment(error)) {
    names.push_back(it->path().filename().string());
  }
  return names;
}

std::string JoinPath(std::string folder, std::string_view name) {
  folder += '/';
  folder += name;
  return folder;
}

std::string ThreeDigits(int number) {
  char text[16];
  (void)std::snprintf(text, sizeof text, "%03d", number);
  return text;
}

void ReadUsbIdentity(const std::string& deviceLink, PortEntry& entry) {
  char resolved[PATH_MAX];
  if (::realpath(deviceLink.c_str(), resolved) == nullptr) return;
  std::string folder = resolved;
  for (int level = 0; level < kMaxUsbWalk && folder != "/"; ++level) {
    if (entry.usbInterface.empty()) {
      entry.usbInterface = ReadAttribute(folder + "/bInterfaceNumber").value_or("");
    }
    if (std::optional<std::string> vendor = ReadAttribute(folder + "/idVendor")) {
      entry.usbVendorId = *vendor;
      entry.usbProductId = ReadAttribute(folder + "/idProduct").value_or("");
      entry.usbSerial = ReadAttribute(folder + "/serial").value_or("");
      entry.usbManufacturer = ReadAttribute(folder + "/manufacturer").value_or("");
      entry.usbProduct = ReadAttribute(folder + "/product").value_or("");
      return;
    }
    folder = ParentFolder(folder);
  }
  // Not below a USB device after all: an interface number alone means nothing.
  entry.usbInterface.clear();
}

// A legacy 8250 port the kernel lists although no UART answers reads type 0 (PORT_UNKNOWN).
bool IsPhantomUart(const std::string& ttyFolder) {
  const std::optional<std::string> type = ReadAttribute(ttyFolder + "/type");
  return type && *type == "0";
}

// The name udev gives the port by what is plugged in rather than by the order of plugging
// (<dev>/serial/by-id/usb-<maker>_<product>_<serial>-if00), or the node without one.
std::string StableNodeName(const std::string& dev, const std::string& name) {
  const std::string byId = dev + "/serial/by-id";
  for (const std::string& link : FolderEntries(byId)) {
    const std::optional<std::string> target = ReadLink(JoinPath(byId, link));
    if (target && BaseName(*target) == name) return JoinPath(byId, link);
  }
  return dev + "/" + name;
}

std::optional<PortEntry> KernelPort(const PortListRoots& roots, const std::string& name) {
  const std::optional<TtyName> tty = ParseTtyName(name);
  if (!tty) return std::nullopt;
  const std::string folder = roots.sysClassTty + "/" + name;
  const std::string deviceLink = folder + "/device";
  // Virtual terminals, pseudo-terminals and consoles have no device behind them.
  if (!IsPresent(deviceLink)) return std::nullopt;
  if (tty->kind == TtyKind::kUart && IsPhantomUart(folder)) return std::nullopt;

  PortEntry entry;
  entry.node = roots.dev + "/" + name;
  if (std::optional<std::string> driver = ReadLink(deviceLink + "/driver")) {
    entry.driver = BaseName(*driver);
  }
  switch (tty->kind) {
    case TtyKind::kUart:
      entry.portNumber = kFirstUartPort + tty->index;
      entry.devicePath = "\\Device\\Serial" + std::to_string(tty->index);
      break;
    case TtyKind::kUsbSerial:
      entry.portNumber = kFirstUsbSerialPort + tty->index;
      entry.devicePath = "\\Device\\" +
                         (entry.driver.empty() ? std::string("usbserial") : entry.driver) +
                         std::to_string(tty->index);
      break;
    case TtyKind::kAcm:
      entry.portNumber = kFirstAcmPort + tty->index;
      entry.devicePath = "\\Device\\USBSER" + ThreeDigits(tty->index);
      break;
  }
  entry.portName = "COM" + std::to_string(entry.portNumber) + " (" + name + ")";
  ReadUsbIdentity(deviceLink, entry);
  entry.stableName = StableNodeName(roots.dev, name);
  return entry;
}

// The node as the operator knows it: "pts/3" for /dev/pts/3, the file name elsewhere.
std::string NodeName(const std::string& target) {
  constexpr std::string_view kDev = "/dev/";
  if (target.size() > kDev.size() && target.compare(0, kDev.size(), kDev) == 0) {
    return target.substr(kDev.size());
  }
  return BaseName(target);
}

std::optional<PortEntry> VirtualPort(const std::string& portsFolder, const std::string& name) {
  const std::optional<int> number = ParseVirtualPortName(name);
  if (!number) return std::nullopt;
  const std::string link = portsFolder + "/" + name;
  std::optional<std::string> target = ReadLink(link);
  if (!target || target->empty()) return std::nullopt;
  // A link left behind by a program that is gone points nowhere: not a port.
  if (!IsCharacterDevice(link)) return std::nullopt;
  PortEntry entry;
  entry.node = target->front() == '/' ? *target : portsFolder + "/" + *target;
  entry.portNumber = *number;
  entry.devicePath = "\\Device\\USBSER" + ThreeDigits(*number);
  entry.portName = "COM" + std::to_string(*number) + " (" + NodeName(*target) + ")";
  entry.isVirtual = true;
  entry.stableName = name;
  return entry;
}

bool LinkIsDangling(const std::string& link) {
  struct stat info {};
  return ::lstat(link.c_str(), &info) == 0 && S_ISLNK(info.st_mode) &&
         ::stat(link.c_str(), &info) != 0 && errno == ENOENT;
}

// Creates the link COM<n>; a dangling one left by a program that died is replaced once.
bool TryCreateLink(const std::string& portsFolder, int number, const std::string& target) {
  const std::string link = portsFolder + "/COM" + std::to_string(number);
  if (::symlink(target.c_str(), link.c_str()) == 0) return true;
  if (errno != EEXIST) return false;
  if (!LinkIsDangling(link)) {
    errno = EEXIST;
    return false;
  }
  if (::unlink(link.c_str()) != 0 && errno != ENOENT) return false;
  return ::symlink(target.c_str(), link.c_str()) == 0;
}

std::optional<int> ParsePid(std::string_view name) {
  const std::optional<int> pid = ParseIndex(name);
  if (!pid || *pid <= 0) return std::nullopt;
  return pid;
}

bool SameDevice(const struct stat& a, const struct stat& b) {
  if (S_ISCHR(a.st_mode) && S_ISCHR(b.st_mode)) return a.st_rdev == b.st_rdev;
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The pseudo-terminal number of `node` (/dev/pts/3 -> 3), or -1 for any other device.
int PtyIndex(const std::string& node) {
  char resolved[PATH_MAX];
  if (::realpath(node.c_str(), resolved) == nullptr) return -1;
  const std::string_view path = resolved;
  constexpr std::string_view kPts = "/dev/pts/";
  if (path.substr(0, kPts.size()) != kPts) return -1;
  return ParseIndex(path.substr(kPts.size())).value_or(-1);
}

// True when `target` (what a descriptor's link reads) is a pseudo-terminal master and its
// fdinfo names pseudo-terminal `ptyIndex`.
bool IsPtyMaster(const std::string& target, const std::string& fdInfo, int ptyIndex) {
  if (BaseName(target) != "ptmx") return false;
  const std::optional<std::string> info = ReadAttribute(fdInfo);
  constexpr std::string_view kIndex = "tty-index:";
  const std::size_t at = info ? info->find(kIndex) : std::string::npos;
  if (at == std::string::npos) return false;
  return std::atoi(info->c_str() + at + kIndex.size()) == ptyIndex;
}

}  // namespace

std::vector<PortHolder> FindOtherPortHolders(const std::string& node, int ownFd,
                                             const std::string& procRoot) {
  std::vector<PortHolder> holders;
  struct stat device {};
  if (::stat(node.c_str(), &device) != 0) return holders;
  const int ptyIndex = PtyIndex(node);
  const std::string self = std::to_string(::getpid());
  for (const std::string& name : FolderEntries(procRoot)) {
    if (!ParsePid(name)) continue;
    const std::string processFolder = JoinPath(procRoot, name);
    bool holds = false;
    bool isPeer = false;
    for (const std::string& fd : FolderEntries(processFolder + "/fd")) {
      if (name == self && fd == std::to_string(ownFd)) continue;
      // Only device nodes matter; the link text says so without a stat of every socket.
      const std::string fdPath = processFolder + "/fd/" + fd;
      const std::optional<std::string> target = ReadLink(fdPath);
      if (!target || target->compare(0, 5, "/dev/") != 0) continue;
      struct stat info {};
      if (::stat(fdPath.c_str(), &info) == 0 && SameDevice(info, device)) holds = true;
      if (ptyIndex >= 0 && IsPtyMaster(*target, processFolder + "/fdinfo/" + fd, ptyIndex)) {
        isPeer = true;
      }
    }
    if (holds) {
      holders.push_back(
          {*ParsePid(name), ReadAttribute(processFolder + "/comm").value_or(""), isPeer});
    }
  }
  return holders;
}

std::vector<PortEntry> ListSerialPorts(const PortListRoots& roots) {
  std::vector<PortEntry> entries;
  for (const std::string& name : FolderEntries(roots.sysClassTty)) {
    if (std::optional<PortEntry> entry = KernelPort(roots, name))
      entries.push_back(std::move(*entry));
  }
  if (!roots.portsFolder.empty() &&
      (!roots.portsFolderMustBePrivate || PrivateFolderProblem(roots.portsFolder).empty())) {
    for (const std::string& name : FolderEntries(roots.portsFolder)) {
      if (std::optional<PortEntry> entry = VirtualPort(roots.portsFolder, name)) {
        entries.push_back(std::move(*entry));
      }
    }
  }
  std::sort(entries.begin(), entries.end(),
            [](const PortEntry& a, const PortEntry& b) { return a.portNumber < b.portNumber; });
  return entries;
}

int PortNumberOfName(const std::string& portName) {
  if (portName.size() <= 3) return 0;
  errno = 0;
  const long number = std::strtol(portName.c_str() + 3, nullptr, 10);
  if (errno == ERANGE || number < INT_MIN || number > INT_MAX) return 0;
  return static_cast<int>(number);
}

namespace {

std::string OneFolderProblem(const std::string& folder) {
  struct stat info {};
  if (::lstat(folder.c_str(), &info) != 0) return {};
  if (S_ISLNK(info.st_mode)) return folder + ": symbolic link";
  if (!S_ISDIR(info.st_mode)) return folder + ": not a folder";
  if (info.st_uid != ::geteuid()) return folder + ": owned by uid " + std::to_string(info.st_uid);
  if ((info.st_mode & 077) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
    return folder + ": mode " + mode;
  }
  return {};
}

}  // namespace

std::string PrivateFolderProblem(const std::string& folder) {
  std::string problem = OneFolderProblem(folder);
  const std::size_t slash = folder.find_last_of('/');
  if (problem.empty() && slash != std::string::npos && slash > 0) {
    problem = OneFolderProblem(folder.substr(0, slash));
  }
  return problem;
}

bool MakePrivateFolder(const std::string& folder) {
  if (folder.empty()) {
    errno = ENOENT;
    return false;
  }
  for (std::size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
    const std::string part = folder.substr(0, slash);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) break;
  }
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0) return false;
  if (!S_ISDIR(info.st_mode)) {
    errno = ENOTDIR;
    return false;
  }
  return true;
}

int RegisterVirtualPort(const std::string& portsFolder, const std::string& target, int preferred) {
  if (!MakePrivateFolder(portsFolder)) return 0;
  if (preferred >= kFirstVirtualPort && preferred <= kLastVirtualPort) {
    if (TryCreateLink(portsFolder, preferred, target)) return preferred;
    if (errno != EEXIST) return 0;
  }
  for (int number = kFirstVirtualPort; number <= kLastVirtualPort; ++number) {
    if (TryCreateLink(portsFolder, number, target)) return number;
    if (errno != EEXIST) return 0;
  }
  errno = EBUSY;
  return 0;
}

void UnregisterVirtualPort(const std::string& portsFolder, int portNumber,
                           const std::string& target) {
  const std::string link = portsFolder + "/COM" + std::to_string(portNumber);
  const std::optional<std::string> current = ReadLink(link);
  if (current && *current == target) ::unlink(link.c_str());
}

bool IsProcessRunning(const std::string& command, const std::string& procRoot) {
  for (const std::string& name : FolderEntries(procRoot)) {
    if (!ParsePid(name)) continue;
    if (ReadAttribute(JoinPath(JoinPath(procRoot, name), "comm")) == command) return true;
  }
  return false;
}

}  // namespace ports

#include "tests/support/fake_sysfs.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fake {
namespace {

namespace fs = std::filesystem;

void MakeFolder(const std::string& path) {
  std::error_code error;
  fs::create_directories(path, error);
  EXPECT_FALSE(error) << path << ": " << error.message();
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << text;
  EXPECT_TRUE(file.good()) << path;
}

void Link(const std::string& target, const std::string& link) {
  std::error_code error;
  fs::remove(link, error);
  EXPECT_EQ(::symlink(target.c_str(), link.c_str()), 0) << link << " -> " << target;
}

void WriteAttributeIfSet(const std::string& folder, const char* name, const std::string& value) {
  if (!value.empty()) WriteFile(folder + "/" + name, value + "\n");
}

}  // namespace

FakeSysfs::FakeSysfs() {
  std::string pattern = "/tmp/fake-sysfs-XXXXXX";
  EXPECT_NE(::mkdtemp(pattern.data()), nullptr) << "mkdtemp";
  root_ = pattern;
  sys_ = root_ + "/sys";
  roots_.sysClassTty = sys_ + "/class/tty";
  roots_.dev = root_ + "/dev";
  roots_.portsFolder = root_ + "/run/ports";
  MakeFolder(roots_.sysClassTty);
  MakeFolder(roots_.dev);
  MakeFolder(roots_.portsFolder);
  // The root hub: a USB device too, which the walk from a port must not reach first.
  const std::string hub = sys_ + "/devices/pci0000:00/0000:00:14.0/usb1";
  MakeFolder(hub);
  WriteFile(hub + "/idVendor", "1d6b\n");
  WriteFile(hub + "/idProduct", "0002\n");
}

FakeSysfs::~FakeSysfs() {
  for (const auto& [name, fd] : held_) ::close(fd);
  std::error_code error;
  fs::remove_all(root_, error);
}

void FakeSysfs::AddClassEntry(const std::string& name, const std::string& ttyFolder) {
  MakeFolder(ttyFolder);
  Link(ttyFolder, roots_.sysClassTty + "/" + name);
}

void FakeSysfs::AddTty(const std::string& name, const std::string& device, Node node) {
  const std::string folder = device + "/tty/" + name;
  AddClassEntry(name, folder);
  Link(device, folder + "/device");
  SetNode(name, node);
}

void FakeSysfs::AddVirtualTty(const std::string& name) {
  AddClassEntry(name, sys_ + "/devices/virtual/tty/" + name);
}

void FakeSysfs::AddUart(int index, int uartType, Node node) {
  const std::string name = "ttyS" + std::to_string(index);
  const std::string port =
      sys_ + "/devices/platform/serial8250/serial8250:0." + std::to_string(index);
  MakeFolder(port);
  Link(sys_ + "/bus/platform/drivers/serial8250", port + "/driver");
  AddTty(name, port, node);
  WriteFile(port + "/tty/" + name + "/type", std::to_string(uartType) + "\n");
}

std::string FakeSysfs::MakeUsbDevice(const UsbIdentity& usb, const std::string& driver) {
  const std::string busPort = "1-" + std::to_string(nextUsbDevice_++);
  const std::string device = sys_ + "/devices/pci0000:00/0000:00:14.0/usb1/" + busPort;
  MakeFolder(device);
  WriteAttributeIfSet(device, "idVendor", usb.vendorId);
  WriteAttributeIfSet(device, "idProduct", usb.productId);
  WriteAttributeIfSet(device, "serial", usb.serial);
  WriteAttributeIfSet(device, "manufacturer", usb.manufacturer);
  WriteAttributeIfSet(device, "product", usb.product);
  std::string interface = device + "/" + busPort + ":1.0";
  MakeFolder(interface);
  WriteAttributeIfSet(interface, "bInterfaceNumber", usb.interfaceNumber);
  const std::string driverFolder = sys_ + "/bus/usb/drivers/" + driver;
  MakeFolder(driverFolder);
  Link(driverFolder, interface + "/driver");
  return interface;
}

void FakeSysfs::AddUsbSerial(int index, const std::string& driver, const UsbIdentity& usb,
                             Node node) {
  const std::string name = "ttyUSB" + std::to_string(index);
  const std::string interface = MakeUsbDevice(usb, "usbserial_generic");
  const std::string port = interface + "/" + name;
  MakeFolder(port);
  const std::string driverFolder = sys_ + "/bus/usb-serial/drivers/" + driver;
  MakeFolder(driverFolder);
  Link(driverFolder, port + "/driver");
  AddTty(name, port, node);
}

void FakeSysfs::AddAcm(int index, const UsbIdentity& usb, Node node) {
  AddTty("ttyACM" + std::to_string(index), MakeUsbDevice(usb, "cdc_acm"), node);
}

void FakeSysfs::AddPlainTty(const std::string& name, Node node) {
  const std::string folder = roots_.sysClassTty + "/" + name;
  MakeFolder(folder);
  const std::string device = sys_ + "/devices/plain/" + name;
  MakeFolder(device);
  Link(device, folder + "/device");
  SetNode(name, node);
}

void FakeSysfs::RemoveTty(const std::string& name) {
  std::error_code error;
  fs::remove_all(roots_.sysClassTty + "/" + name, error);  // a link, or a plain tty's folder
  SetNode(name, Node::kMissing);
}

std::string FakeSysfs::NodePath(const std::string& name) const {
  if (name.rfind("COM", 0) == 0) return roots_.portsFolder + "/" + name;
  return roots_.dev + "/" + name;
}

void FakeSysfs::SetNode(const std::string& name, Node node) {
  const std::string path = NodePath(name);
  std::error_code error;
  fs::remove(path, error);
  ptys_.erase(name);
  if (node == Node::kMissing) return;
  auto pty = std::make_unique<Pty>();
  Link(pty->SlavePath(), path);
  ptys_[name] = std::move(pty);
}

Pty* FakeSysfs::PtyOf(const std::string& name) const {
  const auto found = ptys_.find(name);
  return found == ptys_.end() ? nullptr : found->second.get();
}

void FakeSysfs::AddVirtualPort(int number, Node node) {
  const std::string name = "COM" + std::to_string(number);
  if (node == Node::kMissing) {
    Link(root_ + "/no-such-pty-" + std::to_string(number), NodePath(name));
    return;
  }
  SetNode(name, node);
}

void FakeSysfs::HoldNode(const std::string& name) {
  const int fd = ::open(NodePath(name).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(fd, 0) << NodePath(name);
  ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0) << NodePath(name);
  held_[name] = fd;
}

namespace {
// Closes are watched too: inotify merges an event with an identical one still queued, so two
// opens in a row would read as one without the close between them.
constexpr std::uint32_t kWatched = IN_OPEN | IN_CLOSE;
}  // namespace

OpenRecorder::OpenRecorder(const FakeSysfs& tree) {
  fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  EXPECT_GE(fd_, 0) << "inotify_init1";
  devWatch_ = ::inotify_add_watch(fd_, tree.Roots().dev.c_str(), kWatched);
  for (const auto& [name, pty] : tree.ptys_) {
    const int watch = ::inotify_add_watch(fd_, pty->SlavePath().c_str(), kWatched);
    EXPECT_GE(watch, 0) << name;
    names_[watch] = name;
  }
}

OpenRecorder::~OpenRecorder() {
  if (fd_ >= 0) ::close(fd_);
}

std::vector<std::string> OpenRecorder::Opened() {
  std::vector<std::string> opened;
  alignas(inotify_event) char buffer[8192];
  for (;;) {
    const ssize_t length = ::read(fd_, buffer, sizeof buffer);
    if (length <= 0) break;
    for (ssize_t offset = 0; offset < length;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
      offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      if ((event->mask & IN_OPEN) == 0) continue;
      if (event->wd == devWatch_) {
        // The folder reports files opened in it by name; links are followed to their ptys.
        if (event->len > 0) opened.emplace_back(event->name);
      } else if (const auto found = names_.find(event->wd); found != names_.end()) {
        opened.push_back(found->second);
      }
    }
  }
  return opened;
}

}  // namespace fake

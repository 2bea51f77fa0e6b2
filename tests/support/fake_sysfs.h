#pragma once
// A fake sysfs tty class, dev and ports folder in a temporary folder, laid out like the real one;
// a live device node links to a real pseudo-terminal's slave.

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/port_list.h"
#include "tests/support/pty_peer.h"

namespace fake {

// What a device node in the fake dev folder is.
enum class Node {
  kLive,     // a link to a pseudo-terminal slave: opens succeed
  kMissing,  // no node: opens fail with "no device"
};

struct UsbIdentity {
  std::string vendorId = "1a86";
  std::string productId = "7523";
  std::string serial;  // empty: no serial attribute
  std::string manufacturer;
  std::string product;
  std::string interfaceNumber = "00";
};

using Pty = PtyPeer;

class FakeSysfs {
 public:
  FakeSysfs();
  ~FakeSysfs();
  FakeSysfs(const FakeSysfs&) = delete;
  FakeSysfs& operator=(const FakeSysfs&) = delete;

  [[nodiscard]] const ports::PortListRoots& Roots() const { return roots_; }
  [[nodiscard]] const std::string& Root() const { return root_; }

  // A tty without a device behind it (tty0, console, ptmx, ...).
  void AddVirtualTty(const std::string& name);
  // ttyS<index> on the 8250 driver; uartType 0 is a phantom port with no UART.
  void AddUart(int index, int uartType = 4, Node node = Node::kLive);
  // ttyUSB<index> behind a USB-serial driver ("ch341-uart", "ftdi_sio", ...).
  void AddUsbSerial(int index, const std::string& driver, const UsbIdentity& usb = {},
                    Node node = Node::kLive);
  // ttyACM<index> on cdc_acm.
  void AddAcm(int index, const UsbIdentity& usb = {}, Node node = Node::kLive);
  // Any tty class entry as a plain folder with a device link (no driver, no USB).
  void AddPlainTty(const std::string& name, Node node = Node::kLive);
  // The device is unplugged: class entry and device node disappear.
  void RemoveTty(const std::string& name);

  [[nodiscard]] std::string NodePath(const std::string& name) const;
  // The pseudo-terminal behind a live node or virtual port (ttyACM0, COM97); null otherwise.
  [[nodiscard]] Pty* PtyOf(const std::string& name) const;

  // Registers COM<number> in the ports folder: live -> link to a new pseudo-terminal slave;
  // missing -> a dangling link.
  void AddVirtualPort(int number, Node node = Node::kLive);

  // Holds a live node open and locked as another program would (the console sees it busy).
  void HoldNode(const std::string& name);

 private:
  friend class OpenRecorder;  // watches the live nodes' pseudo-terminals
  void SetNode(const std::string& name, Node node);
  std::string MakeUsbDevice(const UsbIdentity& usb, const std::string& driver);
  void AddClassEntry(const std::string& name, const std::string& ttyFolder);
  // <device>/tty/<name> in the tty class, its device link and its node.
  void AddTty(const std::string& name, const std::string& device, Node node);

  std::string root_;
  std::string sys_;
  ports::PortListRoots roots_;
  int nextUsbDevice_ = 1;
  std::map<std::string, std::unique_ptr<Pty>> ptys_;
  std::map<std::string, int> held_;
};

// Records which device nodes of a fake tree are opened, in order (inotify IN_OPEN on every
// live pseudo-terminal slave and on the dev folder). Watches what exists when constructed.
class OpenRecorder {
 public:
  explicit OpenRecorder(const FakeSysfs& tree);
  ~OpenRecorder();
  OpenRecorder(const OpenRecorder&) = delete;
  OpenRecorder& operator=(const OpenRecorder&) = delete;
  // Node names opened since the last call.
  std::vector<std::string> Opened();

 private:
  int fd_ = -1;
  int devWatch_ = -1;
  std::map<int, std::string> names_;
};

}  // namespace fake

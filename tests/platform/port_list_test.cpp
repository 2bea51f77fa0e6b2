// The port list on fake sysfs trees: which ttys count as ports, how they are named and
// numbered, their USB identity, the virtual ports of the ports folder, and who holds a port.

#include "platform/port_list.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/fake_sysfs.h"

namespace {

using fake::FakeSysfs;
using fake::Node;

struct ListedPort {
  std::string devicePath;
  std::string portName;
  int portNumber;
  bool operator==(const ListedPort&) const = default;
};

std::ostream& operator<<(std::ostream& out, const ListedPort& port) {
  return out << port.devicePath << " | " << port.portName << " | " << port.portNumber;
}

std::vector<ListedPort> Listed(const std::vector<ports::PortEntry>& entries) {
  std::vector<ListedPort> listed;
  listed.reserve(entries.size());
  for (const ports::PortEntry& entry : entries) {
    listed.push_back({entry.devicePath, entry.portName, entry.portNumber});
  }
  return listed;
}

// A pseudo-terminal's node as the port name shows it: "pts/3".
std::string SlaveName(const FakeSysfs& tree, const std::string& name) {
  return tree.PtyOf(name)->slavePath().substr(std::string("/dev/").size());
}

TEST(PortList, KeepsRealPortsNamedAndOrderedByNumber) {
  FakeSysfs tree;
  // Added out of order: the list is ordered by number, not by folder order.
  tree.AddAcm(12);
  tree.AddVirtualTty("tty0");
  tree.AddVirtualTty("console");
  tree.AddVirtualTty("ptmx");
  tree.AddUsbSerial(31, "ftdi_sio");
  tree.AddUart(2);
  tree.AddUart(1, /*uartType=*/0);  // the kernel lists it, but no UART answers
  tree.AddAcm(0);
  tree.AddUart(0);
  tree.AddUsbSerial(0, "ch341-uart");
  tree.AddAcm(31);
  tree.AddAcm(32);  // beyond the numbered range
  tree.AddUart(32);
  tree.AddPlainTty("ttyAMA0");  // a driver this console has no number for
  tree.AddPlainTty("ttyS3x");
  tree.AddVirtualPort(97);
  tree.AddVirtualPort(98, Node::kMissing);  // its program is gone
  std::ofstream(tree.Roots().portsFolder + "/notes.txt") << "not a port";

  const std::vector<ListedPort> expected = {
      {"\\Device\\Serial0", "COM1 (ttyS0)", 1},
      {"\\Device\\Serial2", "COM3 (ttyS2)", 3},
      {"\\Device\\ch341-uart0", "COM33 (ttyUSB0)", 33},
      {"\\Device\\ftdi_sio31", "COM64 (ttyUSB31)", 64},
      {"\\Device\\USBSER000", "COM65 (ttyACM0)", 65},
      {"\\Device\\USBSER012", "COM77 (ttyACM12)", 77},
      {"\\Device\\USBSER031", "COM96 (ttyACM31)", 96},
      {"\\Device\\USBSER097", "COM97 (" + SlaveName(tree, "COM97") + ")", 97},
  };
  const std::vector<ports::PortEntry> entries = ports::ListSerialPorts(tree.Roots());
  EXPECT_EQ(Listed(entries), expected);
  ASSERT_EQ(entries.size(), expected.size());
  EXPECT_EQ(entries[0].node, tree.Roots().dev + "/ttyS0");
  EXPECT_FALSE(entries[0].isVirtual);
  EXPECT_EQ(entries.back().node, tree.PtyOf("COM97")->slavePath());
  EXPECT_TRUE(entries.back().isVirtual);
}

TEST(PortList, UartWithoutTypeAttributeCounts) {
  // Only an 8250 port that says "no UART" is a phantom; other UART drivers have no type file.
  FakeSysfs tree;
  tree.AddUart(4);
  std::filesystem::remove(tree.Roots().sysClassTty + "/ttyS4/type");
  EXPECT_EQ(Listed(ports::ListSerialPorts(tree.Roots())),
            (std::vector<ListedPort>{{"\\Device\\Serial4", "COM5 (ttyS4)", 5}}));
}

TEST(PortList, MissingFoldersListNothing) {
  ports::PortListRoots roots;
  roots.sysClassTty = "/nonexistent/class/tty";
  roots.portsFolder = "/nonexistent/ports";
  EXPECT_TRUE(ports::ListSerialPorts(roots).empty());
}

TEST(PortList, ReadsUsbIdentityFromTheUsbDevice) {
  struct Case {
    const char* description;
    const char* tty;
    fake::UsbIdentity usb;
    ports::PortEntry expected;
  };
  const fake::UsbIdentity tracker{"1a86", "7523", "A1B2C3", "QinHeng", "USB Serial", "00"};
  const fake::UsbIdentity bare{"0403", "6001", "", "", "", "01"};
  auto entry = [](const char* driver, const fake::UsbIdentity& usb) {
    ports::PortEntry e;
    e.driver = driver;
    e.usbVendorId = usb.vendorId;
    e.usbProductId = usb.productId;
    e.usbSerial = usb.serial;
    e.usbManufacturer = usb.manufacturer;
    e.usbProduct = usb.product;
    e.usbInterface = usb.interfaceNumber;
    return e;
  };
  const std::vector<Case> cases = {
      {"ACM port: interface folder, then device", "ttyACM0", tracker, entry("cdc_acm", tracker)},
      {"USB-serial port: one level more, no serial", "ttyUSB0", bare, entry("ftdi_sio", bare)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.description);
    FakeSysfs tree;
    if (std::string(c.tty) == "ttyACM0") {
      tree.AddAcm(0, c.usb);
    } else {
      tree.AddUsbSerial(0, "ftdi_sio", c.usb);
    }
    const std::vector<ports::PortEntry> entries = ports::ListSerialPorts(tree.Roots());
    ASSERT_EQ(entries.size(), 1u);
    const ports::PortEntry& got = entries[0];
    EXPECT_EQ(got.driver, c.expected.driver);
    // The root hub above (1d6b) must not be taken for the device.
    EXPECT_EQ(got.usbVendorId, c.expected.usbVendorId);
    EXPECT_EQ(got.usbProductId, c.expected.usbProductId);
    EXPECT_EQ(got.usbSerial, c.expected.usbSerial);
    EXPECT_EQ(got.usbManufacturer, c.expected.usbManufacturer);
    EXPECT_EQ(got.usbProduct, c.expected.usbProduct);
    EXPECT_EQ(got.usbInterface, c.expected.usbInterface);
  }
}

TEST(PortList, UartHasNoUsbIdentity) {
  FakeSysfs tree;
  tree.AddUart(0);
  const std::vector<ports::PortEntry> entries = ports::ListSerialPorts(tree.Roots());
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].driver, "serial8250");
  EXPECT_TRUE(entries[0].usbVendorId.empty());
  EXPECT_TRUE(entries[0].usbInterface.empty());
}

TEST(PortList, ListsEveryPortBeyondFifty) {
  FakeSysfs tree;
  for (int i = 0; i < 32; ++i) tree.AddUart(i, 4, Node::kMissing);
  for (int i = 0; i < 32; ++i) tree.AddUsbSerial(i, "ch341-uart", {}, Node::kMissing);
  const std::vector<ports::PortEntry> entries = ports::ListSerialPorts(tree.Roots());
  ASSERT_EQ(entries.size(), 64u);
  for (std::size_t i = 1; i < entries.size(); ++i) {
    EXPECT_LT(entries[i - 1].portNumber, entries[i].portNumber);
  }
  EXPECT_EQ(entries[49].portName, "COM50 (ttyUSB17)");
}

TEST(PortList, PortNumberFromName) {
  const struct {
    const char* name;
    int number;
  } cases[] = {
      {"COM12", 12}, {"COM65 (ttyACM0)", 65}, {"COMx", 0},           {"COM", 0}, {"", 0}, {"CO", 0},
      {"COM 7", 7},  {"COM-3", -3},           {"COM99999999999", 0},  // out of range: no overflow
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ports::PortNumberOfName(c.name), c.number) << '"' << c.name << '"';
  }
}

class VirtualPorts : public ::testing::Test {
 protected:
  std::string Link(int number) const { return folder_ + "/COM" + std::to_string(number); }
  FakeSysfs tree_;
  // Not there yet: registering creates it.
  std::string folder_ = tree_.Root() + "/runtime/tracker-console/ports";
  fake::Pty pty_;
};

TEST_F(VirtualPorts, RegisterTakesLowestFreeNumberInPrivateFolder) {
  EXPECT_EQ(ports::RegisterVirtualPort(folder_, pty_.slavePath()), 97);
  struct stat info {};
  ASSERT_EQ(::stat(folder_.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  EXPECT_EQ(std::filesystem::read_symlink(Link(97)), pty_.slavePath());
  EXPECT_EQ(ports::RegisterVirtualPort(folder_, pty_.slavePath()), 98);
  EXPECT_EQ(ports::RegisterVirtualPort(folder_, pty_.slavePath(), 120), 120);
  // The preferred number is taken: the lowest free one instead.
  EXPECT_EQ(ports::RegisterVirtualPort(folder_, pty_.slavePath(), 97), 99);
  // Outside 97..127 a preference is ignored.
  EXPECT_EQ(ports::RegisterVirtualPort(folder_, pty_.slavePath(), 5), 100);
}

TEST_F(VirtualPorts, LinkOfAGoneProgramIsReused) {
  ASSERT_TRUE(ports::MakePrivateFolder(folder_));
  std::filesystem::create_symlink("/dev/pts/no-such-pty", Link(97));
  EXPECT_EQ(ports::RegisterVirtualPort(folder_, pty_.slavePath()), 97);
  EXPECT_EQ(std::filesystem::read_symlink(Link(97)), pty_.slavePath());
}

TEST_F(VirtualPorts, AllNumbersTakenIsBusy) {
  for (int number = 97; number <= 127; ++number) {
    ASSERT_EQ(ports::RegisterVirtualPort(folder_, pty_.slavePath()), number);
  }
  errno = 0;
  EXPECT_EQ(ports::RegisterVirtualPort(folder_, pty_.slavePath()), 0);
  EXPECT_EQ(errno, EBUSY);
}

TEST_F(VirtualPorts, FolderThatCannotBeMadeReportsError) {
  std::ofstream(tree_.Root() + "/file") << "x";
  errno = 0;
  EXPECT_EQ(ports::RegisterVirtualPort(tree_.Root() + "/file/ports", pty_.slavePath()), 0);
  EXPECT_EQ(errno, ENOTDIR);
}

TEST_F(VirtualPorts, UnregisterRemovesOnlyOwnLink) {
  fake::Pty other;
  ASSERT_EQ(ports::RegisterVirtualPort(folder_, pty_.slavePath()), 97);
  ports::UnregisterVirtualPort(folder_, 97, other.slavePath());
  EXPECT_TRUE(std::filesystem::is_symlink(Link(97)));
  ports::UnregisterVirtualPort(folder_, 97, pty_.slavePath());
  EXPECT_FALSE(std::filesystem::is_symlink(Link(97)));
}

TEST_F(VirtualPorts, RegisteredPortIsListed) {
  ports::PortListRoots roots = tree_.Roots();
  roots.portsFolder = folder_;
  ASSERT_EQ(ports::RegisterVirtualPort(folder_, pty_.slavePath(), 101), 101);
  const std::vector<ports::PortEntry> entries = ports::ListSerialPorts(roots);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].devicePath, "\\Device\\USBSER101");
  EXPECT_EQ(entries[0].node, pty_.slavePath());
}

std::string OwnCommand() {
  std::string command;
  std::getline(std::ifstream("/proc/self/comm"), command);
  return command;
}

TEST(PortHolders, FindsTheProcessHoldingTheDevice) {
  FakeSysfs tree;
  tree.AddAcm(0);
  tree.AddAcm(1);
  tree.HoldNode("ttyACM0");
  // Through the dev folder's link as well as by the pseudo-terminal's own path.
  for (const std::string& node : {tree.NodePath("ttyACM0"), tree.PtyOf("ttyACM0")->slavePath()}) {
    const std::vector<ports::PortHolder> holders = ports::FindPortHolders(node);
    ASSERT_EQ(holders.size(), 1u) << node;
    EXPECT_EQ(holders[0].pid, ::getpid());
    EXPECT_EQ(holders[0].command, OwnCommand());
  }
  EXPECT_TRUE(ports::FindPortHolders(tree.NodePath("ttyACM1")).empty());
  EXPECT_TRUE(ports::FindPortHolders(tree.Root() + "/no-such-node").empty());
}

TEST(PortHolders, KnowsRunningCommands) {
  EXPECT_TRUE(ports::IsProcessRunning(OwnCommand()));
  EXPECT_FALSE(ports::IsProcessRunning("no-such-command"));
}

}  // namespace

// The port list on fake sysfs trees: which ttys count as ports, how they are named and
// numbered, their USB identity, the virtual ports of the ports folder, and who holds a port.

#include "platform/port_list.h"

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

// One entry as a line: "devicePath | portName | number | driver | usb identity".
std::vector<std::string> Listed(const ports::PortListRoots& roots) {
  std::vector<std::string> lines;
  for (const ports::PortEntry& e : ports::ListSerialPorts(roots)) {
    lines.push_back(e.devicePath + " | " + e.portName + " | " + std::to_string(e.portNumber) +
                    " | " + e.driver + " | " + e.usbVendorId + ":" + e.usbProductId + " " +
                    e.usbSerial + "/" + e.usbManufacturer + "/" + e.usbProduct + "/" +
                    e.usbInterface);
  }
  return lines;
}

TEST(PortList, KeepsRealPortsNamedAndOrderedByNumber) {
  FakeSysfs tree;
  // Added out of order: the list is ordered by number, not by folder order.
  tree.AddAcm(12);
  tree.AddVirtualTty("tty0");
  tree.AddVirtualTty("console");
  tree.AddVirtualTty("ptmx");
  tree.AddUsbSerial(31, "ftdi_sio", {"0403", "6001", "", "", "", "01"});
  tree.AddUart(2);
  tree.AddUart(1, /*uartType=*/0);  // the kernel lists it, but no UART answers
  tree.AddAcm(0, {"1a86", "7523", "A1B2C3", "QinHeng", "USB Serial", "00"});
  tree.AddUart(0);
  // Only an 8250 port that says "no UART" is a phantom; other UART drivers have no type file.
  tree.AddUart(4);
  std::filesystem::remove(tree.Roots().sysClassTty + "/ttyS4/type");
  tree.AddUsbSerial(0, "ch341-uart");
  tree.AddAcm(31);
  tree.AddAcm(32);  // beyond the numbered range
  tree.AddUart(32);
  tree.AddPlainTty("ttyAMA0");  // a driver this console has no number for
  tree.AddPlainTty("ttyS3x");
  tree.AddVirtualPort(97);
  tree.AddVirtualPort(98, Node::kMissing);  // its program is gone
  tree.AddVirtualPort(127);                 // the last number there is
  std::ofstream(tree.Roots().portsFolder + "/notes.txt") << "not a port";

  // The USB identity is the device's, not the root hub's above it (1d6b).
  const std::string pts = tree.PtyOf("COM97")->SlavePath().substr(std::string("/dev/").size());
  const std::string pts127 = tree.PtyOf("COM127")->SlavePath().substr(5);
  EXPECT_EQ(Listed(tree.Roots()),
            (std::vector<std::string>{
                "\\Device\\Serial0 | COM1 (ttyS0) | 1 | serial8250 | : ///",
                "\\Device\\Serial2 | COM3 (ttyS2) | 3 | serial8250 | : ///",
                "\\Device\\Serial4 | COM5 (ttyS4) | 5 | serial8250 | : ///",
                "\\Device\\ch341-uart0 | COM33 (ttyUSB0) | 33 | ch341-uart | 1a86:7523 ///00",
                "\\Device\\ftdi_sio31 | COM64 (ttyUSB31) | 64 | ftdi_sio | 0403:6001 ///01",
                "\\Device\\USBSER000 | COM65 (ttyACM0) | 65 | cdc_acm | 1a86:7523 "
                "A1B2C3/QinHeng/USB Serial/00",
                "\\Device\\USBSER012 | COM77 (ttyACM12) | 77 | cdc_acm | 1a86:7523 ///00",
                "\\Device\\USBSER031 | COM96 (ttyACM31) | 96 | cdc_acm | 1a86:7523 ///00",
                "\\Device\\USBSER097 | COM97 (" + pts + ") | 97 |  | : ///",
                "\\Device\\USBSER127 | COM127 (" + pts127 + ") | 127 |  | : ///",
            }));
  const std::vector<ports::PortEntry> entries = ports::ListSerialPorts(tree.Roots());
  EXPECT_EQ(entries[0].node, tree.Roots().dev + "/ttyS0");
  EXPECT_FALSE(entries[0].isVirtual);
  EXPECT_EQ(entries.back().node, tree.PtyOf("COM127")->SlavePath());
  EXPECT_TRUE(entries.back().isVirtual);
}

TEST(PortList, MissingFoldersListNothing) {
  EXPECT_TRUE(Listed({"/nonexistent/class/tty", "/nonexistent/dev", "/nonexistent/ports"}).empty());
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

// Registering takes the lowest free number of COM97..COM127 in a private folder, reuses the link
// of a program that is gone, and unregistering removes only the caller's own link.
TEST(VirtualPorts, RegisterAndUnregister) {
  FakeSysfs tree;
  fake::Pty pty;
  fake::Pty other;
  const std::string folder = tree.Root() + "/runtime/tracker-console/ports";  // not there yet
  const auto link = [&](int number) { return folder + "/COM" + std::to_string(number); };
  const auto reg = [&](int preferred) {
    return ports::RegisterVirtualPort(folder, pty.SlavePath(), preferred);
  };
  ASSERT_TRUE(ports::MakePrivateFolder(folder));
  std::filesystem::create_symlink("/dev/pts/no-such-pty", link(97));
  EXPECT_EQ(reg(0), 97) << "the link of a gone program is reused";
  struct stat info {};
  ASSERT_EQ(::stat(folder.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  EXPECT_EQ(std::filesystem::read_symlink(link(97)), pty.SlavePath());
  EXPECT_EQ(reg(0), 98);
  EXPECT_EQ(reg(120), 120);
  EXPECT_EQ(reg(97), 99) << "the preferred number is taken: the lowest free one instead";
  EXPECT_EQ(reg(5), 100) << "outside 97..127 a preference is ignored";
  for (int number = 101; number <= 127; ++number) {
    if (number != 120) {
      ASSERT_EQ(reg(0), number);
    }
  }
  errno = 0;
  EXPECT_EQ(reg(0), 0);
  EXPECT_EQ(errno, EBUSY);

  ports::UnregisterVirtualPort(folder, 127, other.SlavePath());
  EXPECT_TRUE(std::filesystem::is_symlink(link(127)));
  ports::UnregisterVirtualPort(folder, 127, pty.SlavePath());
  EXPECT_FALSE(std::filesystem::is_symlink(link(127)));

  std::ofstream(tree.Root() + "/file") << "x";
  errno = 0;
  EXPECT_EQ(ports::RegisterVirtualPort(tree.Root() + "/file/ports", pty.SlavePath()), 0);
  EXPECT_EQ(errno, ENOTDIR);
}

TEST(PortHolders, FindsTheProcessHoldingTheDevice) {
  std::string command;
  std::getline(std::ifstream("/proc/self/comm"), command);
  FakeSysfs tree;
  tree.AddAcm(0);
  tree.AddAcm(1);
  tree.HoldNode("ttyACM0");
  // Through the dev folder's link as well as by the pseudo-terminal's own path.
  for (const std::string& node : {tree.NodePath("ttyACM0"), tree.PtyOf("ttyACM0")->SlavePath()}) {
    const std::vector<ports::PortHolder> holders = ports::FindOtherPortHolders(node, -1);
    ASSERT_EQ(holders.size(), 1u) << node;
    EXPECT_EQ(holders[0].pid, ::getpid());
    EXPECT_EQ(holders[0].command, command);
  }
  EXPECT_TRUE(ports::FindOtherPortHolders(tree.NodePath("ttyACM1"), -1).empty());
  EXPECT_TRUE(ports::FindOtherPortHolders(tree.Root() + "/no-such-node", -1).empty());
  EXPECT_TRUE(ports::IsProcessRunning(command));
  EXPECT_FALSE(ports::IsProcessRunning("no-such-command"));
}

}  // namespace

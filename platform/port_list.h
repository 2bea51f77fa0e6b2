#pragma once
// The serial ports the system lists, as (device path, port name) pairs ordered by port number.
//
// Built from the kernel's tty class (the sysfs tree libudev reads) and from the virtual ports
// registered as links in the runtime ports folder. Device paths use driver-style names so that
// "USBSER" marks a tracker: ttyACM<n> -> \Device\USBSER<nnn>, ttyS<n> -> \Device\Serial<n>,
// ttyUSB<n> -> \Device\<driver><n>, virtual port -> \Device\USBSER<nnn>. Port names read
// "COM<n> (<node>)".

#include <string>
#include <vector>

#include "platform/port_numbers.h"

namespace ports {

// COM numbers of the virtual ports (links COM97..COM127 in the ports folder).

struct PortEntry {
  std::string devicePath;  // \Device\USBSER000
  std::string portName;    // COM65 (ttyACM0)
  std::string node;        // /dev/ttyACM0, or the virtual port's link target
  int portNumber = 0;      // 65
  std::string driver;      // "cdc_acm", "ch341-uart", ... (empty for virtual ports)
  // USB identity where the port has one (empty otherwise).
  std::string usbVendorId;   // "1a86"
  std::string usbProductId;  // "7523"
  std::string usbSerial;
  std::string usbInterface;  // "00"
  std::string usbManufacturer;
  std::string usbProduct;
  bool isVirtual = false;
  // What a pinned port is remembered by across replugging and restarts:
  // /dev/serial/by-id/... where udev made one, else the node; COM<n> for a virtual port.
  std::string stableName;
};

struct PortListRoots {
  std::string sysClassTty = "/sys/class/tty";  // tests point these at fake trees
  std::string dev = "/dev";
  std::string portsFolder;  // the runtime ports folder (serial::PortsFolder())
  // The folder's links are taken only from a folder of ours nobody else may write (see
  // PrivateFolderProblem): a fake tracker planted there would get the operator's commands.
  bool portsFolderMustBePrivate = false;
};

// Why `folder` (and the folder it sits in) is not private: not a real folder (a symbolic link,
// a file), not owned by us, or open to others (mode other than 0700). Empty when it is
// private or does not exist.
std::string PrivateFolderProblem(const std::string& folder);

// Every port found, ordered by port number (stable). Unreadable entries are skipped.
std::vector<PortEntry> ListSerialPorts(const PortListRoots& roots);

// The number after a port name's first three characters, read like atoi: "COM12" -> 12,
// "COM65 (ttyACM0)" -> 65, "COMx" -> 0. Out of int range reads 0.
int PortNumberOfName(const std::string& portName);

// Registers a virtual port: creates <portsFolder>/COM<n> -> target for the lowest free n in
// 97..127 (or `preferred` if free), creating the folder (mode 0700) when needed. A link whose
// target no longer exists is taken as left over and reused. Returns n, or 0 with errno set
// (EBUSY when every number is taken).
int RegisterVirtualPort(const std::string& portsFolder, const std::string& target,
                        int preferred = 0);
// Removes the link of COM<n> (only if it still points at `target`).
void UnregisterVirtualPort(const std::string& portsFolder, int portNumber,
                           const std::string& target);

// Creates `folder` and its missing parents with mode 0700. False with errno set on failure.
bool MakePrivateFolder(const std::string& folder);

// A process holding a device open, as far as this user may see.
struct PortHolder {
  int pid = 0;
  std::string command;   // its /proc/<pid>/comm
  bool ptyPeer = false;  // it holds the master of the pseudo-terminal (the device's side)
};

// Who has `node` (a device node, or a link to one) open, looking through <procRoot>/*/fd,
// apart from our own descriptor `ownFd` (-1: none; our process then counts too). Processes
// whose descriptors this user cannot read are not seen. For a pseudo-terminal the processes
// holding its master are marked ptyPeer (the device's own side, as tracker-sim is for its
// virtual port, which keeps the other end open too).
std::vector<PortHolder> FindOtherPortHolders(const std::string& node, int ownFd,
                                             const std::string& procRoot = "/proc");

// True when some process visible in <procRoot> runs under the command name `command`.
bool IsProcessRunning(const std::string& command, const std::string& procRoot = "/proc");

}  // namespace ports

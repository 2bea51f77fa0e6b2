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

namespace ports {

struct PortEntry {
  std::string devicePath;  // \Device\USBSER000
  std::string portName;    // COM65 (ttyACM0)
  std::string node;        // /dev/ttyACM0, or the virtual port's link target
  int portNumber = 0;      // 65
  // USB identity where the port has one (empty otherwise).
  std::string usbVendorId;   // "1a86"
  std::string usbProductId;  // "7523"
  std::string usbSerial;
  std::string usbInterface;  // "00"
  std::string usbManufacturer;
  std::string usbProduct;
  bool isVirtual = false;
};

struct PortListRoots {
  std::string sysClassTty = "/sys/class/tty";  // tests point these at fake trees
  std::string dev = "/dev";
  std::string portsFolder;  // the runtime ports folder (serial::PortsFolder())
};

// Every port found, ordered by port number (stable). Unreadable entries are skipped.
std::vector<PortEntry> ListSerialPorts(const PortListRoots& roots);

// Registers a virtual port: creates <portsFolder>/COM<n> -> target for the lowest free n in
// 97..127 (or `preferred` if free). Returns n, or 0 with errno set.
int RegisterVirtualPort(const std::string& portsFolder, const std::string& target, int preferred = 0);
// Removes the link of COM<n> (only if it still points at `target`).
void UnregisterVirtualPort(const std::string& portsFolder, int portNumber, const std::string& target);

}  // namespace ports

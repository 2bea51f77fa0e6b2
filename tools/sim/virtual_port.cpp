#include "tools/sim/virtual_port.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/port_list.h"
#include "platform/serial_io.h"

namespace sim {
namespace {

std::string SystemError(const std::string& what) {
  return what + ": " + serial::ErrnoText(errno);
}

// Raw bytes both ways: no echo of what the tracker sends back into its own input, no line
// editing, no CR/LF translation.
bool MakeRaw(int fd) {
  termios settings{};
  if (tcgetattr(fd, &settings) != 0) return false;
  cfmakeraw(&settings);
  cfsetispeed(&settings, B115200);
  cfsetospeed(&settings, B115200);
  return tcsetattr(fd, TCSANOW, &settings) == 0;
}

}  // namespace

VirtualPort::~VirtualPort() {
  Unplug();
}

bool VirtualPort::Plug(const std::string& portsFolder, int preferred, std::string* error) {
  Unplug();
  if (!OpenPty(error)) return false;
  const int number = ports::RegisterVirtualPort(portsFolder, slavePath_, preferred);
  if (number == 0) {
    *error = SystemError("cannot register a port in " + portsFolder);
    ClosePty();
    return false;
  }
  portsFolder_ = portsFolder;
  portNumber_ = number;
  return true;
}

void VirtualPort::Unplug() {
  if (portNumber_ != 0) ports::UnregisterVirtualPort(portsFolder_, portNumber_, slavePath_);
  portNumber_ = 0;
  ClosePty();
}

bool VirtualPort::OpenPty(std::string* error) {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (master_ < 0) {
    *error = SystemError("posix_openpt");
    return false;
  }
  char name[128] = {};
  if (grantpt(master_) != 0 || unlockpt(master_) != 0 ||
      ptsname_r(master_, name, sizeof name) != 0) {
    *error = SystemError("pseudo-terminal setup");
    ClosePty();
    return false;
  }
  slavePath_ = name;
  slave_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (slave_ < 0 || !MakeRaw(slave_)) {
    *error = SystemError("cannot open " + slavePath_);
    ClosePty();
    return false;
  }
  return true;
}

void VirtualPort::ClosePty() {
  if (slave_ >= 0) close(slave_);
  if (master_ >= 0) close(master_);
  slave_ = -1;
  master_ = -1;
  slavePath_.clear();
}

}  // namespace sim

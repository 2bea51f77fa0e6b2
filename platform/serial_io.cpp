#include "platform/serial_io.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/port_numbers.h"

namespace serial {
namespace {

using ports::kFirstAcmPort;
using ports::kFirstUartPort;
using ports::kFirstUsbSerialPort;
using ports::kFirstVirtualPort;
using ports::kLastVirtualPort;
using ports::kPortsPerKind;

// strerror_r comes in two flavours (GNU returns a pointer, XSI fills the buffer); these pick
// the text from whichever one the C library gives us.
[[maybe_unused]] const char* PickErrorText(const char* gnuResult, const char* /*buffer*/) {
  return gnuResult;
}
[[maybe_unused]] const char* PickErrorText(int xsiResult, const char* buffer) {
  return xsiResult == 0 ? buffer : "";
}

std::optional<speed_t> SpeedForBaud(unsigned baud) {
  static constexpr std::array<std::pair<unsigned, speed_t>, 30> kSpeeds = {{
      {50, B50},           {75, B75},           {110, B110},         {134, B134},
      {150, B150},         {200, B200},         {300, B300},         {600, B600},
      {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
      {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
      {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
      {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
      {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
      {3500000, B3500000}, {4000000, B4000000},
  }};
  for (const auto& [value, speed] : kSpeeds) {
    if (value == baud) return speed;
  }
  return std::nullopt;
}

std::optional<tcflag_t> ParityFlags(char parity) {
  switch (std::toupper(static_cast<unsigned char>(parity))) {
    case 'N':
      return tcflag_t{0};
    case 'E':
      return tcflag_t{PARENB};
    case 'O':
      return tcflag_t{PARENB | PARODD};
    case 'M':
      return tcflag_t{PARENB | PARODD | CMSPAR};
    case 'S':
      return tcflag_t{PARENB | CMSPAR};
    default:
      return std::nullopt;
  }
}

std::optional<tcflag_t> SizeFlags(int dataBits) {
  switch (dataBits) {
    case 5:
      return tcflag_t{CS5};
    case 6:
      return tcflag_t{CS6};
    case 7:
      return tcflag_t{CS7};
    case 8:
      return tcflag_t{CS8};
    default:
      return std::nullopt;
  }
}

PortStatus StatusForErrno(int errorCode) {
  switch (errorCode) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR:
    case ENOTTY:  // something that is not a serial device sits at the port's path
      return PortStatus::kNoDevice;
    case EBUSY:
    case EWOULDBLOCK:
      return PortStatus::kBusy;
    case EACCES:
    case EPERM:
      return PortStatus::kNotPermitted;
    case EIO:
      return PortStatus::kGone;
    default:
      return PortStatus::kSystemError;
  }
}

int Fail(PortError* error, const std::string& device, PortStatus status, int errorCode) {
  if (error != nullptr) *error = PortError{status, errorCode, device};
  return -1;
}

// `fd` is closed plainly when we never made the tty exclusive: the flag may be another
// holder's, and clearing it would let a third program in under them.
int FailWithErrno(PortError* error, const std::string& device, int fd, bool madeExclusive) {
  const int saved = errno;
  if (madeExclusive) {
    CloseSerialDevice(fd);
  } else if (fd >= 0) {
    close(fd);
  }
  return Fail(error, device, StatusForErrno(saved), saved);
}

// Raw bytes both ways at the requested line settings: no echo, no line editing, no character
// translation, no software or hardware flow control.
bool ApplyLineSettings(int fd, speed_t speed, tcflag_t parity, tcflag_t size, int stopBits) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) return false;
  cfmakeraw(&tio);
  tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  tio.c_cflag |= size | parity | CLOCAL | CREAD;
  if (stopBits == 2) tio.c_cflag |= CSTOPB;
  // VMIN 1: with O_NONBLOCK an empty port then reads as EAGAIN, so a zero-byte read can only
  // mean the device is gone.
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  if (cfsetispeed(&tio, speed) != 0 || cfsetospeed(&tio, speed) != 0) return false;
  return tcsetattr(fd, TCSANOW, &tio) == 0;
}

// Pseudo-terminals have no modem lines and refuse the request; that is no failure.
bool AssertRtsAndDtr(int fd) {
  int lines = TIOCM_RTS | TIOCM_DTR;
  if (ioctl(fd, TIOCMBIS, &lines) == 0) return true;
  return errno == ENOTTY || errno == EINVAL;
}

}  // namespace

std::string ErrnoText(int errorCode) {
  char buffer[256] = {};
  const char* text = PickErrorText(strerror_r(errorCode, buffer, sizeof buffer), buffer);
  if (text == nullptr || *text == '\0') return "Unknown error " + std::to_string(errorCode);
  return text;
}

std::optional<std::string> DevicePathForPort(int portNumber, const std::string& devFolder,
                                             const std::string& portsFolder) {
  auto inRange = [portNumber](int first) {
    return portNumber >= first && portNumber < first + kPortsPerKind;
  };
  if (inRange(kFirstUartPort)) return devFolder + "/ttyS" + std::to_string(portNumber - 1);
  if (inRange(kFirstUsbSerialPort)) {
    return devFolder + "/ttyUSB" + std::to_string(portNumber - kFirstUsbSerialPort);
  }
  if (inRange(kFirstAcmPort)) {
    return devFolder + "/ttyACM" + std::to_string(portNumber - kFirstAcmPort);
  }
  if (portNumber >= kFirstVirtualPort && portNumber <= kLastVirtualPort) {
    return portsFolder + "/COM" + std::to_string(portNumber);
  }
  return std::nullopt;
}

int OpenSerialDeviceUntouched(const std::string& device, PortError* error) {
  const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return FailWithErrno(error, device, -1, false);
  if (error != nullptr) *error = PortError{PortStatus::kOk, 0, device};
  return fd;
}

bool TakeSerialDevice(int fd, const std::string& device, const LineSettings& settings,
                      PortError* error) {
  const std::optional<speed_t> speed = SpeedForBaud(settings.baud);
  const std::optional<tcflag_t> parity = ParityFlags(settings.parity);
  const std::optional<tcflag_t> size = SizeFlags(settings.dataBits);
  if (!speed || !parity || !size || !IsValidLineSettings(settings)) {
    close(fd);
    Fail(error, device, PortStatus::kBadArgument, 0);
    return false;
  }
  // Two locks, because each covers a gap in the other. TIOCEXCL makes the kernel refuse every
  // later open() of the tty, but a process with CAP_SYS_ADMIN passes it anyway. flock() is
  // only advisory, yet it holds against root too and is what other terminal programs check.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0) {
    FailWithErrno(error, device, fd, false);
    return false;
  }

  if (!ApplyLineSettings(fd, *speed, *parity, *size, settings.stopBits) || !AssertRtsAndDtr(fd) ||
      tcflush(fd, TCIOFLUSH) != 0) {
    FailWithErrno(error, device, fd, true);
    return false;
  }
  if (error != nullptr) *error = PortError{PortStatus::kOk, 0, device};
  return true;
}

bool IsValidLineSettings(const LineSettings& settings) {
  return SpeedForBaud(settings.baud) && ParityFlags(settings.parity) &&
         SizeFlags(settings.dataBits) && (settings.stopBits == 1 || settings.stopBits == 2);
}

int OpenSerialDevice(const std::string& device, const LineSettings& settings, PortError* error) {
  if (!IsValidLineSettings(settings)) return Fail(error, device, PortStatus::kBadArgument, 0);
  const int fd = OpenSerialDeviceUntouched(device, error);
  if (fd < 0) return -1;
  return TakeSerialDevice(fd, device, settings, error) ? fd : -1;
}

void CloseSerialDevice(int fd) {
  if (fd < 0) return;
  // The exclusive flag lives on the tty, not the descriptor: a pseudo-terminal keeps it after
  // we close, which would lock out the next user that is not root.
  ioctl(fd, TIOCNXCL);
  close(fd);
}

WakeSignal::WakeSignal() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

WakeSignal::~WakeSignal() {
  if (fd_ >= 0) close(fd_);
}

void WakeSignal::Set() {
  if (fd_ < 0) return;
  const std::uint64_t one = 1;
  // A full counter (EAGAIN) is still a set signal.
  while (write(fd_, &one, sizeof one) < 0 && errno == EINTR) {
  }
}

void WakeSignal::Reset() {
  if (fd_ < 0) return;
  std::uint64_t count = 0;
  while (read(fd_, &count, sizeof count) < 0 && errno == EINTR) {
  }
}

bool WakeSignal::IsSet() const {
  if (fd_ < 0) return false;
  pollfd entry{fd_, POLLIN, 0};
  return poll(&entry, 1, 0) == 1 && (entry.revents & POLLIN) != 0;
}

std::string PortsFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && *runtime != '\0') {
    return std::string(runtime) + "/tracker-console/ports";
  }
  return "/tmp/tracker-console-" + std::to_string(getuid()) + "/ports";
}

}  // namespace serial

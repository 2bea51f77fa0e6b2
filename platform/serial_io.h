#pragma once
// The operating-system side of serial I/O on Linux: mapping a port number to its device node,
// opening it exclusively and raw, and the small pieces the monitor thread waits on.
//
// Errors come back as values: a closed set of statuses plus the system's errno, turned into
// text with the system's own description.

#include <cstdint>
#include <optional>
#include <string>

namespace serial {

enum class PortStatus {
  kOk,
  kNoDevice,      // no device behind that port number (ENOENT, ENODEV, ENXIO)
  kBusy,          // held by another program (flock/TIOCEXCL: EWOULDBLOCK, EBUSY)
  kNotPermitted,  // EACCES, EPERM: typically the user is not in the dialout group
  kBadArgument,   // unsupported baud rate, parity, data or stop bits
  kGone,          // the device went away (EIO, POLLHUP)
  kUnsafeLock,    // something that is not a lock file sits at the port's lock name
  kSystemError,   // anything else; see errorCode
};

struct PortError {
  PortStatus status = PortStatus::kOk;
  int errorCode = 0;        // errno, 0 when not from the system
  std::string device;       // the device node involved, when known
  int holderPid = 0;        // kBusy: the process named by the port's lock file, when known
  std::string detail = {};  // kUnsafeLock: what sits there ("/run/lock/LCK..ttyACM0: FIFO")
  [[nodiscard]] bool ok() const { return status == PortStatus::kOk; }
};

// The system's description of an errno value ("Permission denied"), never empty.
std::string ErrnoText(int errorCode);

// COM1-32 -> <devFolder>/ttyS0-31, COM33-64 -> ttyUSB0-31, COM65-96 -> ttyACM0-31,
// COM97-127 -> the link <portsFolder>/COM<n> (opening follows it). Anything else: nullopt.
// devFolder is "/dev" in the product; tests point it at a folder of their own.
std::optional<std::string> DevicePathForPort(int portNumber, const std::string& devFolder,
                                             const std::string& portsFolder);

struct LineSettings {
  unsigned baud = 115200;
  char parity = 'N';  // N, E, O, M, S
  int dataBits = 8;   // 5..8
  int stopBits = 1;   // 1 or 2
};

[[nodiscard]] bool IsValidLineSettings(const LineSettings& settings);

// Opens `device` non-blocking and close-on-exec, and does nothing else to it: no lock, no
// ioctl, no settings, no flush. Whoever holds it already keeps it as it is, so the caller can
// look at the other holders before TakeSerialDevice. -1 with *error filled.
int OpenSerialDeviceUntouched(const std::string& device, PortError* error);

// Takes a descriptor from OpenSerialDeviceUntouched: exclusively (flock + TIOCEXCL), raw, with
// the settings, no XON/XOFF or hardware flow control, RTS and DTR asserted, both queues purged.
// On failure the descriptor is closed (with the exclusive flag untouched when it was not ours
// yet) and *error filled.
bool TakeSerialDevice(int fd, const std::string& device, const LineSettings& settings,
                      PortError* error);

// Both of the above in one: the descriptor, or -1 with *error filled.
int OpenSerialDevice(const std::string& device, const LineSettings& settings, PortError* error);

// Closes a descriptor from OpenSerialDevice (releases the lock). Safe with -1.
void CloseSerialDevice(int fd);

// A manual-reset wake-up signal that poll() can wait on (an eventfd). Set from any thread.
class WakeSignal {
 public:
  WakeSignal();
  ~WakeSignal();
  WakeSignal(const WakeSignal&) = delete;
  WakeSignal& operator=(const WakeSignal&) = delete;
  void Set();
  void Reset();
  [[nodiscard]] bool IsSet() const;
  [[nodiscard]] int fd() const { return fd_; }

 private:
  int fd_;
};

// The console's runtime folder for virtual ports: $XDG_RUNTIME_DIR/tracker-console/ports, or
// /tmp/tracker-console-<uid>/ports without it. Created (mode 0700) on demand by the callers
// that register ports; this only names it.
std::string PortsFolder();

}  // namespace serial

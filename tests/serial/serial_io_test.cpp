// The port layer against real pseudo-terminals: naming, opening, line settings, exclusivity.

#include "platform/serial_io.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "tests/serial/serial_fixture.h"

namespace {

TEST(DevicePathForPort, MapsEachNumberRangeToItsDevice) {
  struct Row {
    const char* what;
    int port;
    std::optional<std::string> path;
  };
  const Row rows[] = {
      {"below the first number", 0, std::nullopt},
      {"first UART", 1, "/d/ttyS0"},
      {"last UART", 32, "/d/ttyS31"},
      {"first USB adapter", 33, "/d/ttyUSB0"},
      {"last USB adapter", 64, "/d/ttyUSB31"},
      {"first CDC ACM", 65, "/d/ttyACM0"},
      {"last CDC ACM", 96, "/d/ttyACM31"},
      {"first virtual port", 97, "/p/COM97"},
      {"last virtual port", 127, "/p/COM127"},
      {"above the last number", 128, std::nullopt},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(serial::DevicePathForPort(row.port, "/d", "/p"), row.path) << row.what;
  }
}

TEST(PortsFolder, FollowsTheRuntimeFolderOrFallsBackToTmp) {
  const char* saved = std::getenv("XDG_RUNTIME_DIR");
  const std::string restore = saved != nullptr ? saved : "";
  setenv("XDG_RUNTIME_DIR", "/run/user/4242", 1);
  EXPECT_EQ(serial::PortsFolder(), "/run/user/4242/tracker-console/ports");
  unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(serial::PortsFolder(), "/tmp/tracker-console-" + std::to_string(getuid()) + "/ports");
  if (saved != nullptr) setenv("XDG_RUNTIME_DIR", restore.c_str(), 1);
}

TEST(WakeSignal, StaysSetUntilReset) {
  serial::WakeSignal signal;
  ASSERT_GE(signal.fd(), 0);
  EXPECT_FALSE(signal.IsSet());
  signal.Set();
  signal.Set();
  EXPECT_TRUE(signal.IsSet());
  EXPECT_TRUE(signal.IsSet()) << "looking must not clear it";
  signal.Reset();
  EXPECT_FALSE(signal.IsSet());
}

class SerialIoTest : public SerialTest {};

TEST_F(SerialIoTest, AppliesTheRequestedLineSettingsRaw) {
  struct Row {
    serial::LineSettings settings;
    speed_t speed;
    tcflag_t parity;  // PARENB | PARODD | CMSPAR bits expected
    bool twoStopBits;
  };
  const Row rows[] = {
      {{115200, 'N', 8, 1}, B115200, 0, false},
      {{9600, 'E', 7, 2}, B9600, PARENB, true},
      {{57600, 'O', 8, 1}, B57600, PARENB | PARODD, false},
      {{4800, 'm', 6, 1}, B4800, PARENB | PARODD | CMSPAR, false},
      {{921600, 'S', 5, 2}, B921600, PARENB | CMSPAR, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.settings.baud);
    serial::PortError error;
    const int fd = serial::OpenSerialDevice(peer.LinkPath(), row.settings, &error);
    ASSERT_GE(fd, 0) << serial::ErrnoText(error.errorCode);
    EXPECT_TRUE(error.ok());
    termios tio{};
    ASSERT_EQ(tcgetattr(peer.MasterFd(), &tio), 0);  // the master shows the slave's settings
    EXPECT_EQ(cfgetospeed(&tio), row.speed);
    // A pseudo-terminal forces CS8 and clears PARENB whatever is asked; the rest of the
    // parity choice and the stop bits show.
    EXPECT_EQ(tio.c_cflag & (PARODD | CMSPAR), row.parity & (PARODD | CMSPAR));
    EXPECT_EQ((tio.c_cflag & CSTOPB) != 0, row.twoStopBits);
    EXPECT_EQ(tio.c_cflag & CRTSCTS, 0u) << "no hardware flow control";
    EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP), 0u) << "no XON/XOFF, bytes as sent";
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
    EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
    EXPECT_NE(fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
    serial::CloseSerialDevice(fd);
  }
}

TEST_F(SerialIoTest, RefusesSettingsItCannotApplyWithoutOpening) {
  struct Row {
    const char* what;
    serial::LineSettings settings;
  };
  const Row rows[] = {
      {"unknown baud rate", {12345, 'N', 8, 1}}, {"zero baud", {0, 'N', 8, 1}},
      {"unknown parity", {115200, 'X', 8, 1}},   {"nine data bits", {115200, 'N', 9, 1}},
      {"four data bits", {115200, 'N', 4, 1}},   {"three stop bits", {115200, 'N', 8, 3}},
  };
  for (const Row& row : rows) {
    serial::PortError error;
    EXPECT_EQ(serial::OpenSerialDevice(peer.LinkPath(), row.settings, &error), -1) << row.what;
    EXPECT_EQ(error.status, serial::PortStatus::kBadArgument) << row.what;
  }
  // Nothing was left holding the port.
  serial::PortError error;
  const int fd = serial::OpenSerialDevice(peer.LinkPath(), {}, &error);
  EXPECT_GE(fd, 0);
  serial::CloseSerialDevice(fd);
}

TEST_F(SerialIoTest, NamesWhyAnOpenFailed) {
  serial::PortError error;
  EXPECT_EQ(serial::OpenSerialDevice(portsFolder + "/COM120", {}, &error), -1);
  EXPECT_EQ(error.status, serial::PortStatus::kNoDevice);
  EXPECT_EQ(error.errorCode, ENOENT);
  EXPECT_EQ(error.device, portsFolder + "/COM120");

  const std::string plainFile = (folder / "not-a-tty").string();
  close(open(plainFile.c_str(), O_CREAT | O_WRONLY, 0600));
  EXPECT_EQ(serial::OpenSerialDevice(plainFile, {}, &error), -1);
  EXPECT_EQ(error.status, serial::PortStatus::kNoDevice) << serial::ErrnoText(error.errorCode);
}

TEST_F(SerialIoTest, HoldsThePortExclusivelyUntilClosed) {
  serial::PortError error;
  const int fd = serial::OpenSerialDevice(peer.LinkPath(), {}, &error);
  ASSERT_GE(fd, 0);

  serial::PortError second;
  EXPECT_EQ(serial::OpenSerialDevice(peer.SlavePath(), {}, &second), -1);
  EXPECT_EQ(second.status, serial::PortStatus::kBusy);

  // Another program that checks the lock: refused by TIOCEXCL, or (as root) by the flock.
  const int plain = open(peer.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (plain >= 0) {
    EXPECT_NE(flock(plain, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(errno, EWOULDBLOCK);
    close(plain);
  } else {
    EXPECT_EQ(errno, EBUSY);
  }

  serial::CloseSerialDevice(fd);
  const int again = serial::OpenSerialDevice(peer.SlavePath(), {}, &error);
  EXPECT_GE(again, 0) << serial::ErrnoText(error.errorCode);
  serial::CloseSerialDevice(again);
}

TEST_F(SerialIoTest, DiscardsWhatCameBeforeTheOpenAndReadsAnEmptyPortAsEagain) {
  ASSERT_TRUE(peer.Write("stale"));
  serial::PortError error;
  const int fd = serial::OpenSerialDevice(peer.LinkPath(), {}, &error);
  ASSERT_GE(fd, 0);
  char bytes[16];
  EXPECT_EQ(read(fd, bytes, sizeof bytes), -1) << "zero bytes would read as a hang-up";
  EXPECT_EQ(errno, EAGAIN);
  ASSERT_TRUE(peer.Write("fresh"));
  pollfd readable{fd, POLLIN, 0};
  ASSERT_EQ(poll(&readable, 1, static_cast<int>(kPatience.count())), 1);
  const ssize_t got = read(fd, bytes, sizeof bytes);
  EXPECT_EQ(std::string(bytes, static_cast<std::size_t>(std::max<ssize_t>(got, 0))), "fresh");
  serial::CloseSerialDevice(fd);
}

}  // namespace

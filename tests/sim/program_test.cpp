// The real tracker-sim program: it registers a link to a live pseudo-terminal, answers
// through it, hangs up on an unplug, comes back under the same number, and cleans up on
// SIGTERM.

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "link/frame_decoder.h"
#include "link/frame_encoder.h"
#include "platform/serial_io.h"
#include "tests/support/console_harness.h"

namespace {

constexpr int kPatienceMs = 10000;

// The console's end: the port opened through the link as the console opens it, read with the
// console's decoder.
class ConsoleEnd {
 public:
  explicit ConsoleEnd(const std::string& link) : fd_(serial::OpenSerialDevice(link, {}, &error_)) {}
  ~ConsoleEnd() { serial::CloseSerialDevice(fd_); }
  ConsoleEnd(const ConsoleEnd&) = delete;
  ConsoleEnd& operator=(const ConsoleEnd&) = delete;

  // Sends a request; the first payload that comes back, or "" when none does.
  std::string Ask(const std::string& command) const {
    const devlink::StuffedFrame frame = devlink::EncodeUartCommand(command);
    const auto length = static_cast<std::size_t>(frame.length);
    if (fd_ < 0 || write(fd_, frame.bytes.data(), length) != static_cast<ssize_t>(length)) {
      return "";
    }
    devlink::FrameDecoder decoder;
    std::string payload;
    std::uint8_t chunk[512];
    while (payload.empty()) {
      pollfd fd{fd_, POLLIN, 0};
      if (poll(&fd, 1, kPatienceMs) <= 0) return "";
      const ssize_t n = read(fd_, chunk, sizeof chunk);
      if (n <= 0) return "";
      devlink::DecodeChunk(decoder, chunk, static_cast<int>(n),
                           [&](const devlink::DecodedFrame& f) {
                             if (payload.empty()) payload = f.text;
                           });
    }
    return payload;
  }

  // Waits for the hang-up an unplugged tracker gives.
  bool WaitForHangUp() const {
    std::uint8_t chunk[512];
    for (pollfd fd{fd_, POLLIN, 0}; poll(&fd, 1, kPatienceMs) > 0;) {
      if (fd.revents & (POLLHUP | POLLERR)) return true;
      const ssize_t n = read(fd_, chunk, sizeof chunk);
      if (n == 0 || (n < 0 && errno == EIO)) return true;
    }
    return false;
  }

 private:
  serial::PortError error_;
  int fd_;
};

bool Exists(const std::string& link) {
  std::error_code error;
  return std::filesystem::exists(std::filesystem::symlink_status(link, error));
}

std::string LinkTarget(const std::string& link) {
  std::error_code error;
  return std::filesystem::read_symlink(link, error).string();
}

class TrackerSimProgram : public testing::Test {
 protected:
  std::string LinkOf(int number) const {
    return folders_.Roots().portsFolder + "/COM" + std::to_string(number);
  }
  const std::string& Ports() const { return folders_.Roots().portsFolder; }

  PortFolders folders_;
};

TEST_F(TrackerSimProgram, RegistersAnswersThroughItsLinkAndCleansUpOnSigterm) {
  SimProcess sim(TC_SIM_PATH, Ports(), Quiet({"--firmware", "T-42", "--port-number", "101"}));
  const std::string link = LinkOf(101);
  const std::optional<std::string> plugged = sim.WaitForLine(" -> ");
  EXPECT_EQ(plugged, "tracker-sim: COM101 -> " + LinkTarget(link));

  EXPECT_EQ(ConsoleEnd(link).Ask("ver,?"), "AT+uart:ver,T-42#");
  // The console closes and reopens the port (as its scan does): the tracker is still there.
  EXPECT_EQ(ConsoleEnd(link).Ask("imei,?"), "AT+uart:imei,860000123456781#");

  EXPECT_EQ(sim.Stop(), 0);
  EXPECT_FALSE(Exists(link));
  EXPECT_EQ(sim.WaitForLine(""), "tracker-sim: COM101 unplugged");
}

TEST_F(TrackerSimProgram, UnplugHangsUpAndReplugComesBackUnderTheSameNumber) {
  SimProcess sim(TC_SIM_PATH, Ports(), Quiet());
  const int number = sim.WaitForPlug();
  ASSERT_NE(number, 0);
  const std::string link = LinkOf(number);
  ConsoleEnd console(link);

  sim.Signal(SIGUSR1);
  EXPECT_TRUE(console.WaitForHangUp());
  EXPECT_EQ(sim.WaitForLine(""), "tracker-sim: COM" + std::to_string(number) + " unplugged");
  EXPECT_FALSE(Exists(link));

  sim.Signal(SIGUSR1);
  const std::optional<std::string> replugged = sim.WaitForLine(" -> ");
  EXPECT_EQ(replugged, "tracker-sim: COM" + std::to_string(number) + " -> " + LinkTarget(link));
  EXPECT_EQ(ConsoleEnd(link).Ask("upload,?"), "AT+uart:upload,60#");
  EXPECT_EQ(sim.Stop(), 0);
}

TEST_F(TrackerSimProgram, RefusesWhatItCannotDo) {
  const struct {
    const char* description;
    std::vector<std::string> arguments;
    int status;
  } rows[] = {
      {"an unknown option", {"--frobnicate"}, 2},
      {"a port number outside the virtual range", {"--port-number", "5"}, 2},
      {"a preset the reply grammar cannot carry", {"--imei", "1,2"}, 2},
      {"a missing value", {"--seed"}, 2},
      {"an NMEA file that is not there", {"--nmea", "/nonexistent/file.nmea"}, 1},
  };
  for (const auto& row : rows) {
    SimProcess sim(TC_SIM_PATH, Ports(), row.arguments);
    EXPECT_EQ(sim.WaitForExit(), row.status) << row.description;
  }
}

}  // namespace

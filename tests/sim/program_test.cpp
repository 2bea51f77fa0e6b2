// The real tracker-sim program: it registers a link to a live pseudo-terminal, answers
// through it, hangs up on an unplug, comes back, and cleans up on SIGTERM.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "link/frame_decoder.h"
#include "link/frame_encoder.h"
#include "tools/sim/nmea_drive.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
constexpr auto kPatience = 10s;

int MillisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

std::string TempFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tc-sim-XXXXXX").string();
  const char* made = mkdtemp(pattern.data());
  return made != nullptr ? pattern : std::string();
}

// tracker-sim as a child process with its stdout in a pipe.
class SimProcess {
 public:
  explicit SimProcess(std::vector<std::string> arguments) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    arguments.insert(arguments.begin(), TC_SIM_PATH);
    std::vector<char*> argv;
    for (std::string& a : arguments) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, TC_SIM_PATH, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    stdout_ = pipeFds[0];
  }
  ~SimProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (stdout_ >= 0) close(stdout_);
  }
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  [[nodiscard]] bool started() const { return pid_ > 0; }
  void Signal(int signal) const { kill(pid_, signal); }

  // The next line the program prints, or nullopt if none comes in time.
  std::optional<std::string> NextLine() {
    const Clock::time_point deadline = Clock::now() + kPatience;
    while (true) {
      const std::size_t end = buffered_.find('\n');
      if (end != std::string::npos) {
        std::string line = buffered_.substr(0, end);
        buffered_.erase(0, end + 1);
        return line;
      }
      pollfd fd{stdout_, POLLIN, 0};
      if (poll(&fd, 1, MillisecondsLeft(deadline)) <= 0) return std::nullopt;
      char chunk[256];
      const ssize_t n = read(stdout_, chunk, sizeof chunk);
      if (n <= 0) return std::nullopt;
      buffered_.append(chunk, static_cast<std::size_t>(n));
    }
  }

  // The exit status, or -1 when it did not exit in time or was killed by a signal.
  int WaitForExit() {
    const Clock::time_point deadline = Clock::now() + kPatience;
    while (Clock::now() < deadline) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      poll(nullptr, 0, 20);
    }
    return -1;
  }

 private:
  pid_t pid_ = -1;
  int stdout_ = -1;
  std::string buffered_;
};

// The console's end: the port opened through the link, raw, read with the console's decoder.
class ConsoleEnd {
 public:
  explicit ConsoleEnd(const std::string& link) {
    fd_ = open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios settings{};
    if (fd_ >= 0 && tcgetattr(fd_, &settings) == 0) {
      cfmakeraw(&settings);
      tcsetattr(fd_, TCSANOW, &settings);
    }
  }
  ~ConsoleEnd() {
    if (fd_ >= 0) close(fd_);
  }
  ConsoleEnd(const ConsoleEnd&) = delete;
  ConsoleEnd& operator=(const ConsoleEnd&) = delete;

  [[nodiscard]] bool ok() const { return fd_ >= 0; }

  bool Send(const devlink::StuffedFrame& frame) const {
    return write(fd_, frame.bytes.data(), static_cast<std::size_t>(frame.length)) ==
           static_cast<ssize_t>(frame.length);
  }

  // Reads until a payload satisfies `wanted` (true), the line hangs up or time runs out.
  bool WaitForPayload(const std::function<bool(const std::string&)>& wanted,
                      std::chrono::milliseconds patience = kPatience) {
    const Clock::time_point deadline = Clock::now() + patience;
    bool found = false;
    while (!found) {
      pollfd fd{fd_, POLLIN, 0};
      if (poll(&fd, 1, MillisecondsLeft(deadline)) <= 0 || (fd.revents & POLLIN) == 0) {
        return false;
      }
      std::uint8_t chunk[512];
      const ssize_t n = read(fd_, chunk, sizeof chunk);
      if (n <= 0) return false;
      devlink::DecodeChunk(decoder_, chunk, static_cast<int>(n),
                           [&](const devlink::DecodedFrame& frame) {
                             payloads.emplace_back(frame.text);
                             found = found || wanted(payloads.back());
                           });
    }
    return true;
  }

  // Waits for the hang-up an unplugged tracker gives.
  bool WaitForHangUp() const {
    const Clock::time_point deadline = Clock::now() + kPatience;
    while (true) {
      pollfd fd{fd_, POLLIN, 0};
      if (poll(&fd, 1, MillisecondsLeft(deadline)) <= 0) return false;
      if (fd.revents & (POLLHUP | POLLERR)) return true;
      std::uint8_t chunk[512];
      const ssize_t n = read(fd_, chunk, sizeof chunk);
      if (n == 0 || (n < 0 && errno == EIO)) return true;
    }
  }

  std::vector<std::string> payloads;

 private:
  int fd_ = -1;
  devlink::FrameDecoder decoder_;
};

struct Announcement {
  int portNumber = 0;
  std::string pty;
};

std::optional<Announcement> ParseAnnouncement(const std::optional<std::string>& line) {
  const std::string prefix = "tracker-sim: COM";
  if (!line || !line->starts_with(prefix)) return std::nullopt;
  const std::size_t arrow = line->find(" -> ");
  if (arrow == std::string::npos) return std::nullopt;
  return Announcement{std::atoi(line->c_str() + prefix.size()), line->substr(arrow + 4)};
}

std::string LinkTarget(const std::string& link) {
  std::error_code error;
  return std::filesystem::read_symlink(link, error).string();
}

bool WaitForLinkGone(const std::string& link) {
  const Clock::time_point deadline = Clock::now() + kPatience;
  while (Clock::now() < deadline) {
    std::error_code error;
    if (!std::filesystem::is_symlink(std::filesystem::symlink_status(link, error))) return true;
    poll(nullptr, 0, 20);
  }
  return false;
}

bool Equals(const std::string& expected, const std::string& payload) {
  return payload == expected;
}

class TrackerSimProgram : public testing::Test {
 protected:
  void SetUp() override {
    folder_ = TempFolder();
    ASSERT_FALSE(folder_.empty());
  }
  void TearDown() override {
    std::error_code error;
    std::filesystem::remove_all(folder_, error);
  }
  std::vector<std::string> Arguments(std::vector<std::string> extra) const {
    std::vector<std::string> arguments = {"--ports-folder",
                                          folder_ + "/ports",
                                          "--seed",
                                          "5",
                                          "--status-interval",
                                          "0",
                                          "--log-interval",
                                          "0"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return arguments;
  }
  std::string LinkOf(int number) const { return folder_ + "/ports/COM" + std::to_string(number); }

  std::string folder_;
};

TEST_F(TrackerSimProgram, RegistersAnswersThroughItsLinkAndCleansUpOnSigterm) {
  SimProcess sim(Arguments({"--version", "T-42", "--port-number", "101"}));
  ASSERT_TRUE(sim.started());
  const std::optional<Announcement> announced = ParseAnnouncement(sim.NextLine());
  ASSERT_TRUE(announced.has_value());
  EXPECT_EQ(announced->portNumber, 101);
  const std::string link = LinkOf(101);
  EXPECT_EQ(LinkTarget(link), announced->pty);
  struct stat info {};
  ASSERT_EQ(stat(link.c_str(), &info), 0);
  EXPECT_TRUE(S_ISCHR(info.st_mode));

  {
    ConsoleEnd console(link);
    ASSERT_TRUE(console.ok());
    ASSERT_TRUE(console.Send(devlink::EncodeUartCommand("ver,?")));
    EXPECT_TRUE(console.WaitForPayload(std::bind_front(Equals, "AT+uart:ver,T-42#")));
  }
  // The console closes and reopens the port (as its scan does): the tracker is still there.
  ConsoleEnd again(link);
  ASSERT_TRUE(again.ok());
  ASSERT_TRUE(again.Send(devlink::EncodeUartCommand("imei,?")));
  EXPECT_TRUE(again.WaitForPayload(std::bind_front(Equals, "AT+uart:imei,860000123456781#")));

  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.WaitForExit(), 0);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
  EXPECT_EQ(sim.NextLine(), "tracker-sim: COM101 unplugged");
}

TEST_F(TrackerSimProgram, UnplugHangsUpAndReplugComesBackUnderTheSameNumber) {
  const struct {
    const char* description;
    std::vector<std::string> arguments;
    bool bySignal;
  } rows[] = {
      {"SIGUSR1 toggles", {}, true},
      {"timed unplug and replug", {"--unplug-after", "1", "--replug-after", "1"}, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.description);
    SimProcess sim(Arguments(row.arguments));
    ASSERT_TRUE(sim.started());
    const std::optional<Announcement> first = ParseAnnouncement(sim.NextLine());
    ASSERT_TRUE(first.has_value());
    const std::string link = LinkOf(first->portNumber);
    ConsoleEnd console(link);
    ASSERT_TRUE(console.ok());

    if (row.bySignal) sim.Signal(SIGUSR1);
    EXPECT_TRUE(console.WaitForHangUp());
    EXPECT_TRUE(WaitForLinkGone(link));
    EXPECT_EQ(sim.NextLine(),
              "tracker-sim: COM" + std::to_string(first->portNumber) + " unplugged");

    if (row.bySignal) sim.Signal(SIGUSR1);
    const std::optional<Announcement> second = ParseAnnouncement(sim.NextLine());
    ASSERT_TRUE(second.has_value());
    EXPECT_EQ(second->portNumber, first->portNumber);
    EXPECT_EQ(LinkTarget(link), second->pty);
    ConsoleEnd replugged(link);
    ASSERT_TRUE(replugged.ok());
    ASSERT_TRUE(replugged.Send(devlink::EncodeUartCommand("upload,?")));
    EXPECT_TRUE(replugged.WaitForPayload(std::bind_front(Equals, "AT+uart:upload,60#")));

    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.WaitForExit(), 0);
  }
}

// Frames cut into pieces with pauses and noise between frames: the console's decoder still
// gets every frame whole.
TEST_F(TrackerSimProgram, SplitFramesAndLineNoiseStillDecode) {
  SimProcess sim(Arguments({"--split", "3,12,17", "--garbage"}));
  ASSERT_TRUE(sim.started());
  const std::optional<Announcement> announced = ParseAnnouncement(sim.NextLine());
  ASSERT_TRUE(announced.has_value());
  ConsoleEnd console(LinkOf(announced->portNumber));
  ASSERT_TRUE(console.ok());
  ASSERT_TRUE(console.Send(devlink::EncodeUartCommand("language,?,zone,?")));
  EXPECT_TRUE(console.WaitForPayload(std::bind_front(Equals, "AT+uart:language,1,zone,8#")));
  int groups = 0;
  EXPECT_TRUE(console.WaitForPayload(
      [&](const std::string& p) { return p.starts_with("$GPGGA") && ++groups == 3; }));
  for (const std::string& payload : console.payloads) {
    if (payload.starts_with("$")) {
      EXPECT_TRUE(sim::HasValidNmeaChecksum(payload)) << payload;
    }
  }
  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.WaitForExit(), 0);
}

TEST_F(TrackerSimProgram, WrongChecksumsCostFramesButNotTheNextOnes) {
  SimProcess sim(Arguments({"--bad-checksum-every", "2", "--no-nmea"}));
  ASSERT_TRUE(sim.started());
  const std::optional<Announcement> announced = ParseAnnouncement(sim.NextLine());
  ASSERT_TRUE(announced.has_value());
  ConsoleEnd console(LinkOf(announced->portNumber));
  ASSERT_TRUE(console.ok());
  // Frames 1..4: every second one is lost.
  for (const char* command : {"monitor,?", "upload,?", "ver,?", "imei,?"}) {
    ASSERT_TRUE(console.Send(devlink::EncodeUartCommand(command)));
  }
  EXPECT_TRUE(console.WaitForPayload(std::bind_front(Equals, "AT+uart:ver,TS1.9.0-SIM#")));
  EXPECT_EQ(console.payloads,
            (std::vector<std::string>{"AT+uart:monitor,13600136000#", "AT+uart:ver,TS1.9.0-SIM#"}));
  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.WaitForExit(), 0);
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
    SimProcess sim(Arguments(row.arguments));
    ASSERT_TRUE(sim.started()) << row.description;
    EXPECT_EQ(sim.WaitForExit(), row.status) << row.description;
  }
}

}  // namespace

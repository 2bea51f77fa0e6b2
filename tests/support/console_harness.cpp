#include "tests/support/console_harness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <thread>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// How long the dispatcher runs between two looks at the device notices.
constexpr std::chrono::milliseconds kNoticeLookEvery{10};
// How long a stopped simulator may take to end before it is killed.
constexpr std::chrono::milliseconds kStopGrace{5000};

int MillisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<int>(std::max<long long>(left.count(), 0));
}

std::string MakeTempFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tc-e2e-XXXXXX").string();
  return ::mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
}

ConsoleEnvironment TestEnvironment(const ports::PortListRoots& roots, unsigned settle) {
  return {.roots = roots, .useUdev = false, .settleMilliseconds = settle};
}

}  // namespace

PortFolders::PortFolders() : root_(MakeTempFolder()) {
  roots_.sysClassTty = root_ + "/sys/class/tty";
  roots_.dev = root_ + "/dev";
  roots_.portsFolder = root_ + "/ports";
  if (root_.empty()) return;
  std::error_code error;
  for (const std::string& folder : {roots_.sysClassTty, roots_.dev, roots_.portsFolder}) {
    std::filesystem::create_directories(folder, error);
  }
}

PortFolders::~PortFolders() {
  std::error_code error;
  if (!root_.empty()) std::filesystem::remove_all(root_, error);
}

ConsoleHarness::ConsoleHarness(unsigned settleMilliseconds)
    : logic(state, surface, ui, TestEnvironment(folders_.Roots(), settleMilliseconds)) {}

bool ConsoleHarness::RunUntil(const std::function<bool()>& done,
                              std::chrono::milliseconds timeout) {
  const Clock::time_point deadline = Clock::now() + timeout;
  while (!done()) {
    if (Clock::now() >= deadline) return false;
    const auto step = std::min(
        kNoticeLookEvery, std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()));
    if (ui.RunUntil(done, step)) return true;
    pollfd notices{logic.DeviceNoticeFd(), POLLIN, 0};
    if (notices.fd >= 0 && ::poll(&notices, 1, 0) > 0 && (notices.revents & POLLIN) != 0) {
      logic.OnDeviceNoticesReadable();
    }
  }
  return true;
}

SimProcess::SimProcess(const std::string& program, const std::string& portsFolder,
                       std::vector<std::string> extraArguments) {
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return;
  std::vector<std::string> arguments = {program, "--ports-folder", portsFolder};
  arguments.insert(arguments.end(), extraArguments.begin(), extraArguments.end());
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  // The child starts with no signal blocked, whatever the test's threads have blocked.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
  if (::posix_spawn(&pid_, program.c_str(), &actions, &attributes, argv.data(), environ) != 0) {
    pid_ = -1;
  }
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[1]);
  stdout_ = pipeFds[0];
}

SimProcess::~SimProcess() {
  if (pid_ > 0 && Stop(kStopGrace) < 0 && pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  if (stdout_ >= 0) ::close(stdout_);
}

int SimProcess::WaitForPlug(std::chrono::milliseconds timeout) {
  const std::optional<std::string> line = WaitForLine(" -> ", timeout);
  const std::size_t com = line ? line->find("COM") : std::string::npos;
  return com == std::string::npos ? 0 : std::atoi(line->c_str() + com + 3);
}

std::optional<std::string> SimProcess::WaitForLine(std::string_view fragment,
                                                   std::chrono::milliseconds timeout) {
  const Clock::time_point deadline = Clock::now() + timeout;
  while (stdout_ >= 0) {
    const std::size_t end = buffered_.find('\n');
    if (end != std::string::npos) {
      std::string line = buffered_.substr(0, end);
      buffered_.erase(0, end + 1);
      if (line.find(fragment) != std::string::npos) return line;
      continue;
    }
    pollfd output{stdout_, POLLIN, 0};
    if (::poll(&output, 1, MillisecondsLeft(deadline)) <= 0) return std::nullopt;
    char chunk[256];
    const ssize_t count = ::read(stdout_, chunk, sizeof chunk);
    if (count <= 0) return std::nullopt;
    buffered_.append(chunk, static_cast<std::size_t>(count));
  }
  return std::nullopt;
}

void SimProcess::Signal(int signalNumber) const {
  if (pid_ > 0) ::kill(pid_, signalNumber);
}

int SimProcess::Stop(std::chrono::milliseconds timeout) {
  Signal(SIGTERM);
  const Clock::time_point deadline = Clock::now() + timeout;
  while (pid_ > 0) {
    int status = 0;
    const pid_t ended = ::waitpid(pid_, &status, WNOHANG);
    if (ended == pid_ || (ended < 0 && errno != EINTR)) {  // ended, or not ours to reap
      pid_ = -1;
      return ended > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    if (Clock::now() >= deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return -1;
}

#include "tests/support/console_harness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <thread>

extern char** environ;

namespace {

ConsoleEnvironment TestEnvironment(const fake::FakeSysfs& tree, unsigned settle,
                                   const std::function<void(ConsoleEnvironment&)>& adjust) {
  ConsoleEnvironment environment{tree.Roots(), false, settle};
  environment.lockFolder = tree.Root() + "/lock";
  std::error_code error;
  std::filesystem::create_directories(environment.lockFolder, error);
  if (adjust) adjust(environment);
  return environment;
}

}  // namespace

ConsoleHarness::ConsoleHarness(unsigned settleMilliseconds,
                               const std::function<void(ConsoleEnvironment&)>& adjust)
    : logic(state, surface, ui, TestEnvironment(tree, settleMilliseconds, adjust)) {}

bool ConsoleHarness::RunUntil(const std::function<bool()>& done,
                              std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    if (ui.RunUntil(done, std::chrono::milliseconds(10))) return true;
    // Fired more often than the window does: the logic keeps its own pace.
    if (surface.portWatchInterval > 0) logic.OnPortWatchTimer();
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
  Signal(SIGTERM);
  // Five seconds to clean up its link, then it is killed.
  for (int waited = 0; pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == 0; waited += 10) {
    if (waited == 5000) ::kill(pid_, SIGKILL);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
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
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (stdout_ >= 0) {
    const std::size_t end = buffered_.find('\n');
    if (end != std::string::npos) {
      std::string line = buffered_.substr(0, end);
      buffered_.erase(0, end + 1);
      if (line.find(fragment) != std::string::npos) return line;
      continue;
    }
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd output{stdout_, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&output, 1, static_cast<int>(left.count())) <= 0) break;
    char chunk[256];
    const ssize_t count = ::read(stdout_, chunk, sizeof chunk);
    if (count <= 0) break;
    buffered_.append(chunk, static_cast<std::size_t>(count));
  }
  return std::nullopt;
}

void SimProcess::Signal(int signalNumber) const {
  if (pid_ > 0) ::kill(pid_, signalNumber);
}

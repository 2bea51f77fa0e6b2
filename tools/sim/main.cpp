// tracker-sim: a virtual tracker on a pseudo-terminal. See --help.

#include <sys/signalfd.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/sim/sim_options.h"
#include "tools/sim/tracker_runner.h"

namespace {

// SIGINT, SIGTERM and SIGHUP stop; SIGUSR1 unplugs or replugs. They arrive through a
// signalfd, so the loop handles them between its other events.
int OpenSignalFd() {
  sigset_t signals;
  sigemptyset(&signals);
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGUSR1}) sigaddset(&signals, s);
  if (sigprocmask(SIG_BLOCK, &signals, nullptr) != 0) return -1;
  return signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
}

sim::TrackerRunner::Control ReadSignal(int fd) {
  auto control = sim::TrackerRunner::Control::kNone;
  signalfd_siginfo info{};
  while (read(fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
    if (info.ssi_signo == SIGUSR1 && control == sim::TrackerRunner::Control::kNone) {
      control = sim::TrackerRunner::Control::kTogglePlug;
    } else if (info.ssi_signo != SIGUSR1) {
      control = sim::TrackerRunner::Control::kStop;
    }
  }
  return control;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  const sim::ParsedOptions parsed = sim::ParseSimOptions(arguments);
  if (!parsed.error.empty()) {
    std::fprintf(stderr, "tracker-sim: %s (see tracker-sim --help)\n", parsed.error.c_str());
    return 2;
  }
  if (parsed.options.version) {
    std::printf("tracker-sim %s\n", TC_VERSION);
    return 0;
  }
  if (parsed.options.help) {
    std::fputs(sim::SimHelpText().c_str(), stdout);
    return 0;
  }
  std::signal(SIGPIPE, SIG_IGN);
  const int signalFd = OpenSignalFd();
  if (signalFd < 0) {
    std::perror("tracker-sim: signalfd");
    return 1;
  }
  sim::TrackerRunner runner(parsed.options, stdout, stderr);
  const int status = runner.Run(signalFd, [signalFd] { return ReadSignal(signalFd); });
  close(signalFd);
  return status;
}

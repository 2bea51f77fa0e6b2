// tracker-jig: the production station's sequence without a window, on one tracker or many at
// once. See --help.

#include <fcntl.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/serial_io.h"
#include "records/record_store.h"
#include "station/profile.h"
#include "tools/jig/jig_events.h"
#include "tools/jig/jig_options.h"
#include "tools/jig/jig_view.h"
#include "tools/jig/line_runner.h"
#include "tools/jig/records_command.h"
#include "tools/jig/unit_worker.h"

namespace {

std::string UserName() {
  if (const char* user = std::getenv("USER"); user != nullptr && *user != '\0') return user;
  const passwd* entry = getpwuid(getuid());
  return entry != nullptr ? entry->pw_name : "";
}

std::string HostName() {
  char name[HOST_NAME_MAX + 1] = {};
  return gethostname(name, sizeof name - 1) == 0 ? name : "";
}

std::string SelfPath(const char* argv0) {
  char path[PATH_MAX] = {};
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : argv0;
}

// SIGINT, SIGTERM and SIGHUP (a dropped ssh session) arrive through a descriptor in the same
// poll as everything else the loops wait on.
int OpenSignalFd() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  if (sigprocmask(SIG_BLOCK, &signals, nullptr) != 0) return -1;
  return signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
}

int UsageError(const std::string& message) {
  std::fprintf(stderr, "tracker-jig: %s\n", message.c_str());
  return jig::kExitUsage;
}

void Tell(jig::EventSink& sink, const std::string& text) {
  jig::UnitEvent event;
  event.kind = jig::UnitEvent::Kind::kNotice;
  event.time = jig::UtcNow();
  event.detail = text;
  sink.OnEvent(event);
}

// One unit in this process, then its summary.
int RunOne(const jig::JigOptions& options, const station::Profile& profile, jig::EventSink& sink,
           records::RecordStore* store, int signalFd) {
  const auto started = std::chrono::steady_clock::now();
  const int status = jig::RunUnitWorker(options, profile, sink, store, signalFd);
  jig::UnitEvent summary;
  summary.kind = jig::UnitEvent::Kind::kSummary;
  summary.time = jig::UtcNow();
  summary.units = status == jig::kExitNoTracker ? 0 : 1;
  summary.passed = status == jig::kExitAllPassed ? 1 : 0;
  summary.failed = status == jig::kExitUnitFailed ? 1 : 0;
  summary.elapsedSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  sink.OnEvent(summary);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "records")
    return jig::RunRecordsCommand(argc - 1, argv + 1);
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  const jig::ParsedJigOptions parsed = jig::ParseJigOptions(arguments, UserName(), HostName());
  if (!parsed.error.empty()) {
    return UsageError(parsed.error + " (see tracker-jig --help)");
  }
  const jig::JigOptions& options = parsed.options;
  if (options.help) {
    std::fputs(jig::JigHelpText().c_str(), stdout);
    return jig::kExitAllPassed;
  }
  if (options.version) {
    std::fputs(jig::JigVersionText().c_str(), stdout);
    return jig::kExitAllPassed;
  }
  std::signal(SIGPIPE, SIG_IGN);
  // Workers run from a descriptor (see below), which would name them by its number in ps.
  prctl(PR_SET_NAME, "tracker-jig");
  const int signalFd = OpenSignalFd();
  if (signalFd < 0) return UsageError("cannot watch for signals");

  station::Profile profile;
  if (std::string error; !station::LoadProfile(options.profile, &profile, &error)) {
    return UsageError("profile refused: " + error);
  }
  std::unique_ptr<jig::EventSink> sink;
  if (options.json) {
    sink = std::make_unique<jig::JsonLinesView>(stdout);
  } else {
    sink = std::make_unique<jig::LiveView>(stdout, isatty(STDOUT_FILENO) != 0);
  }
  std::unique_ptr<records::RecordStore> store;
  if (!options.noRecords) {
    records::StoreStatus status;
    store = records::OpenStore(options.records, &status);
    if (!store) return UsageError("records: " + status.message);
    if (!status.message.empty()) Tell(*sink, "records: " + status.message);
  }
  if (options.target == jig::JigOptions::Target::kDevice) {
    return RunOne(options, profile, *sink, store.get(), signalFd);
  }
  // Held open from the start: a package upgrade replacing the file under a running line must not
  // leave it unable to start its next worker.
  const int selfFd = open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
  if (selfFd < 0) return UsageError("cannot open this program to start its workers");
  ports::PortListRoots roots;
  roots.portsFolder = serial::PortsFolder();
  jig::LineRunner line(options, {SelfPath(argv[0]), selfFd}, roots, *sink, store.get());
  return line.Run(signalFd);
}

#include "tools/jig/line_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <random>
#include <set>

#include "station/station_engine.h"
#include "tools/jig/unit_worker.h"

extern char** environ;

namespace jig {

namespace {

using Clock = std::chrono::steady_clock;

// A rescan after a device notice waits this long, so a tracker's node settles.
constexpr auto kSettleAfterNotice = std::chrono::milliseconds(300);
// And the list is looked at this often anyway, should a notice be missed.
constexpr auto kRescanEvery = std::chrono::seconds(2);
// How often a line's spool is offered to its store while nothing else is written.
constexpr auto kFlushEvery = std::chrono::seconds(10);
// Beyond its step's time-out a worker may be late this much (a loaded machine) before it is
// taken for hung.
constexpr auto kWorkerGrace = std::chrono::seconds(5);
// A worker told to stop has this long to write its verdict.
constexpr auto kStopGrace = std::chrono::seconds(3);

const char* PlaceName(records::RecordPlace place) {
  switch (place) {
    case records::RecordPlace::kStore:
      return "store";
    case records::RecordPlace::kSpool:
      return "spool";
    case records::RecordPlace::kQuarantine:
      return "quarantine";
    case records::RecordPlace::kNowhere:
      break;
  }
  return "nowhere";
}

std::string RandomRecordId() {
  std::random_device random;
  char id[40];
  std::snprintf(id, sizeof id, "%08x%08x%08x%08x", random(), random(), random(), random());
  return id;
}

std::string ExitText(int status) {
  if (WIFEXITED(status)) return "status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return std::string("signal ") + strsignal(WTERMSIG(status));
  return "status ?";
}

// One plugging of a unit: its node and the identity of the node or of its link. A unit pulled
// and plugged in again between two scans gets a new node or link, so it is told from the one
// already tested.
std::string PlugKey(const ports::PortEntry& entry, const std::string& portsFolder) {
  struct statx info {};
  const std::string path =
      entry.isVirtual ? portsFolder + "/COM" + std::to_string(entry.portNumber) : entry.node;
  if (statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_INO | STATX_BTIME, &info) != 0) {
    return entry.node;
  }
  // The inode alone may be reused at once; with its birth time it is a new plugging. Not the
  // change time: udev's chmod, a chown or a touch is no new unit.
  std::string key = entry.node + "#" + std::to_string(info.stx_ino);
  if ((info.stx_mask & STATX_BTIME) != 0) {
    key +=
        "#" + std::to_string(info.stx_btime.tv_sec) + "." + std::to_string(info.stx_btime.tv_nsec);
  }
  return key;
}

}  // namespace

std::vector<ports::PortEntry> TrackerPorts(const std::vector<ports::PortEntry>& listed,
                                           const std::string& portName) {
  std::vector<ports::PortEntry> trackers;
  for (const ports::PortEntry& entry : listed) {
    if (entry.devicePath.find("USBSER") == std::string::npos) continue;
    if (!portName.empty() &&
        ports::PortNumberOfName(entry.portName) != ports::PortNumberOfName(portName)) {
      continue;
    }
    trackers.push_back(entry);
  }
  return trackers;
}

LineRunner::LineRunner(JigOptions options, SelfProgram self, ports::PortListRoots roots,
                       EventSink& sink, records::RecordStore* store)
    : options_(std::move(options)),
      self_(std::move(self)),
      roots_(std::move(roots)),
      sink_(sink),
      store_(store) {
  if (store_ != nullptr) {
    writer_ = std::make_unique<RecordWriter>(*store_, options_.watch
                                                          ? std::chrono::milliseconds(kFlushEvery)
                                                          : std::chrono::milliseconds(0));
  }
}

LineRunner::~LineRunner() {
  for (Worker& worker : workers_) {
    if (worker.pid > 0) kill(worker.pid, SIGKILL);
    Reap(worker, true);
  }
}

void LineRunner::Notice(const std::string& unit, const std::string& text) {
  UnitEvent event;
  event.kind = UnitEvent::Kind::kNotice;
  event.time = UtcNow();
  event.unit = unit;
  event.detail = text;
  sink_.OnEvent(event);
}

void LineRunner::Scan() {
  const std::vector<ports::PortEntry> trackers =
      TrackerPorts(ports::ListSerialPorts(roots_), options_.port);
  std::set<std::string> present;
  for (const ports::PortEntry& entry : trackers) present.insert(PlugKey(entry, roots_.portsFolder));
  // A unit that is done stays done until it is pulled.
  std::erase_if(ports_, [&](const auto& port) {
    return port.second == PortState::kDone && !present.contains(port.first);
  });
  for (const ports::PortEntry& entry : trackers) {
    const std::string key = PlugKey(entry, roots_.portsFolder);
    if (ports_.contains(key)) continue;  // no scans while the line stops
    ports_[key] = PortState::kTesting;
    Spawn(entry, key);
    // Without a target or --watch: the first tracker, as the console would pick it.
    if (options_.target == JigOptions::Target::kFirstFound && !options_.watch) break;
  }
}

void LineRunner::Spawn(const ports::PortEntry& entry, const std::string& key) {
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) {
    Notice(entry.portName, std::string("cannot start a worker: ") + std::strerror(errno));
    ports_[key] = PortState::kDone;
    return;
  }
  // Workers never write records: this process does, once per verdict.
  std::vector<std::string> arguments = ChildArguments(options_, entry.node, entry.portName);
  arguments.insert(arguments.begin(), self_.path);
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid == 0) {
    // Only async-signal-safe calls from here: the store may run a thread of its own.
    // A worker must not outlive the jig, however the jig ends; had the jig already ended before
    // this was armed, the worker would now belong to another parent.
    if (prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || getppid() != parent) _exit(127);
    const int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (null < 0 || dup2(null, STDIN_FILENO) < 0 || dup2(pipeFds[1], STDOUT_FILENO) < 0) {
      _exit(127);
    }
    // A group of its own: the terminal's Ctrl-C reaches this process alone, which decides
    // whether running units finish or are interrupted.
    setpgid(0, 0);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    fexecve(self_.fd, argv.data(), environ);
    _exit(127);
  }
  const int error = errno;
  close(pipeFds[1]);
  if (pid < 0) {
    close(pipeFds[0]);
    Notice(entry.portName, std::string("cannot start a worker: ") + std::strerror(error));
    ports_[key] = PortState::kDone;
    return;
  }
  Worker worker;
  worker.pid = pid;
  worker.out = pipeFds[0];
  worker.unit = entry.portName;
  worker.device = entry.node;
  worker.key = key;
  worker.startedUtc = UtcNow();
  worker.answerBy = Clock::now() + SilenceAllowed(worker.step);
  workers_.push_back(std::move(worker));
}

// The verdict is shown once its record is safe (or known lost), never before.
void LineRunner::Record(const UnitEvent& verdict) {
  if (writer_ == nullptr) {
    sink_.OnEvent(verdict);
    return;
  }
  writer_->Submit(verdict);
}

void LineRunner::Recorded() {
  for (const RecordWriter::Result& result : writer_->Take()) {
    const records::StoreStatus& status = result.status;
    if (result.verdict.kind == UnitEvent::Kind::kNotice) {
      Notice("", "records: " + status.message);
      continue;
    }
    const UnitEvent& verdict = result.verdict;
    sink_.OnEvent(verdict);
    UnitEvent event;
    event.kind = UnitEvent::Kind::kRecord;
    event.time = UtcNow();
    event.unit = verdict.unit;
    event.device = verdict.device;
    event.elapsedSeconds = verdict.elapsedSeconds;
    event.recordId = verdict.record.recordId;
    event.stored = status.ok;
    event.store = writer_->StoreName();
    event.detail = status.message;
    event.kept = PlaceName(status.place);
    if (!status.ok) ++recordsNotStored_;
    sink_.OnEvent(event);
  }
}

void LineRunner::HandleLine(Worker& worker, const std::string& line) {
  UnitEvent event;
  std::string error;
  if (!FromJsonLine(line, &event, &error)) {
    Notice(worker.unit, "worker said: " + line);
    return;
  }
  if (event.kind == UnitEvent::Kind::kSummary || event.kind == UnitEvent::Kind::kRecord) return;
  if (event.kind == UnitEvent::Kind::kStep && !interrupted_) {
    worker.step = event.step;
    worker.answerBy = Clock::now() + SilenceAllowed(worker.step);
  }
  if (event.kind == UnitEvent::Kind::kVerdict) {
    if (worker.verdict) return;  // one verdict per worker, whatever it says
    worker.verdict = true;
    ++units_;
    ++(event.record.passed ? passed_ : failed_);
  }
  if (event.kind == UnitEvent::Kind::kVerdict) {
    Record(event);
  } else {
    sink_.OnEvent(event);
  }
}

void LineRunner::ReadWorker(Worker& worker) {
  char chunk[4096];
  const ssize_t got = read(worker.out, chunk, sizeof chunk);
  if (got < 0 && (errno == EINTR || errno == EAGAIN)) return;
  if (got <= 0) {
    // Its output ended: the process follows, and is collected once it has.
    close(worker.out);
    worker.out = -1;
    Reap(worker, false);
    return;
  }
  worker.buffer.append(chunk, static_cast<std::size_t>(got));
  std::size_t end;
  while ((end = worker.buffer.find('\n')) != std::string::npos) {
    const std::string line = worker.buffer.substr(0, end);
    worker.buffer.erase(0, end + 1);
    if (!line.empty()) HandleLine(worker, line);
  }
}

// How long a worker may be silent in `step`: the longest a healthy one waits there without a
// word, and some grace.
std::chrono::milliseconds LineRunner::SilenceAllowed(const std::string& step) const {
  std::chrono::milliseconds allowed = kWorkerStepTimeout;
  if (step == "test") {
    allowed = std::chrono::milliseconds(static_cast<long long>(options_.testTimeoutSeconds * 1000));
  } else if (step == "gps") {
    // The fix is waited for from the connection on, at most this long.
    const double fixWithin =
        options_.gps.fixWithinSeconds.value_or(station::GpsCriteria{}.fixWithinSeconds);
    allowed = std::chrono::milliseconds(static_cast<long long>(fixWithin * 1000));
  }
  return allowed + kWorkerGrace;
}

// A stopped or hung worker would hold the line for good: it is ended, and its unit fails.
void LineRunner::KillSilentWorkers() {
  const auto now = Clock::now();
  for (Worker& worker : workers_) {
    if (worker.pid < 0 || worker.hung || now <= worker.answerBy) continue;
    worker.hung = true;
    kill(worker.pid, SIGKILL);
  }
}

void LineRunner::Reap(Worker& worker, bool wait) {
  if (worker.pid < 0) return;
  int status = 0;
  pid_t ended;
  while ((ended = waitpid(worker.pid, &status, wait ? 0 : WNOHANG)) < 0 && errno == EINTR) {
  }
  if (ended == 0) return;  // still running
  if (worker.out >= 0) close(worker.out);
  worker.out = -1;
  worker.pid = -1;
  ports_[worker.key] = PortState::kDone;
  Ended(worker, status);
}

void LineRunner::Ended(Worker& worker, int status) {
  const bool exited = WIFEXITED(status);
  if (exited && WEXITSTATUS(status) == kExitUsage) configError_ = true;
  if (worker.verdict ||
      (exited && (WEXITSTATUS(status) == kExitNoTracker || WEXITSTATUS(status) == kExitUsage))) {
    return;
  }
  // The worker ended without a verdict: the unit failed, and that is recorded too.
  UnitEvent verdict;
  verdict.kind = UnitEvent::Kind::kVerdict;
  verdict.time = UtcNow();
  verdict.unit = worker.unit;
  verdict.device = worker.device;
  records::UnitRecord& record = verdict.record;
  record.recordId = RandomRecordId();
  record.startedUtc = worker.startedUtc;
  record.endedUtc = verdict.time;
  record.station = options_.station;
  record.operatorName = options_.operatorName;
  record.port = worker.unit;
  record.consoleVersion = TC_VERSION;
  if (worker.hung) {
    record.reasons.push_back(
        {"jig", "the unit's worker to answer", "worker stopped answering during " + worker.step});
  } else {
    record.reasons.push_back({"jig", "a verdict from the unit's worker", ExitText(status)});
  }
  ++units_;
  ++failed_;
  Record(verdict);
}

void LineRunner::InterruptWorkers() {
  interrupted_ = true;
  stopping_ = true;
  const auto stopBy = Clock::now() + kStopGrace;
  for (Worker& worker : workers_) {
    if (worker.pid < 0) continue;
    kill(worker.pid, SIGTERM);
    kill(worker.pid, SIGCONT);  // a stopped worker must still get to its verdict
    worker.answerBy = std::min(worker.answerBy, stopBy);
  }
}

void LineRunner::OnSignal(int signalFd) {
  signalfd_siginfo info{};
  bool any = false;
  while (read(signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) any = true;
  if (!any) return;
  if (options_.watch && !stopping_) {
    stopping_ = true;
    if (!workers_.empty()) {
      Notice("", "stopping: waiting for " + std::to_string(workers_.size()) +
                     " unit(s) under test; interrupt again to stop them now");
    }
    return;
  }
  if (!interrupted_) InterruptWorkers();
}

bool LineRunner::Finished() const {
  const bool recordsWritten = writer_ == nullptr || writer_->Pending() == 0;
  return workers_.empty() && recordsWritten && (!options_.watch || stopping_);
}

int LineRunner::Summary() {
  UnitEvent summary;
  summary.kind = UnitEvent::Kind::kSummary;
  summary.time = UtcNow();
  summary.units = units_;
  summary.passed = passed_;
  summary.failed = failed_;
  summary.elapsedSeconds = std::chrono::duration<double>(Clock::now() - started_).count();
  sink_.OnEvent(summary);
  if (configError_) return kExitUsage;
  if (recordsNotStored_ > 0) return kExitRecordsNotStored;
  if (units_ == 0) return kExitNoTracker;
  return failed_ > 0 ? kExitUnitFailed : kExitAllPassed;
}

int LineRunner::Run(int signalFd) {
  started_ = Clock::now();
  if (options_.watch) {
    notices::SourceError error;
    // Without udev (a container) the ports folder is still watched, and the list is rescanned.
    notices_.Open(roots_.portsFolder, true, &error);
  }
  Scan();
  if (!options_.watch && workers_.empty()) {
    Notice("", options_.port.empty() ? "no tracker found" : "no tracker on " + options_.port);
  }
  auto nextScan = Clock::now() + kRescanEvery;
  auto nextIdle = Clock::now() + std::chrono::seconds(1);
  while (!Finished()) {
    // A worker whose output ended is polled as -1 (ignored) until it is collected.
    std::vector<pollfd> fds = {{signalFd, POLLIN, 0}, {notices_.fd(), POLLIN, 0}};
    for (const Worker& worker : workers_) fds.push_back({worker.out, POLLIN, 0});
    fds.push_back({writer_ ? writer_->fd() : -1, POLLIN, 0});
    poll(fds.data(), fds.size(), 250);
    if (fds.back().revents != 0) Recorded();
    fds.pop_back();
    if (fds[0].revents != 0) OnSignal(signalFd);
    if (fds[1].revents != 0) {
      notices_.ReadNotices();
      nextScan = std::min(nextScan, Clock::now() + kSettleAfterNotice);
    }
    for (std::size_t i = 2; i < fds.size(); ++i) {
      if (fds[i].revents != 0 && workers_[i - 2].out >= 0) ReadWorker(workers_[i - 2]);
    }
    KillSilentWorkers();
    for (Worker& worker : workers_) {
      if (worker.out < 0) Reap(worker, false);
    }
    std::erase_if(workers_, [](const Worker& worker) { return worker.pid < 0; });
    const auto now = Clock::now();
    if (options_.watch && !stopping_ && now >= nextScan) {
      Scan();
      nextScan = now + kRescanEvery;
    }
    if (now >= nextIdle) {
      sink_.OnIdle();
      nextIdle = now + std::chrono::seconds(1);
    }
  }
  return Summary();
}

}  // namespace jig

#include "tools/jig/unit_worker.h"

#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>

#include "device/config_logic.h"
#include "platform/gbk.h"
#include "platform/port_list.h"
#include "platform/serial_io.h"
#include "serial/std_ui_dispatcher.h"
#include "station/console_station.h"
#include "tools/jig/headless_surface.h"

namespace jig {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// How long the loop waits between looks at the engine's clock and the timers.
constexpr auto kTick = std::chrono::milliseconds(50);
// The jig was pointed at this port: a unit silent this long still runs its identify step, and
// fails it, rather than being waited for until the line stops.
constexpr auto kAnswerWait = std::chrono::seconds(5);

// A private folder with an empty tty tree and one registered port leading to the device, so the
// console's scan finds this tracker and only it.
class PrivatePortList {
 public:
  explicit PrivatePortList(const std::string& node) {
    std::string pattern = (fs::temp_directory_path() / "tracker-jig-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) return;
    root_ = pattern;
    roots_ = {root_ + "/sys", root_ + "/dev", root_ + "/ports"};
    std::error_code error;
    fs::create_directories(roots_.sysClassTty, error);
    fs::create_directories(roots_.dev, error);
    ok_ = ports::RegisterVirtualPort(roots_.portsFolder, node) != 0;
  }
  ~PrivatePortList() {
    std::error_code error;
    if (!root_.empty()) fs::remove_all(root_, error);
  }
  PrivatePortList(const PrivatePortList&) = delete;
  PrivatePortList& operator=(const PrivatePortList&) = delete;
  [[nodiscard]] bool ok() const { return ok_; }
  [[nodiscard]] const ports::PortListRoots& Roots() const { return roots_; }
  // The unit is done: the logic's next rescan must not take whatever is plugged in on the same
  // node next, since the line starts a worker of its own for that unit.
  void Withdraw() {
    std::error_code error;
    fs::remove_all(roots_.portsFolder, error);
  }

 private:
  std::string root_;
  ports::PortListRoots roots_;
  bool ok_ = false;
};

// The unit's port as the console lists it system-wide ("COM65 (ttyACM0)"), and its USB identity
// (vendor:product serial) or, for a virtual tracker, where its link leads.
struct PortIdentity {
  std::string label;
  std::string usb;
};

PortIdentity IdentifyPort(const std::string& node, const std::string& label) {
  PortIdentity identity{label.empty() ? "device " + node : label, ""};
  ports::PortListRoots roots;
  roots.portsFolder = serial::PortsFolder();
  for (const ports::PortEntry& entry : ports::ListSerialPorts(roots)) {
    std::error_code error;
    if (fs::weakly_canonical(entry.node, error) != node) continue;
    if (label.empty()) identity.label = entry.portName;
    if (entry.isVirtual) {
      identity.usb = "virtual tracker port → " + entry.node;
    } else if (!entry.usbVendorId.empty()) {
      identity.usb = entry.usbVendorId + ":" + entry.usbProductId +
                     (entry.usbSerial.empty() ? "" : " " + entry.usbSerial);
    }
  }
  return identity;
}

station::StationSettings SettingsOf(const JigOptions& options, const station::Profile& profile) {
  station::StationSettings settings;
  settings.profile = profile;
  settings.station = options.station;
  settings.operatorName = options.operatorName;
  settings.consoleVersion = TC_VERSION;
  settings.stepTimeout = kWorkerStepTimeout;
  settings.testTimeout =
      std::chrono::milliseconds(static_cast<long long>(options.testTimeoutSeconds * 1000));
  const GpsCriteria& gps = options.gps;
  settings.gps.enabled = gps.Any();
  if (gps.fixWithinSeconds) settings.gps.fixWithinSeconds = *gps.fixWithinSeconds;
  if (gps.minSatellitesUsed) settings.gps.minSatellitesUsed = *gps.minSatellitesUsed;
  if (gps.minStrongSatellites) settings.gps.minStrongSignals = *gps.minStrongSatellites;
  settings.gps.strongSignalDbHz = static_cast<int>(gps.strongDbHz);
  return settings;
}

// Turns the engine's reports into the jig's events, and keeps the record.
class WorkerListener final : public station::StationListener {
 public:
  WorkerListener(EventSink& sink, records::RecordStore* store, PortIdentity port,
                 std::string device)
      : sink_(sink), store_(store), port_(std::move(port)), device_(std::move(device)) {}

  void OnProgress(const station::Progress& progress) override {
    UnitEvent event = Base(UnitEvent::Kind::kStep, progress.elapsed);
    event.step = std::string(station::StepName(progress.step));
    event.detail = progress.detail;
    event.problem = progress.problem;
    sink_.OnEvent(event);
  }

  void OnVerdict(const records::UnitRecord& record,
                 const records::StoreStatus& /*saved*/) override {
    UnitEvent event = Base(UnitEvent::Kind::kVerdict, Elapsed());
    event.record = record;
    // The logic saw the unit through this worker's private list; the line knows it by these.
    event.record.port = port_.label;
    event.record.usbIdentity = port_.usb;
    sink_.OnEvent(event);
    verdict_ = true;
    passed_ = event.record.passed;
    if (onVerdict) onVerdict();
    if (store_ != nullptr) Store(event);
  }

  std::function<void()> onVerdict;

  void Notice(const std::string& text) {
    UnitEvent event = Base(UnitEvent::Kind::kNotice, Elapsed());
    event.detail = text;
    sink_.OnEvent(event);
  }
  void Started() { connectedAt_ = Clock::now(); }
  [[nodiscard]] bool HasVerdict() const { return verdict_; }
  [[nodiscard]] bool Passed() const { return passed_; }

 private:
  [[nodiscard]] std::chrono::milliseconds Elapsed() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - connectedAt_);
  }
  UnitEvent Base(UnitEvent::Kind kind, std::chrono::milliseconds elapsed) const {
    UnitEvent event;
    event.kind = kind;
    event.time = UtcNow();
    event.unit = port_.label;
    event.device = device_;
    event.elapsedSeconds = std::chrono::duration<double>(elapsed).count();
    return event;
  }
  void Store(const UnitEvent& verdict) {
    const records::StoreStatus status = store_->Append(verdict.record);
    UnitEvent event = Base(UnitEvent::Kind::kRecord, Elapsed());
    event.recordId = verdict.record.recordId;
    event.stored = status.ok;
    event.store = store_->Describe();
    event.detail = status.message;
    sink_.OnEvent(event);
  }

  EventSink& sink_;
  records::RecordStore* store_;
  PortIdentity port_;
  std::string device_;
  Clock::time_point connectedAt_ = Clock::now();
  bool verdict_ = false;
  bool passed_ = false;
};

bool Readable(int descriptor) {
  pollfd fd{descriptor, POLLIN, 0};
  return descriptor >= 0 && poll(&fd, 1, 0) > 0;
}

bool SignalArrived(int signalFd) {
  if (!Readable(signalFd)) return false;
  signalfd_siginfo info{};
  return read(signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info);
}

}  // namespace

int RunUnitWorker(const JigOptions& options, const station::Profile& profile, EventSink& sink,
                  records::RecordStore* store, int signalFd) {
  std::error_code error;
  const std::string node = fs::weakly_canonical(options.device, error).string();
  WorkerListener listener(sink, store, IdentifyPort(node, options.portLabel), options.device);
  if (error || !fs::exists(node, error)) {
    listener.Notice("no tracker at " + options.device + ": no such device");
    return kExitNoTracker;
  }
  PrivatePortList ports(node);
  if (!ports.ok()) {
    listener.Notice(std::string("cannot prepare a port list: ") + std::strerror(errno));
    return kExitNoTracker;
  }
  listener.onVerdict = [&ports] { ports.Withdraw(); };
  StdUiDispatcher ui;
  DialogState state;
  HeadlessSurface surface;
  ConsoleEnvironment environment{
      .roots = ports.Roots(), .useUdev = false, .settleMilliseconds = 300};
  ConfigLogic logic(state, surface, ui, environment);
  surface.Attach(&logic);
  station::ConsoleStation station(logic, state, nullptr, &listener);
  station.Engine().SetSettings(SettingsOf(options, profile));
  station.SetEnabled(true);
  listener.Started();
  logic.OnInitDialog();
  if (!logic.Port().IsOpen()) {
    const std::string why = surface.PortProblem();
    listener.Notice("no tracker at " + options.device + (why.empty() ? "" : ": " + why));
    return kExitNoTracker;
  }
  const Clock::time_point opened = Clock::now();
  bool silentUnitStarted = false;
  while (!listener.HasVerdict()) {
    ui.RunFor(kTick);
    if (!silentUnitStarted && !logic.DeviceAnswered() && logic.Port().IsOpen() &&
        station.Engine().CurrentStep() == station::Step::kIdle &&
        Clock::now() - opened >= kAnswerWait) {
      silentUnitStarted = true;
      station.OnLinkUp(gbk::ToUtf8(state.m_portName), "");
    }
    if (Readable(logic.DeviceNoticeFd())) logic.OnDeviceNoticesReadable();
    surface.FireDueTimers();
    station.Tick();
    for (const std::string& notice : surface.TakeNotices()) listener.Notice(notice);
    if (SignalArrived(signalFd)) {
      // A unit under test gets its FAIL ("station stopped during ..."); none started has none.
      station.Engine().OnStopped(Clock::now());
      break;
    }
  }
  logic.CloseStep();
  if (!listener.HasVerdict()) return kExitNoTracker;
  return listener.Passed() ? kExitAllPassed : kExitUnitFailed;
}

}  // namespace jig

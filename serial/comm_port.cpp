#include "serial/comm_port.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <optional>
#include <system_error>
#include <utility>

#include "platform/port_list.h"

namespace {

// How long OpenPort and ClosePort pump UI events between looks at a stopping monitor thread.
constexpr unsigned kStopPumpMilliseconds = 20;
// Before pumping, a stopping thread gets this many looks this far apart to end by itself.
constexpr int kQuickStopLooks = 10;
constexpr std::chrono::microseconds kQuickStopLook{100};

// Errors by which the kernel says the device behind the descriptor is gone (unplugged, or
// the far end of a pseudo-terminal closed).
bool IsGoneError(int errorCode) {
  return errorCode == EIO || errorCode == ENXIO || errorCode == ENODEV;
}

}  // namespace

std::string FormatPortErrorReport(const char* operation, const std::string& description,
                                  int portNumber) {
  char buffer[kPortErrorReportSize];
  const int length = std::snprintf(buffer, sizeof buffer,
                                   "WARNING:  %s Failed with the following error: \n%s\nPort: %d\n",
                                   operation, description.c_str(), portNumber);
  if (length < 0) return {};
  return std::string(buffer, std::min(static_cast<std::size_t>(length), sizeof buffer - 1));
}

// One task that the monitor thread hands to the UI thread and waits for. Shared with the task
// queued on the UI thread, so that a task the stopper abandoned can still run (and do nothing)
// after the port object is gone.
struct CCommPort::Delivery {
  std::mutex lock;
  std::condition_variable changed;
  std::function<void()> task;
  bool started = false;
  bool finished = false;
  bool abandoned = false;

  // UI thread.
  void Run() {
    {
      std::lock_guard<std::mutex> guard(lock);
      if (abandoned) return;
      started = true;
    }
    task();
    {
      std::lock_guard<std::mutex> guard(lock);
      finished = true;
    }
    changed.notify_all();
  }

  // Monitor thread. True when the task ran to its end, false when it was abandoned.
  bool Wait() {
    std::unique_lock<std::mutex> guard(lock);
    changed.wait(guard, [this] { return finished || abandoned; });
    return finished;
  }

  void Abandon(bool onlyStarted) {
    {
      std::lock_guard<std::mutex> guard(lock);
      if (finished || (onlyStarted && !started)) return;
      abandoned = true;
    }
    changed.notify_all();
  }
};

CCommPort::CCommPort(UiDispatcher& ui)
    : m_ui(ui), m_self(std::make_shared<std::atomic<CCommPort*>>(this)) {}

CCommPort::~CCommPort() {
  m_self->store(nullptr);
  StopMonitor(false);
  CloseDevice();
}

void CCommPort::SetDeviceFolders(std::string devFolder, std::string portsFolder) {
  m_devFolder = std::move(devFolder);
  m_portsFolder = std::move(portsFolder);
}

int CCommPort::OpenPort(PortOwner* owner, int portNumber, unsigned baud, char parity, int dataBits,
                        int stopBits, std::uint32_t eventMask, unsigned writeBufferSize) {
  StopMonitor(true);
  RenewSignals();
  m_ownerWindow = owner;
  m_portNumber = portNumber;
  m_writeCapacity = writeBufferSize;
  m_eventMask = eventMask;
  CloseDevice();

  const std::optional<std::string> device =
      serial::DevicePathForPort(portNumber, m_devFolder, PortsFolderInUse());
  if (!device) {
    m_lastOpenError = serial::PortError{serial::PortStatus::kNoDevice, 0, {}};
    return 0;
  }
  m_fd = OpenExclusive(*device, serial::LineSettings{baud, parity, dataBits, stopBits});
  return m_fd >= 0 ? 1 : 0;
}

// Nothing of the port is touched before it is known to be free: a refused port keeps its
// holder's settings, queues, modem lines and exclusive flag.
int CCommPort::OpenExclusive(const std::string& device, const serial::LineSettings& settings) {
  if (!serial::IsValidLineSettings(settings)) {
    m_lastOpenError = serial::PortError{serial::PortStatus::kBadArgument, 0, device};
    return -1;
  }
  int holderPid = 0;
  const std::string lockFolder = m_lockFolder.empty() ? serial::DefaultLockFolder() : m_lockFolder;
  const int locked = m_lockFile.Acquire(lockFolder, device, &holderPid);
  if (locked == ENOLCK) {
    m_lastOpenError =
        serial::PortError{serial::PortStatus::kUnsafeLock, ENOLCK, device, 0, m_lockFile.Problem()};
    return -1;
  }
  if (locked != 0) {
    m_lastOpenError = serial::PortError{serial::PortStatus::kBusy, EBUSY, device, holderPid};
    return -1;
  }
  const int fd = serial::OpenSerialDeviceUntouched(device, &m_lastOpenError);
  if (fd < 0) {
    m_lockFile.Release();
    return -1;
  }
  // flock and TIOCEXCL keep out those who ask; this finds a program that opened the port
  // before us without either (a terminal, a plain cat), which root's open passes anyway.
  const std::vector<ports::PortHolder> holders = ports::FindOtherPortHolders(device, fd);
  if (std::any_of(holders.begin(), holders.end(),
                  [](const ports::PortHolder& holder) { return !holder.ptyPeer; })) {
    ::close(fd);
    m_lockFile.Release();
    m_lastOpenError = serial::PortError{serial::PortStatus::kBusy, EBUSY, device, 0};
    return -1;
  }
  if (!serial::TakeSerialDevice(fd, device, settings, &m_lastOpenError)) {
    m_lockFile.Release();
    return -1;
  }
  m_device = device;
  return fd;
}

int CCommPort::StartMonitor() {
  if (m_fd < 0 || m_stopEvent.fd() < 0 || m_writeRequest.fd() < 0) return 0;
  if (m_monitorAlive.load()) return 1;
  if (m_monitorThread.joinable()) m_monitorThread.join();  // ended by itself earlier

  m_stopRequested = false;
  m_stopEvent.Reset();
  {
    std::lock_guard<std::mutex> guard(m_deliveryLock);
    m_abandonDeliveries = false;
  }
  // Alive from here on: a stop issued right after this returns does stop the new thread.
  m_monitorAlive = true;
  const std::uint64_t generation = ++m_monitorGeneration;
  try {
    m_monitorThread = std::thread(&CCommPort::CommMonitorThread, this, m_fd, generation);
  } catch (const std::system_error&) {
    m_monitorAlive = false;
    return 0;
  }
  return 1;
}

int CCommPort::QueueWrite(const char* bytes, int length) {
  if (length < 0 || static_cast<unsigned>(length) > m_writeCapacity) return 0;
  if (length > 0 && bytes == nullptr) return 0;
  const auto* first = reinterpret_cast<const std::uint8_t*>(bytes);
  {
    std::lock_guard<std::mutex> guard(m_writeQueueLock);
    m_writeQueue.emplace_back(first, first + length);
    g_pendingWriteLength = length;
  }
  m_writeRequest.Set();
  return 1;
}

void CCommPort::ClosePort() {
  StopMonitor(true);
  RenewSignals();
  CloseDevice();
}

// Re-entrant: a handler run inside the pumped wait may stop this thread itself, or stop it
// and start another. Each pass looks at whatever thread is there now.
void CCommPort::StopMonitor(bool pumpWhileWaiting) {
  ++m_monitorGeneration;
  while (m_monitorThread.joinable()) {
    if (!m_monitorAlive.load()) {
      // Taken out first: nothing nested can run during the join, but a later stop must not
      // find the same thread again.
      std::thread ended = std::move(m_monitorThread);
      ended.join();
      continue;
    }
    m_stopRequested = true;
    m_stopEvent.Set();
    if (!pumpWhileWaiting || m_ui.QuitRequested()) {
      // Every delivery is abandoned, so the thread sees the stop without the UI thread.
      AbandonDeliveries(false);
      std::thread stopping = std::move(m_monitorThread);
      stopping.join();
      continue;
    }
    AbandonDeliveries(true);
    if (EndsWithoutPumping()) continue;
    PumpedDelay(m_ui, kStopPumpMilliseconds);
  }
}

// A thread that is not handing a slot over sees the stop at once; only one that waits for the
// UI thread needs the pumped wait.
bool CCommPort::EndsWithoutPumping() {
  for (int look = 0; look < kQuickStopLooks; ++look) {
    if (!m_monitorAlive.load()) return true;
    std::this_thread::sleep_for(kQuickStopLook);
  }
  return !m_monitorAlive.load();
}

// A started delivery runs on this (the UI) thread further down the stack, so it cannot end
// while we wait here; one not started yet ends only if the UI thread still pumps.
void CCommPort::AbandonDeliveries(bool onlyStarted) {
  std::lock_guard<std::mutex> guard(m_deliveryLock);
  if (!onlyStarted) m_abandonDeliveries = true;
  if (m_currentDelivery) m_currentDelivery->Abandon(onlyStarted);
}

// Drops a stop request or a write request left over from the previous port, and the blocks
// that were queued for it.
void CCommPort::RenewSignals() {
  m_stopEvent.Reset();
  m_writeRequest.Reset();
  std::lock_guard<std::mutex> guard(m_writeQueueLock);
  m_writeQueue.clear();
  g_pendingWriteLength = 0;
}

std::vector<ports::PortHolder> CCommPort::OtherHolders() const {
  std::vector<ports::PortHolder> others;
  if (m_fd < 0) return others;
  for (ports::PortHolder& holder : ports::FindOtherPortHolders(m_device, m_fd)) {
    if (!holder.ptyPeer) others.push_back(std::move(holder));
  }
  return others;
}

void CCommPort::CloseDevice() {
  serial::CloseSerialDevice(m_fd);
  m_fd = -1;
  m_device.clear();
  m_lockFile.Release();
}

std::string CCommPort::PortsFolderInUse() const {
  return m_portsFolder.empty() ? serial::PortsFolder() : m_portsFolder;
}

// ---- Monitor thread -------------------------------------------------------------------------

void CCommPort::CommMonitorThread(int fd, std::uint64_t generation) {
  const Step end = MonitorLoop(fd);
  // Cleared first, so the owner told of the end finds the thread no longer counted alive.
  m_monitorAlive = false;
  if (end == Step::kEnded) PostMonitorEnded(generation);
}

// Waits on the stop signal, the port and the write signal; serves them in that order.
CCommPort::Step CCommPort::MonitorLoop(int fd) {
  pollfd waitSet[3] = {
      {m_stopEvent.fd(), POLLIN, 0}, {fd, POLLIN, 0}, {m_writeRequest.fd(), POLLIN, 0}};
  for (;;) {
    if (poll(waitSet, 3, -1) < 0) {
      if (errno == EINTR) continue;
      return Step::kEnded;
    }
    if (waitSet[0].revents != 0 || m_stopRequested.load()) return Step::kStopped;
    if ((waitSet[1].revents & POLLNVAL) != 0) return Step::kEnded;
    Step step = Step::kGoOn;
    if (waitSet[1].revents != 0) step = ReadAvailable(fd, waitSet[1].revents);
    if (step == Step::kGoOn && waitSet[2].revents != 0) step = WritePending(fd);
    if (step != Step::kGoOn) return step;
  }
}

// Drains what has arrived, one slot at a time, each handed over before the next is filled.
// A write requested meanwhile goes out between two slots, so a device that floods the port
// cannot hold back the console's commands.
CCommPort::Step CCommPort::ReadAvailable(int fd, short pollEvents) {
  for (;;) {
    if (m_stopRequested.load()) return Step::kStopped;
    RxSlot& slot = g_rxSlots[g_rxSlotIndex.load()];
    slot = RxSlot{};
    const ssize_t got = read(fd, slot.bytes, kMaxReadSize);
    // VMIN 1 with O_NONBLOCK reads an empty live port as EAGAIN, so zero bytes is the end of
    // file of a hung-up tty. Asking first (FIONREAD) would hide that: it fails on a hung-up tty.
    if (got == 0) return Step::kEnded;
    if (got < 0) {
      const int error = errno;
      if (error == EINTR) continue;
      if (error == EAGAIN) {
        return (pollEvents & (POLLHUP | POLLERR)) != 0 ? Step::kEnded : Step::kGoOn;
      }
      if (IsGoneError(error)) return Step::kEnded;
      // Reported, and the port is watched on: only a port that is gone ends the thread.
      return ReportPortError("GetOverlappedResults() in ReadFile()", error);
    }
    slot.byteCount = static_cast<std::int32_t>(got);
    Step step = DeliverSlot(slot);
    if (step == Step::kGoOn && m_writeRequest.IsSet()) step = WritePending(fd);
    if (step != Step::kGoOn) return step;
    // A short read took all there was; poll() tells of more.
    if (got < kMaxReadSize) return Step::kGoOn;
  }
}

CCommPort::Step CCommPort::DeliverSlot(const RxSlot& slot) {
  const bool handled = RunOnUi([this, &slot] {
    if (m_ownerWindow != nullptr) m_ownerWindow->OnPortData(slot, m_portNumber);
  });
  // Advanced also when abandoned: the handler may still be reading this slot further down the
  // UI thread's stack, so the next thread must not fill it.
  g_rxSlotIndex = (g_rxSlotIndex.load() + 1) % kRxSlotCount;
  return handled ? Step::kGoOn : Step::kStopped;
}

CCommPort::Step CCommPort::WritePending(int fd) {
  m_writeRequest.Reset();
  std::vector<std::uint8_t> block;
  while (!m_stopRequested.load() && TakeQueuedBlock(&block)) {
    const Step step = WriteBlock(fd, block);
    if (step != Step::kGoOn) return step;
  }
  return m_stopRequested.load() ? Step::kStopped : Step::kGoOn;
}

bool CCommPort::TakeQueuedBlock(std::vector<std::uint8_t>* block) {
  std::lock_guard<std::mutex> guard(m_writeQueueLock);
  if (m_writeQueue.empty()) return false;
  *block = std::move(m_writeQueue.front());
  m_writeQueue.pop_front();
  return true;
}

// Writes the whole block, waiting for room when the port's output queue is full. Nothing is
// flushed before it: earlier blocks may still be on their way out.
CCommPort::Step CCommPort::WriteBlock(int fd, const std::vector<std::uint8_t>& block) {
  std::size_t written = 0;
  bool waited = false;  // a failure after waiting for room is the completion's, not the call's
  while (written < block.size()) {
    const ssize_t sent = write(fd, block.data() + written, block.size() - written);
    if (sent > 0) {
      written += static_cast<std::size_t>(sent);
      continue;
    }
    const int error = sent < 0 ? errno : EIO;
    if (error == EINTR) continue;
    if (error == EAGAIN) {
      const Step step = WaitWritable(fd);
      if (step != Step::kGoOn) return step;
      waited = true;
      continue;
    }
    if (IsGoneError(error)) return Step::kEnded;
    // The rest of the block is lost, as it would be on any write failure; the thread goes on.
    return ReportPortError(waited ? "GetOverlappedResults() in WriteFile()" : "WriteFile()", error);
  }
  return Step::kGoOn;
}

// Waits for room in the output queue; a stop request ends the wait, so a port that takes
// nothing cannot hold up a shutdown.
CCommPort::Step CCommPort::WaitWritable(int fd) {
  pollfd waitSet[2] = {{m_stopEvent.fd(), POLLIN, 0}, {fd, POLLOUT, 0}};
  for (;;) {
    if (poll(waitSet, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return Step::kEnded;
    }
    if (waitSet[0].revents != 0) return Step::kStopped;
    if ((waitSet[1].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) return Step::kEnded;
    return Step::kGoOn;
  }
}

// Shows the report on the UI thread and waits until it was closed (or a stop abandoned it).
CCommPort::Step CCommPort::ReportPortError(const char* operation, int errorCode) {
  // The task keeps its own copy: an abandoned box may still be open after we have moved on.
  std::string text = FormatPortErrorReport(operation, serial::ErrnoText(errorCode), m_portNumber);
  const bool closed = RunOnUi([this, text = std::move(text)] {
    if (m_ownerWindow != nullptr) m_ownerWindow->ShowPortError(text);
  });
  return closed ? Step::kGoOn : Step::kStopped;
}

// Runs `task` on the UI thread and waits until it has returned. False when a stop abandoned
// the wait; the task then never runs, or runs on without us.
bool CCommPort::RunOnUi(std::function<void()> task) {
  auto delivery = std::make_shared<Delivery>();
  delivery->task = std::move(task);
  {
    std::lock_guard<std::mutex> guard(m_deliveryLock);
    if (m_abandonDeliveries) return false;
    m_currentDelivery = delivery;
  }
  m_ui.Post([delivery] { delivery->Run(); });
  const bool finished = delivery->Wait();
  std::lock_guard<std::mutex> guard(m_deliveryLock);
  m_currentDelivery.reset();
  return finished;
}

void CCommPort::PostMonitorEnded(std::uint64_t generation) {
  m_ui.Post([self = m_self, generation] {
    CCommPort* port = self->load();
    if (port != nullptr) port->NoticeMonitorEnded(generation);
  });
}

// UI thread. Dropped when the port was stopped or restarted since the thread ended.
void CCommPort::NoticeMonitorEnded(std::uint64_t generation) {
  if (generation != m_monitorGeneration || m_ownerWindow == nullptr) return;
  m_ownerWindow->OnMonitorEnded(m_portNumber);
}

void PumpedDelay(UiDispatcher& ui, unsigned milliseconds) {
  ui.RunFor(std::chrono::milliseconds(milliseconds));
}

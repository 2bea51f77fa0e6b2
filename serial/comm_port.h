#pragma once
// CCommPort: the serial port engine. It opens one port by number, configures it, and runs a
// monitor thread that does all reading and writing of the port.
//
// Threading contract:
//  - Every public operation runs on the UI thread of the UiDispatcher given at construction.
//  - The monitor thread (one per open, monitored port) alone reads and writes the port. It
//    hands each filled receive slot to PortOwner::OnPortData on the UI thread and waits until
//    that call has returned, so a slot never changes while it is decoded.
//  - Errors of the monitor thread are shown through PortOwner::ShowPortError on the UI thread
//    while the monitor thread waits for it to return.
//  - QueueWrite copies the block into a queue: blocks reach the device whole and in order.
//  - OpenPort stops a running monitor thread first, pumping UI events meanwhile so that a
//    delivery in progress can finish; the destructor stops it without pumping and abandons a
//    delivery not yet started, so it never hangs. A delivery whose handler is still running
//    further down the UI thread's stack (a stop from inside a nested event loop) cannot finish
//    before the stop returns, so every stop abandons it: the thread no longer waits for it.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/port_list.h"
#include "platform/port_lock.h"
#include "platform/serial_io.h"
#include "serial/ui_dispatcher.h"

inline constexpr int kRxSlotCount = 20;
inline constexpr int kRxSlotSize = 5000;
inline constexpr int kMaxReadSize = 4900;

struct RxSlot {
  std::int32_t byteCount = 0;                                   // 1..4900
  std::uint8_t bytes[kRxSlotSize - sizeof(std::int32_t)] = {};  // zero after the data
};
static_assert(sizeof(RxSlot) == kRxSlotSize);

// The monitor thread's error report as the operator reads it, cut to fit the report's text
// buffer of kPortErrorReportSize bytes (terminator included).
inline constexpr std::size_t kPortErrorReportSize = 200;
std::string FormatPortErrorReport(const char* operation, const std::string& description,
                                  int portNumber);

// The window that opened the port (the main dialog, or a test's stand-in).
class PortOwner {
 public:
  virtual ~PortOwner() = default;
  // UI thread. One call per filled slot; `slot` is valid only during the call.
  virtual void OnPortData(const RxSlot& slot, int portNumber) = 0;
  // UI thread. Shows the engine's error report (caption "Application Error") and returns
  // when the operator has closed it.
  virtual void ShowPortError(const std::string& text) = 0;
  // UI thread. The monitor thread ended by itself (the tracker was unplugged or the port
  // failed). Not called when OpenPort or the destructor stopped it.
  virtual void OnMonitorEnded(int /*portNumber*/) {}
};

class CCommPort {
 public:
  explicit CCommPort(UiDispatcher& ui);
  virtual ~CCommPort();
  CCommPort(const CCommPort&) = delete;
  CCommPort& operator=(const CCommPort&) = delete;

  // Where port numbers lead (serial::DevicePathForPort); "/dev" and serial::PortsFolder()
  // unless set.
  void SetDeviceFolders(std::string devFolder, std::string portsFolder);
  // Where the port lock files live; serial::DefaultLockFolder() unless set.
  void SetLockFolder(std::string lockFolder) { m_lockFolder = std::move(lockFolder); }

  // Stops the monitor thread, closes the open port, then opens `portNumber` (see
  // serial::DevicePathForPort) exclusively and configures it. Exclusive means: no live lock
  // file of another program, our own lock file written, flock and TIOCEXCL taken, and no
  // other process holding the device open (seen through /proc; even as root). Returns 1 when the
  // port is open and configured, 0 otherwise (the reason is in LastOpenError()).
  int OpenPort(PortOwner* owner, int portNumber, unsigned baud, char parity, int dataBits,
               int stopBits, std::uint32_t eventMask, unsigned writeBufferSize);

  // Starts the monitor thread on the open port; returns once the thread counts as alive.
  // Returns 0 when no port is open or the thread could not be created.
  int StartMonitor();

  // Queues one block for the monitor thread to write. Returns 0 and queues nothing when
  // `length` exceeds the write capacity or is negative; 1 otherwise.
  int QueueWrite(const char* bytes, int length);

  [[nodiscard]] unsigned GetWriteCapacity() const { return m_writeCapacity; }

  // The plain close: stops the monitor thread and closes the port. Same effect as the close
  // step (OpenPort on port 50) without trying another port.
  void ClosePort();

  [[nodiscard]] bool IsOpen() const { return m_fd >= 0; }
  [[nodiscard]] bool IsMonitoring() const { return m_monitorAlive.load(); }
  [[nodiscard]] int PortNumber() const { return m_portNumber; }
  // Processes other than ours holding the open port now (its pseudo-terminal's own side not
  // counted): TIOCEXCL does not keep root out. Reads /proc; empty when no port is open.
  [[nodiscard]] std::vector<ports::PortHolder> OtherHolders() const;
  // Why the last OpenPort failed (status Ok after a success).
  [[nodiscard]] const serial::PortError& LastOpenError() const { return m_lastOpenError; }
  // The slot index carries on across re-opened ports.
  [[nodiscard]] int RxSlotIndex() const { return g_rxSlotIndex; }
  [[nodiscard]] const RxSlot* RxSlotAt(int index) const { return &g_rxSlots[index]; }

 private:
  struct Delivery;
  // How a step of the monitor thread ended: go on waiting, stopped by request, or ended by
  // itself (port gone or failed).
  enum class Step { kGoOn, kStopped, kEnded };

  void StopMonitor(bool pumpWhileWaiting);
  bool EndsWithoutPumping();
  void AbandonDeliveries(bool onlyStarted);
  void RenewSignals();
  void CloseDevice();
  [[nodiscard]] std::string PortsFolderInUse() const;
  int OpenExclusive(const std::string& device, const serial::LineSettings& settings);

  // Monitor thread.
  void CommMonitorThread(int fd, std::uint64_t generation);
  Step MonitorLoop(int fd);
  Step ReadAvailable(int fd, short pollEvents);
  Step DeliverSlot(const RxSlot& slot);
  Step WritePending(int fd);
  Step WriteBlock(int fd, const std::vector<std::uint8_t>& block);
  Step WaitWritable(int fd);
  bool TakeQueuedBlock(std::vector<std::uint8_t>* block);
  Step ReportPortError(const char* operation, int errorCode);
  bool RunOnUi(std::function<void()> task);
  void PostMonitorEnded(std::uint64_t generation);
  void NoticeMonitorEnded(std::uint64_t generation);

  UiDispatcher& m_ui;
  PortOwner* m_ownerWindow = nullptr;
  int m_portNumber = 0;
  unsigned m_writeCapacity = 0;
  std::uint32_t m_eventMask = 0;
  int m_fd = -1;
  std::string m_device;  // the open port's device node (or link to it)
  std::string m_devFolder = "/dev";
  std::string m_portsFolder;
  std::string m_lockFolder;
  serial::PortLockFile m_lockFile;
  serial::PortError m_lastOpenError;

  std::atomic<bool> m_monitorAlive{false};
  std::atomic<bool> m_stopRequested{false};
  std::thread m_monitorThread;
  // UI thread only: changes on every start and stop, so a notice of an earlier thread's end
  // that is still queued is recognised as stale.
  std::uint64_t m_monitorGeneration = 0;
  serial::WakeSignal m_stopEvent;
  serial::WakeSignal m_writeRequest;

  std::mutex m_writeQueueLock;
  std::deque<std::vector<std::uint8_t>> m_writeQueue;
  int g_pendingWriteLength = 0;

  // The ring of receive slots and the next one to fill; one engine, one ring.
  RxSlot g_rxSlots[kRxSlotCount];
  std::atomic<int> g_rxSlotIndex{0};

  // The hand-over in progress, so a stop can abandon it.
  std::mutex m_deliveryLock;
  std::shared_ptr<Delivery> m_currentDelivery;
  bool m_abandonDeliveries = false;
  // Lets tasks still queued on the UI thread find out that this object is gone.
  std::shared_ptr<std::atomic<CCommPort*>> m_self;
};

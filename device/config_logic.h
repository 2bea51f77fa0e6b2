#pragma once
// The console's behaviour without a window: the receive dispatcher, the port scan and
// hot-plug, the command requests, the reply parser and notices, the NMEA panel, the log file.
// CConfigDlg owns one, forwards its handlers to it under the same names, and implements
// DialogSurface for it. Tests drive it directly with their own surface.
//
// Everything here runs on the UI thread of `ui`.

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "device/dialog_state.h"
#include "device/dialog_surface.h"
#include "device/log_lines.h"
#include "device/logic_observer.h"
#include "gps/nmea_parser.h"
#include "link/frame_decoder.h"
#include "link/frame_encoder.h"
#include "platform/device_notices.h"
#include "platform/port_list.h"
#include "serial/comm_port.h"
#include "serial/ui_dispatcher.h"

// Device-change event codes, as the notices are named on the wire of the window system.
inline constexpr std::uint32_t kDeviceArrival = 0x8000;
inline constexpr std::uint32_t kDeviceRemoveComplete = 0x8004;

// Where the logic finds ports, and how long it settles after a device change. The defaults
// are the product's; tests point the roots at fake trees and shorten the settle time.
struct ConsoleEnvironment {
  ports::PortListRoots roots;  // portsFolder filled from serial::PortsFolder() when empty
  bool useUdev = true;
  unsigned settleMilliseconds = 3000;
  // How long a newly connected port may stay silent while another candidate waits.
  unsigned answerWaitMilliseconds = 5000;
  // A port busy or refused right after a plug is tried again this often, for this long.
  unsigned busyRetryIntervalMilliseconds = 1000;
  unsigned busyRetryMilliseconds = 30000;
  // While a connected port has not answered, the ports are scanned again this often.
  unsigned silentRescanMilliseconds = 10000;
  // While a port is open, /proc is looked through this often for other programs holding it.
  unsigned holderLookMilliseconds = 3000;
  // Port lock files (LCK..<node>); serial::DefaultLockFolder() when empty.
  std::string lockFolder = {};
  // How long the factory test may take before its result reads FAIL.
  int testTimeoutMilliseconds = 60000;
};

// What the operator sees about a port (UTF-8): its node, USB identity, maker and serial.
std::string PortDetailsText(const ports::PortEntry& entry);

// What a frame received on a connection that has not answered yet tells about the port.
enum class FrameWitness {
  kEcho,     // one of our own frames sent back (a loopback): no device at all
  kNoise,    // not text: bytes that happened to decode
  kTracker,  // a tracker's reply or status report ("AT+uart:...", "AT:...") or NMEA sentence
  kLine,     // plain text, as a tracker's log line is: it takes two to answer
};
// `sentTexts`: the texts of the frames sent on this connection, as each frame carries them.
FrameWitness WitnessOfFrame(std::string_view text, const std::vector<std::string>& sentTexts);

class ConfigLogic final : public PortOwner {
 public:
  ConfigLogic(DialogState& state, DialogSurface& surface, UiDispatcher& ui,
              ConsoleEnvironment environment = {});
  ~ConfigLogic() override;
  ConfigLogic(const ConfigLogic&) = delete;
  ConfigLogic& operator=(const ConfigLogic&) = delete;

  // --- Start-up and exit -------------------------------------------------------------
  // The logic's share of dialog initialisation: register device notices, count the ports,
  // run the first scan.
  void OnInitDialog();
  // Exit button: the close step. The window then ends the program.
  void OnExit();
  // "清空": empties the command box.
  void OnClearCommand();

  // --- Receive path ------------------------------------------------------------------
  void OnPortData(const RxSlot& slot, int portNumber) override;
  void ShowPortError(const std::string& text) override;
  void OnMonitorEnded(int portNumber) override;

  // --- Encoders ----------------------------------------------------------------------
  void SendUartCommand(const char* command);
  void SendAtText(const char* text);

  // --- Discovery, connection, hot-plug -----------------------------------------------
  // Fills the lists (either may be null) with at most 50 entries; returns the count held.
  int EnumSerialPorts(std::vector<std::string>* devicePaths, std::vector<std::string>* portNames,
                      std::vector<ports::PortEntry>* entries = nullptr);
  bool ScanAndConnect();
  bool RegisterDeviceInterfaces();
  bool OnDeviceChange(std::uint32_t eventCode, std::uint32_t eventData);
  // Several notices read together: one close (if any was a removal), one settle, one scan.
  void OnDeviceChanges(bool anyArrival, bool anyRemoval);
  // Descriptor to watch for device notices (-1 when none registered), and what to call when
  // it is readable.
  [[nodiscard]] int DeviceNoticeFd() const;
  void OnDeviceNoticesReadable();
  static std::string SystemErrorText(std::uint32_t code);
  // The window's periodic look at the port (StartPortWatchTimer): a silent connection is
  // scanned again, and a new holder of the open port is named.
  void OnPortWatchTimer();
  // The connected device has sent what only a tracker sends (see WitnessOfFrame).
  [[nodiscard]] bool DeviceAnswered() const { return m_deviceAnswered; }
  // The close step: OpenPort on port 50 (normally absent), result ignored.
  void CloseStep();

  // --- Choosing the port ------------------------------------------------------------
  // The port the operator pinned by its stable name (PortEntry::stableName); empty: automatic.
  void SetPinnedPort(const std::string& stableName) { m_pinnedPort = stableName; }
  [[nodiscard]] const std::string& PinnedPort() const { return m_pinnedPort; }

  // --- Command requests --------------------------------------------------------------
  bool IsConnected();
  void OnReadVersion();
  void OnReadAddress();
  void OnSetAddress();
  void OnReadImei();
  void OnSetImei();
  void OnReadNumbers();
  void OnSetNumbers();
  void OnReadLanguage();
  void OnSetLanguage();
  void OnReadSos();
  void OnSetSos();
  void OnReadMonitor();
  void OnSetMonitor();
  void OnReadUpload();
  void OnSetUpload();
  void OnSend();
  void OnDomainCheck();
  void OnStartTest();
  // Sends the test request and starts its time-out (the environment's unless given).
  void StartFactoryTest(int timeoutMilliseconds = 0);
  // The test time-out ended: a result still incomplete reads FAIL.
  void OnTestTimerProc();

  // --- Replies and notices -----------------------------------------------------------
  void ParseReply(const char* reply);
  void ShowNoticeLater(const char* text);
  void NoticeTimerProc();

  // --- GPS ---------------------------------------------------------------------------
  void ParseNmea(const char* sentence);
  // A connection was made: time the receiver's first fix from now, and forget the satellites
  // the receiver before it reported (a new unit must not show the last one's sky).
  void StartFirstFixClock();
  // The last time to first fix, with the satellites used and their signals at that moment
  // (have is false until the receiver reports a fix after the connection).
  [[nodiscard]] const gps::FirstFix& FirstFixInfo() const { return m_gps.firstFix.Result(); }
  // Tests replace the steady clock the first fix is timed with.
  void SetGpsClock(gps::SteadyClock now) { m_gps.firstFix = gps::FirstFixClock(std::move(now)); }

  // --- Log pane and file -------------------------------------------------------------
  void OnPauseDisplay();
  void OnClearDisplay();
  void OnSaveToFile();
  void WriteLogFile(const std::string& text);
  // The operator's log extras (NMEA lines, date and milliseconds, extras in the file too).
  void SetLogOptions(const loglines::LogOptions& options) { m_logOptions = options; }
  [[nodiscard]] const loglines::LogOptions& LogOptions() const { return m_logOptions; }

  // --- Production station -------------------------------------------------------------
  // The observer follows the link and the replies (nullptr: none). In station mode notices
  // go to the status line and the log instead of boxes.
  void SetObserver(LogicObserver* observer) { m_observer = observer; }
  void SetStationMode(bool on) { m_stationMode = on; }
  [[nodiscard]] bool StationMode() const { return m_stationMode; }

  // --- For the window and tests ------------------------------------------------------
  [[nodiscard]] devlink::FrameDecoder& Decoder() { return *m_decoder; }
  [[nodiscard]] const gps::NmeaTables& GpsTables() const { return m_gps; }
  [[nodiscard]] CCommPort& Port() { return m_port; }
  [[nodiscard]] const ConsoleEnvironment& Environment() const { return m_env; }
  // The ports of the last scan, for the operator's details.
  [[nodiscard]] const std::vector<ports::PortEntry>& LastPortList() const { return m_lastPorts; }
  [[nodiscard]] const char* NoticeText() const { return m_noticeText; }

  // Port-scan memory for the program's lifetime.
  int g_knownPortCount = 0;
  int g_lastPortIndex = -1;

 private:
  bool FinalOpen(int index, const std::vector<std::string>& portNames);
  bool ProbeEntry(int index, const std::vector<std::string>& portNames);
  void ExplainPortFailure(const ports::PortEntry* entry, const serial::PortError& error);
  enum class Answer { kAnswered, kSilent, kSuperseded };
  Answer AwaitAnswer(const std::string& portName);
  bool ScanPinned(const std::vector<ports::PortEntry>& entries,
                  const std::vector<std::string>& portNames);
  void RetryBusyPorts(std::uint64_t batch);
  void StopRecording(const std::string& gbkReason);
  void NotifyLinkDown();
  void TakeFrameAsWitness(std::string_view text);
  void RememberSent(const devlink::StuffedFrame& frame);
  void MarkAnswered();
  [[nodiscard]] bool PortIsUp() const;
  void NameNewHolders();
  [[nodiscard]] bool CurrentPortListed();
  void ShowNoticeOnStatusLine(const std::string& text);
  void LogReceived(std::int32_t sequence, std::string_view text, bool nmea, std::string& fileText,
                   std::string& paneText);
  void LogSent(std::string frameText);
  std::string RecordingStartText();

  DialogState& m;
  DialogSurface& m_surface;
  UiDispatcher& m_ui;
  ConsoleEnvironment m_env;
  std::unique_ptr<devlink::FrameDecoder> m_decoder;
  gps::NmeaTables m_gps;
  char m_noticeText[100] = {};
  int m_logFile = -1;
  std::string m_logFilePath;
  // Notices not shown yet, oldest first (bounded: a flood of replies must not grow it without
  // end), and whether a box is open further down the stack.
  std::deque<std::string> m_pendingNotices;
  bool m_noticeShowing = false;
  // Changes whenever a port is connected or closed, so a wait can tell it was overtaken.
  std::uint64_t m_connection = 0;
  bool m_deviceAnswered = false;
  // The connection's texts sent so far (what an echo would bring back), plain lines received
  // before it answered, when it was made, and the holders of its port already named.
  std::vector<std::string> m_sentTexts;
  int m_plainLines = 0;
  std::chrono::steady_clock::time_point m_connectedAt;
  std::chrono::steady_clock::time_point m_lastHolderLook;
  std::vector<int> m_namedHolders;
  // Scans and device-change handlers running (further down the stack): the timer waits.
  int m_scansRunning = 0;
  int m_lastCandidateCount = 0;
  // Batches of device notices read so far, and the one the last scan started after.
  std::uint64_t m_noticeBatches = 0;
  // Why the last scan found no port (empty: no problem worth retrying).
  serial::PortStatus m_lastProblem = serial::PortStatus::kOk;
  std::string m_lastProblemText;
  std::string m_pinnedPort;
  loglines::LogOptions m_logOptions;
  std::vector<ports::PortEntry> m_lastPorts;
  LogicObserver* m_observer = nullptr;
  bool m_linkUpNotified = false;
  bool m_stationMode = false;
  bool m_testTimedOut = false;
  notices::DeviceNoticeSource m_notices;
  // Last: destroyed first, so the monitor thread stops before anything it reaches goes away.
  CCommPort m_port;
};

// Port discovery, connection and hot-plug.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "device/config_logic.h"
#include "platform/gbk.h"
#include "platform/serial_io.h"

namespace {

constexpr std::size_t kPortListSize = 50;
constexpr unsigned kDeviceBaud = 115200;
constexpr char kParity = 'N';
constexpr int kDataBits = 8;
constexpr int kStopBits = 1;
constexpr std::uint32_t kEventMask = 9;  // EV_RXCHAR | EV_CTS
constexpr unsigned kWriteBufferSize = 512;

// errno values run up to a few hundred; larger codes come from elsewhere and have no text here.
constexpr std::uint32_t kLargestErrno = 4095;
constexpr std::int32_t kFirstDispatchCode = static_cast<std::int32_t>(0x80040200u);
constexpr std::int32_t kLastDispatchCode = static_cast<std::int32_t>(0x8004FFFFu);

bool Contains(const std::string& text, const char* word) {
  return text.find(word) != std::string::npos;
}

const ports::PortEntry* EntryNamed(const std::vector<ports::PortEntry>& entries,
                                   const std::string& portName) {
  for (const ports::PortEntry& entry : entries) {
    if (entry.portName == portName) return &entry;
  }
  return nullptr;
}

std::string BaseName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string PortDetailsText(const ports::PortEntry& entry) {
  if (entry.isVirtual) return "virtual tracker port → " + entry.node;
  std::string text = BaseName(entry.node);
  if (!entry.usbVendorId.empty()) {
    text += " · USB " + entry.usbVendorId + ":" + entry.usbProductId;
  }
  const std::string maker = entry.usbManufacturer.empty() || entry.usbProduct.empty()
                                ? entry.usbManufacturer + entry.usbProduct
                                : entry.usbManufacturer + " " + entry.usbProduct;
  if (!maker.empty()) text += " · " + maker;
  if (!entry.usbSerial.empty()) text += " · serial " + entry.usbSerial;
  if (!entry.usbInterface.empty()) text += " · interface " + entry.usbInterface;
  return text;
}

namespace {

bool IsWorthExplaining(const serial::PortError& error) {
  switch (error.status) {
    case serial::PortStatus::kBusy:
    case serial::PortStatus::kNotPermitted:
    case serial::PortStatus::kBadArgument:
    case serial::PortStatus::kSystemError:
    case serial::PortStatus::kUnsafeLock:
      return true;
    case serial::PortStatus::kOk:
    case serial::PortStatus::kNoDevice:
    case serial::PortStatus::kGone:
      return false;
  }
  return false;
}

constexpr const char* kModemManager = "ModemManager";

// The processes to name for a busy port: those holding it, without the pseudo-terminal's own
// side unless nobody else is seen, and the owner of its lock file.
std::vector<ports::PortHolder> BusyHolders(const std::string& node, int lockHolderPid) {
  std::vector<ports::PortHolder> all = ports::FindOtherPortHolders(node, -1);
  std::vector<ports::PortHolder> holders;
  for (const ports::PortHolder& holder : all) {
    if (!holder.ptyPeer) holders.push_back(holder);
  }
  if (holders.empty()) holders = all;
  const bool named = std::any_of(holders.begin(), holders.end(), [&](const ports::PortHolder& h) {
    return h.pid == lockHolderPid;
  });
  if (lockHolderPid > 0 && !named) {
    std::string command;
    std::getline(std::ifstream("/proc/" + std::to_string(lockHolderPid) + "/comm"), command);
    holders.push_back({lockHolderPid, command, false});
  }
  return holders;
}

// "串口被其他程序占用: minicom (PID 812)", naming every holder this user can see.
std::string BusyText(const std::string& node, int lockHolderPid) {
  const std::vector<ports::PortHolder> holders = BusyHolders(node, lockHolderPid);
  bool modemManagerHolds = false;
  std::string names;
  for (const ports::PortHolder& holder : holders) {
    if (!names.empty()) names += ", ";
    names += holder.command + " (PID " + std::to_string(holder.pid) + ")";
    modemManagerHolds = modemManagerHolds || holder.command == kModemManager;
  }
  std::string text = holders.empty() ? T(kPortBusy) : T(kPortBusyBy) + gbk::FromUtf8(names);
  // A root daemon's descriptors are hidden from a plain user: then its presence is the hint.
  if (modemManagerHolds || (holders.empty() && ports::IsProcessRunning(kModemManager))) {
    text += T(kModemManagerHint);
  }
  return text;
}

// GBK text for the window's port problem line.
std::string PortProblemText(const serial::PortError& error, const std::string& node) {
  switch (error.status) {
    case serial::PortStatus::kBusy:
      return BusyText(node, error.holderPid);
    case serial::PortStatus::kNotPermitted:
      return T(kPortNotPermitted);
    case serial::PortStatus::kUnsafeLock:
      return T(kPortLockUnsafe) + gbk::FromUtf8(error.detail);
    default: {
      std::string detail = node;
      if (error.errorCode != 0) detail += ": " + serial::ErrnoText(error.errorCode);
      return T(kPortOpenFailed) + gbk::FromUtf8(detail);
    }
  }
}

void ShowNoDeviceTexts(DialogState& m, devlink::FrameDecoder& decoder) {
  decoder.frameSequence = 0;
  m.m_portState = T(kPortClosed);
  m.m_portName = T(kPortNone);
  m.m_linkState = T(kLinkConnecting);
  m.m_testResult = T(kNotConnected);
  m.m_gsmOk = false;
  m.m_gpsOk = false;
  m.m_keyOk = false;
}

bool IsCandidate(const std::string& devicePath) {
  return Contains(devicePath, "USBSER") || Contains(devicePath, "Serial2");
}

int CountCandidates(const std::vector<std::string>& devicePaths, int count) {
  return static_cast<int>(std::count_if(devicePaths.begin(), devicePaths.begin() + count,
                                        [](const std::string& path) { return IsCandidate(path); }));
}

// Counts the scans and device-change handlers running further down the stack.
class Running {
 public:
  explicit Running(int& count) : count_(++count) {}
  ~Running() { --count_; }
  Running(const Running&) = delete;
  Running& operator=(const Running&) = delete;

 private:
  int& count_;
};

constexpr std::string_view kUartReplyPrefix = "AT+uart:";
constexpr std::string_view kAtReplyPrefix = "AT:";

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// "$GPRMC,...*hh" whose checksum holds.
bool IsNmeaSentence(std::string_view text) {
  const std::size_t star = text.rfind('*');
  if (text.size() < 2 || text.front() != '$' || star == std::string_view::npos ||
      star + 3 != text.size()) {
    return false;
  }
  const int high = HexDigit(text[star + 1]);
  const int low = HexDigit(text[star + 2]);
  if (high < 0 || low < 0) return false;
  unsigned char sum = 0;
  for (const char c : text.substr(1, star - 1)) sum ^= static_cast<unsigned char>(c);
  return sum == high * 16 + low;
}

bool HasTail(std::string_view text, std::string_view prefix) {
  return text.size() > prefix.size() && text.starts_with(prefix);
}

int IndexOfStableName(const std::vector<ports::PortEntry>& entries, const std::string& name) {
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (entries[i].stableName == name) return static_cast<int>(i);
  }
  return -1;
}

// Busy or refused ports right after a plug are often only a moment away from free: a modem
// manager probing them, or the access rules not applied yet.
bool IsWorthRetrying(serial::PortStatus status) {
  return status == serial::PortStatus::kBusy || status == serial::PortStatus::kNotPermitted;
}

// How often a wait for the device's first frame looks whether it came.
constexpr unsigned kAnswerLookMilliseconds = 20;

// The last failed open of a scan that the operator can do something about.
struct ScanProblem {
  int index = -1;
  serial::PortError error;
};

}  // namespace

// The rule by which a port counts as the tracker's: a frame that passed the decoder's checksum
// is not enough, since a loopback sends our own frames back and noise decodes now and then.
// Our own texts prove nothing; bytes that are not text are noise; a reply, a status report or
// an NMEA sentence with its checksum answers at once; any other text is a log line, and it
// takes a second one (noise that decodes twice, both times as text, does not happen).
FrameWitness WitnessOfFrame(std::string_view text, const std::vector<std::string>& sentTexts) {
  if (std::find(sentTexts.begin(), sentTexts.end(), text) != sentTexts.end()) {
    return FrameWitness::kEcho;
  }
  const bool control = std::any_of(text.begin(), text.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return (byte < 0x20 && byte != '\t') || byte == 0x7F;
  });
  if (text.empty() || control) return FrameWitness::kNoise;
  if (HasTail(text, kUartReplyPrefix) || HasTail(text, kAtReplyPrefix) || IsNmeaSentence(text)) {
    return FrameWitness::kTracker;
  }
  return FrameWitness::kLine;
}

int ConfigLogic::EnumSerialPorts(std::vector<std::string>* devicePaths,
                                 std::vector<std::string>* portNames,
                                 std::vector<ports::PortEntry>* entries) {
  std::vector<ports::PortEntry> found = ports::ListSerialPorts(m_env.roots);
  if (found.size() > kPortListSize) found.resize(kPortListSize);
  if (devicePaths != nullptr) devicePaths->assign(kPortListSize, {});
  if (portNames != nullptr) portNames->assign(kPortListSize, {});
  for (std::size_t i = 0; i < found.size(); ++i) {
    if (devicePaths != nullptr) (*devicePaths)[i] = found[i].devicePath;
    if (portNames != nullptr) (*portNames)[i] = found[i].portName;
  }
  const int count = static_cast<int>(found.size());
  if (entries != nullptr) *entries = std::move(found);
  return count;
}

bool ConfigLogic::ScanAndConnect() {
  const Running running(m_scansRunning);
  std::vector<std::string> devicePaths;
  std::vector<std::string> portNames;
  // A notice handled inside one of the waits below runs a scan of its own; this scan keeps
  // its own list.
  std::vector<ports::PortEntry> entries;
  const int count = EnumSerialPorts(&devicePaths, &portNames, &entries);
  m_lastPorts = entries;
  m_surface.PortListChanged();

  ScanProblem problem;
  const auto noteFailure = [&](int index) {
    if (IsWorthExplaining(m_port.LastOpenError())) problem = {index, m_port.LastOpenError()};
  };
  // A port kept while it has not answered does not end the story of a busy one.
  const auto finish = [&](bool connected) {
    m_lastProblem = serial::PortStatus::kOk;
    m_lastProblemText.clear();
    if ((connected && m_deviceAnswered) || problem.index < 0) {
      const std::string folderProblem = m_env.roots.portsFolderMustBePrivate
                                            ? ports::PrivateFolderProblem(m_env.roots.portsFolder)
                                            : std::string();
      m_surface.ShowPortProblem(folderProblem.empty() || connected
                                    ? std::string()
                                    : T(kPortsFolderRefused) + gbk::FromUtf8(folderProblem));
    } else {
      ExplainPortFailure(&entries[static_cast<std::size_t>(problem.index)], problem.error);
    }
    return connected;
  };
  const auto showClosed = [&] {
    ShowNoDeviceTexts(m, *m_decoder);
    m_surface.ShowPortDetails({});
    m_surface.UpdateData(false);
  };
  const auto finalOpen = [&](int index) {
    if (FinalOpen(index, portNames)) return finish(true);
    noteFailure(index);
    NotifyLinkDown();
    // The close step has closed the port: a window still saying "connected" would lie.
    if (PortIsUp()) showClosed();
    return finish(false);
  };
  const auto noDevice = [&] {
    // Nothing was probed, so a port from an earlier connection may still be open.
    if (m_port.IsOpen()) CloseStep();
    NotifyLinkDown();
    showClosed();
    return finish(false);
  };

  if (!m_pinnedPort.empty()) {
    const int index = IndexOfStableName(entries, m_pinnedPort);
    if (index >= 0 && ProbeEntry(index, portNames)) return finalOpen(index);
    if (index >= 0) noteFailure(index);
    if (m_port.IsOpen()) CloseStep();
    NotifyLinkDown();
    showClosed();
    finish(false);
    if (index < 0) m_surface.ShowPortProblem(T(kPinnedPortAbsent) + gbk::FromUtf8(m_pinnedPort));
    return false;
  }

  if (count <= 0) return noDevice();
  m_lastCandidateCount = CountCandidates(devicePaths, count);
  // One tracker: connected as it stands. Several candidates: each waits for its answer.
  const bool awaitEach = m_env.answerWaitMilliseconds > 0 && m_lastCandidateCount > 1;
  int firstSilent = -1;
  for (int i = 0; i < count; ++i) {
    const std::string& devicePath = devicePaths[static_cast<std::size_t>(i)];
    for (const char* word : {"USBSER", "Serial2"}) {
      if (!Contains(devicePath, word)) continue;
      if (!ProbeEntry(i, portNames)) {
        noteFailure(i);
        continue;
      }
      if (!awaitEach) return finalOpen(i);
      if (!FinalOpen(i, portNames)) {
        noteFailure(i);
        continue;
      }
      const Answer answer = AwaitAnswer(portNames[static_cast<std::size_t>(i)]);
      if (answer == Answer::kAnswered) return finish(true);
      if (answer == Answer::kSuperseded) return PortIsUp();
      if (firstSilent < 0) firstSilent = i;
      NotifyLinkDown();
      CloseStep();
      break;  // silent, not refused: its other word would only open it again
    }
  }
  // Every candidate that opened kept silent: the first of them, as the search found it, waits
  // for its answer (a busy one is tried again meanwhile, and the watch timer scans again).
  if (firstSilent >= 0) return finalOpen(firstSilent);
  if (count > g_knownPortCount) return finalOpen(count - 1);
  // -1: nothing probed yet. Any other value outside the list is treated alike.
  if (g_lastPortIndex < 0 || g_lastPortIndex >= count) return noDevice();
  return finalOpen(g_lastPortIndex);
}

// Pumps until the newly connected port delivers a frame, the time is up, or a handler run
// meanwhile has connected or closed a port of its own.
ConfigLogic::Answer ConfigLogic::AwaitAnswer(const std::string& portName) {
  const std::uint64_t connection = m_connection;
  const ports::PortEntry* entry = EntryNamed(m_lastPorts, portName);
  const std::string details = entry != nullptr ? PortDetailsText(*entry) : std::string();
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline =
      Clock::now() + std::chrono::milliseconds(m_env.answerWaitMilliseconds);
  while (!m_deviceAnswered && connection == m_connection && !m_ui.QuitRequested() &&
         Clock::now() < deadline) {
    PumpedDelay(m_ui, kAnswerLookMilliseconds);
  }
  if (connection != m_connection || m_ui.QuitRequested()) return Answer::kSuperseded;
  m_surface.ShowPortDetails(details);
  return m_deviceAnswered ? Answer::kAnswered : Answer::kSilent;
}

bool ConfigLogic::ProbeEntry(int index, const std::vector<std::string>& portNames) {
  CloseStep();
  m_surface.UpdateData(true);
  g_lastPortIndex = index;
  const int portNumber = ports::PortNumberOfName(portNames[static_cast<std::size_t>(index)]);
  return m_port.OpenPort(this, portNumber, kDeviceBaud, kParity, kDataBits, kStopBits, kEventMask,
                         kWriteBufferSize) != 0;
}

bool ConfigLogic::FinalOpen(int index, const std::vector<std::string>& portNames) {
  CloseStep();
  m_surface.UpdateData(true);
  g_lastPortIndex = index;
  const std::string& portName = portNames[static_cast<std::size_t>(index)];
  if (m_port.OpenPort(this, ports::PortNumberOfName(portName), kDeviceBaud, kParity, kDataBits,
                      kStopBits, kEventMask, kWriteBufferSize) == 0) {
    return false;
  }
  m_deviceAnswered = false;
  m_plainLines = 0;
  m_sentTexts.clear();
  m_namedHolders.clear();
  m_connectedAt = std::chrono::steady_clock::now();
  devlink::StartCleanStream(*m_decoder);
  // Without its monitor thread the port would neither read nor write: not a connection.
  if (m_port.StartMonitor() == 0) {
    CloseStep();
    return false;
  }
  ++m_connection;
  m.m_portState = T(kPortOpen);
  m.m_portName = gbk::FromUtf8(portName);
  // Connected only once the device has answered: until then no request goes out and no
  // station sequence starts.
  m.m_linkState = T(kWaitingForDevice);
  StartFirstFixClock();
  m.m_testResult = T(kTesting);
  m.m_gsmOk = false;
  m.m_gpsOk = false;
  m.m_keyOk = false;
  const ports::PortEntry* entry = EntryNamed(m_lastPorts, portName);
  m_surface.ShowPortDetails(entry != nullptr ? PortDetailsText(*entry) : std::string());
  m_surface.UpdateData(false);
  SendAtText("connect ok!#");
  m_surface.KillTestTimer();
  m_testTimedOut = false;
  if (m.m_testEnabled) StartFactoryTest();
  return true;
}

bool ConfigLogic::PortIsUp() const {
  return m.m_linkState == T(kLinkConnected) || m.m_linkState == T(kWaitingForDevice);
}

void ConfigLogic::TakeFrameAsWitness(std::string_view text) {
  const FrameWitness witness = WitnessOfFrame(text, m_sentTexts);
  if (witness == FrameWitness::kTracker ||
      (witness == FrameWitness::kLine && ++m_plainLines >= 2)) {
    MarkAnswered();
  }
}

void ConfigLogic::MarkAnswered() {
  m_deviceAnswered = true;
  if (m.m_linkState == T(kWaitingForDevice)) m.m_linkState = T(kLinkConnected);
  const std::string portName = gbk::ToUtf8(m.m_portName);
  const ports::PortEntry* entry = EntryNamed(m_lastPorts, portName);
  const std::string details = entry != nullptr ? PortDetailsText(*entry) : std::string();
  m_surface.ShowPortDetails(details);
  if (m_observer != nullptr) {
    m_linkUpNotified = true;
    m_observer->OnLinkUp(portName, details);
  }
}

void ConfigLogic::OnPortWatchTimer() {
  if (m_scansRunning > 0 || m_ui.QuitRequested()) return;
  using Clock = std::chrono::steady_clock;
  const Clock::time_point now = Clock::now();
  if (m_port.IsOpen() &&
      now - m_lastHolderLook >= std::chrono::milliseconds(m_env.holderLookMilliseconds)) {
    m_lastHolderLook = now;
    NameNewHolders();
  }
  // A silent port is kept only until another candidate might answer.
  if (PortIsUp() && !m_deviceAnswered && m_lastCandidateCount > 1 &&
      now - m_connectedAt >= std::chrono::milliseconds(m_env.silentRescanMilliseconds)) {
    ScanAndConnect();
  }
}

// Root passes TIOCEXCL, and a program may have the port open from before a flock: whoever
// shares our port now sees and sends part of the traffic, so the operator must know.
void ConfigLogic::NameNewHolders() {
  for (const ports::PortHolder& holder : m_port.OtherHolders()) {
    if (std::find(m_namedHolders.begin(), m_namedHolders.end(), holder.pid) !=
        m_namedHolders.end()) {
      continue;
    }
    m_namedHolders.push_back(holder.pid);
    const std::string text = T(kPortAlsoHeldBy) + gbk::FromUtf8(holder.command + " (PID " +
                                                                std::to_string(holder.pid) + ")");
    ShowNoticeOnStatusLine(text);
    m_surface.ShowPortProblem(text);
  }
}

void ConfigLogic::ExplainPortFailure(const ports::PortEntry* entry,
                                     const serial::PortError& error) {
  const std::string node = !error.device.empty() ? error.device
                           : entry != nullptr    ? entry->node
                                                 : std::string();
  m_lastProblem = error.status;
  m_lastProblemText = PortProblemText(error, node);
  m_surface.ShowPortProblem(m_lastProblemText);
}

void ConfigLogic::NotifyLinkDown() {
  if (!m_linkUpNotified) return;
  m_linkUpNotified = false;
  if (m_observer != nullptr) m_observer->OnLinkDown();
}

bool ConfigLogic::CurrentPortListed() {
  std::vector<std::string> names;
  const int count = EnumSerialPorts(nullptr, &names);
  const std::string current = gbk::ToUtf8(m.m_portName);
  return std::find(names.begin(), names.begin() + count, current) != names.begin() + count;
}

void ConfigLogic::CloseStep() {
  if (m_port.IsOpen() || m_port.IsMonitoring()) ++m_connection;
  m_port.ClosePort();
}

bool ConfigLogic::RegisterDeviceInterfaces() {
  notices::SourceError error;
  if (m_notices.Open(m_env.roots.portsFolder, m_env.useUdev, &error)) return true;
  m_surface.MessageBox(T(kRegisterNoticeFailed) + gbk::FromUtf8(SystemErrorText(
                                                      static_cast<std::uint32_t>(error.errorCode))),
                       MessageIcon::kExclamation, T(kAppTitle));
  return false;
}

int ConfigLogic::DeviceNoticeFd() const {
  return m_notices.fd();
}

void ConfigLogic::OnDeviceNoticesReadable() {
  // Read everything first: a notice that comes in during the wait then runs nested in it,
  // and the descriptor is not left readable under it.
  bool anyArrival = false;
  bool anyRemoval = false;
  for (const notices::DeviceNotice& notice : m_notices.ReadNotices()) {
    (notice.kind == notices::Kind::kArrival ? anyArrival : anyRemoval) = true;
  }
  if (anyArrival || anyRemoval) OnDeviceChanges(anyArrival, anyRemoval);
}

bool ConfigLogic::OnDeviceChange(std::uint32_t eventCode, std::uint32_t /*eventData*/) {
  if (eventCode == kDeviceArrival || eventCode == kDeviceRemoveComplete) {
    OnDeviceChanges(eventCode == kDeviceArrival, eventCode == kDeviceRemoveComplete);
  }
  return true;
}

void ConfigLogic::OnDeviceChanges(bool anyArrival, bool anyRemoval) {
  const Running running(m_scansRunning);
  const std::uint64_t batch = ++m_noticeBatches;
  // Any removal rescans, but only the tracker's own port going away ends its session.
  if (anyRemoval && m_linkUpNotified && !CurrentPortListed()) NotifyLinkDown();
  if (anyRemoval) CloseStep();
  PumpedDelay(m_ui, m_env.settleMilliseconds);
  // A quit asked for during the wait: no new connection on the way out.
  if (m_ui.QuitRequested()) return;
  if (anyRemoval) g_knownPortCount = EnumSerialPorts(nullptr, nullptr);
  const bool connected = ScanAndConnect();
  if (anyArrival && (!connected || !m_deviceAnswered)) RetryBusyPorts(batch);
}

// Tries again while the port stays busy or refused, until the time is up or a newer notice
// (handled inside one of the waits, with a retry of its own) takes over.
void ConfigLogic::RetryBusyPorts(std::uint64_t batch) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point end =
      Clock::now() + std::chrono::milliseconds(m_env.busyRetryMilliseconds);
  while (IsWorthRetrying(m_lastProblem)) {
    const auto left = std::chrono::ceil<std::chrono::seconds>(end - Clock::now()).count();
    if (left <= 0) {
      m_surface.ShowPortProblem(m_lastProblemText + T(kPortRetryGaveUp));
      return;
    }
    m_surface.ShowPortProblem(m_lastProblemText + T(kPortRetrying) + std::to_string(left));
    PumpedDelay(m_ui, m_env.busyRetryIntervalMilliseconds);
    if (m_ui.QuitRequested() || batch != m_noticeBatches) return;
    if (ScanAndConnect() && m_deviceAnswered) return;
  }
}

std::string ConfigLogic::SystemErrorText(std::uint32_t code) {
  // strerror's text follows the locale and reads "Unknown error N" for codes without one; the
  // error's name tells the two apart whatever the language.
  if (code <= kLargestErrno && ::strerrorname_np(static_cast<int>(code)) != nullptr) {
    std::string text = serial::ErrnoText(static_cast<int>(code));
    if (text.size() > 1 && text.back() == '\n') {
      text.pop_back();
      if (!text.empty() && text.back() == '\r') text.pop_back();
    }
    return text;
  }
  const auto signedCode = static_cast<std::int32_t>(code);
  if (signedCode >= kFirstDispatchCode && signedCode <= kLastDispatchCode) {
    const std::uint32_t w = (code - 0x200u) & 0xFFFFu;
    if (w != 0) return "IDispatch error #" + std::to_string(w);
  }
  char text[32];
  (void)std::snprintf(text, sizeof text, "Unknown error 0x%0lX", static_cast<unsigned long>(code));
  return text;
}

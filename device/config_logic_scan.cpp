// Port discovery, connection and hot-plug.

#include <algorithm>
#include <cstdio>
#include <cstring>

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
      return true;
    case serial::PortStatus::kOk:
    case serial::PortStatus::kNoDevice:
    case serial::PortStatus::kGone:
      return false;
  }
  return false;
}

constexpr const char* kModemManager = "ModemManager";

// "串口被其他程序占用: minicom (PID 812)", naming every holder this user can see.
std::string BusyText(const std::string& node) {
  const std::vector<ports::PortHolder> holders = ports::FindPortHolders(node);
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
      return BusyText(node);
    case serial::PortStatus::kNotPermitted:
      return T(kPortNotPermitted);
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

// The last failed open of a scan that the operator can do something about.
struct ScanProblem {
  int index = -1;
  serial::PortError error;
};

}  // namespace

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
  std::vector<std::string> devicePaths;
  std::vector<std::string> portNames;
  // A notice handled inside one of the waits below runs a scan of its own; this scan keeps
  // its own list.
  std::vector<ports::PortEntry> entries;
  const int count = EnumSerialPorts(&devicePaths, &portNames, &entries);
  m_lastPorts = entries;

  ScanProblem problem;
  const auto noteFailure = [&](int index) {
    if (IsWorthExplaining(m_port.LastOpenError())) problem = {index, m_port.LastOpenError()};
  };
  const auto finish = [&](bool connected) {
    if (connected || problem.index < 0) {
      m_surface.ShowPortProblem({});
    } else {
      ExplainPortFailure(&entries[static_cast<std::size_t>(problem.index)], problem.error);
    }
    return connected;
  };
  const auto finalOpen = [&](int index) {
    if (FinalOpen(index, portNames)) return finish(true);
    noteFailure(index);
    NotifyLinkDown();
    // The close step has closed the port: a window still saying "connected" would lie.
    if (m.m_linkState == T(kLinkConnected)) {
      ShowNoDeviceTexts(m, *m_decoder);
      m_surface.ShowPortDetails({});
      m_surface.UpdateData(false);
    }
    return finish(false);
  };
  const auto noDevice = [&] {
    // Nothing was probed, so a port from an earlier connection may still be open.
    if (m_port.IsOpen()) CloseStep();
    NotifyLinkDown();
    ShowNoDeviceTexts(m, *m_decoder);
    m_surface.ShowPortDetails({});
    m_surface.UpdateData(false);
    return finish(false);
  };

  if (count <= 0) return noDevice();
  for (int i = 0; i < count; ++i) {
    const std::string& devicePath = devicePaths[static_cast<std::size_t>(i)];
    if (Contains(devicePath, "USBSER")) {
      if (ProbeEntry(i, portNames)) return finalOpen(i);
      noteFailure(i);
    }
    if (Contains(devicePath, "Serial2")) {
      if (ProbeEntry(i, portNames)) return finalOpen(i);
      noteFailure(i);
    }
  }
  if (count > g_knownPortCount) return finalOpen(count - 1);
  // -1: nothing probed yet. Any other value outside the list is treated alike.
  if (g_lastPortIndex < 0 || g_lastPortIndex >= count) return noDevice();
  return finalOpen(g_lastPortIndex);
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
  // Without its monitor thread the port would neither read nor write: not a connection.
  if (m_port.StartMonitor() == 0) {
    CloseStep();
    return false;
  }
  m.m_portState = T(kPortOpen);
  m.m_portName = gbk::FromUtf8(portName);
  m.m_linkState = T(kLinkConnected);
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
  if (m_observer != nullptr) {
    m_linkUpNotified = true;
    m_observer->OnLinkUp(portName, entry != nullptr ? PortDetailsText(*entry) : std::string());
  }
  return true;
}

void ConfigLogic::ExplainPortFailure(const ports::PortEntry* entry,
                                     const serial::PortError& error) {
  const std::string node = !error.device.empty() ? error.device
                           : entry != nullptr    ? entry->node
                                                 : std::string();
  m_surface.ShowPortProblem(PortProblemText(error, node));
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
  // Read everything first: a notice that comes in during one handler's wait then runs nested
  // in that wait, and the descriptor is not left readable under it.
  for (const notices::DeviceNotice& notice : m_notices.ReadNotices()) {
    const bool arrived = notice.kind == notices::Kind::kArrival;
    OnDeviceChange(arrived ? kDeviceArrival : kDeviceRemoveComplete, 0);
  }
}

bool ConfigLogic::OnDeviceChange(std::uint32_t eventCode, std::uint32_t /*eventData*/) {
  if (eventCode == kDeviceArrival) {
    PumpedDelay(m_ui, m_env.settleMilliseconds);
    // A quit asked for during the wait: no new connection on the way out.
    if (!m_ui.QuitRequested()) ScanAndConnect();
  } else if (eventCode == kDeviceRemoveComplete) {
    // Any removal rescans, but only the tracker's own port going away ends its session.
    if (m_linkUpNotified && !CurrentPortListed()) NotifyLinkDown();
    CloseStep();
    PumpedDelay(m_ui, m_env.settleMilliseconds);
    if (!m_ui.QuitRequested()) {
      g_knownPortCount = EnumSerialPorts(nullptr, nullptr);
      ScanAndConnect();
    }
  }
  return true;
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

#include "device/config_logic.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "link/frame_encoder.h"
#include "platform/gbk.h"
#include "platform/serial_io.h"

namespace {

constexpr std::string_view kReplyPrefix = "AT+uart:";
// The window's look at the port; the environment's times decide what each look does.
constexpr int kPortWatchMilliseconds = 1000;
// Texts of the frames sent on one connection that an echo is compared with.
constexpr std::size_t kRememberedSentTexts = 16;

// Every write went to the file when it was made, so a failing close has nothing left to lose.
void CloseLogFile(int& fd) {
  if (fd >= 0) (void)::close(fd);
  fd = -1;
}

// Appends `text` (whole CR LF lines) in one write where the system allows. 0 on success, else
// errno; then the file is cut back to the last whole line, so it never ends in half of one.
int AppendWholeLines(int fd, const std::string& text) {
  const off_t start = ::lseek(fd, 0, SEEK_END);
  std::size_t written = 0;
  while (written < text.size()) {
    const ssize_t count = ::write(fd, text.data() + written, text.size() - written);
    if (count > 0) {
      written += static_cast<std::size_t>(count);
      continue;
    }
    if (count < 0 && errno == EINTR) continue;
    const int error = count < 0 ? errno : EIO;
    if (start >= 0) {
      const std::size_t lineEnd = text.rfind("\r\n", written >= 2 ? written - 2 : 0);
      const std::size_t keep =
          lineEnd == std::string::npos || written < 2 ? 0 : std::min(lineEnd + 2, written);
      (void)::ftruncate(fd, start + static_cast<off_t>(keep));
    }
    return error;
  }
  return 0;
}

}  // namespace

ConfigLogic::ConfigLogic(DialogState& state, DialogSurface& surface, UiDispatcher& ui,
                         ConsoleEnvironment environment)
    : m(state),
      m_surface(surface),
      m_ui(ui),
      m_env(std::move(environment)),
      m_decoder(std::make_unique<devlink::FrameDecoder>()),
      m_port(ui) {
  if (m_env.roots.portsFolder.empty()) {
    m_env.roots.portsFolder = serial::PortsFolder();
    m_env.roots.portsFolderMustBePrivate = true;
  }
  m_port.SetDeviceFolders(m_env.roots.dev, m_env.roots.portsFolder);
  m_port.SetLockFolder(m_env.lockFolder);
}

ConfigLogic::~ConfigLogic() {
  CloseLogFile(m_logFile);
}

void ConfigLogic::OnInitDialog() {
  RegisterDeviceInterfaces();
  m_surface.StartPortWatchTimer(kPortWatchMilliseconds);
  g_knownPortCount = EnumSerialPorts(nullptr, nullptr);
  ScanAndConnect();
}

void ConfigLogic::OnExit() {
  CloseStep();
}

void ConfigLogic::OnClearCommand() {
  m_surface.UpdateData(true);
  m.m_sendText.clear();
  m_surface.UpdateData(false);
}

// ---------------------------------------------------------------------------------------
// Receive path

void ConfigLogic::OnPortData(const RxSlot& slot, int /*portNumber*/) {
  m_surface.UpdateData(true);
  m_surface.ReceiveStarted();
  std::string fileText;
  std::string paneText;
  if (slot.byteCount > 0) {
    // A slot never holds more than its buffer, whatever its count claims.
    const int count = std::min<int>(slot.byteCount, static_cast<int>(sizeof slot.bytes));
    devlink::DecodeChunk(*m_decoder, slot.bytes, count, [&](const devlink::DecodedFrame& frame) {
      const std::string_view text = frame.text;
      if (!m_deviceAnswered) TakeFrameAsWitness(text);
      const bool nmea = !text.empty() && text.front() == '$';
      if (nmea) {
        // The parser takes a NUL-terminated text; one buffer serves every sentence of a flood.
        thread_local std::string sentence;
        sentence.assign(text);
        ParseNmea(sentence.c_str());
      }
      if (!nmea || m_logOptions.showNmea)
        LogReceived(frame.sequence, text, nmea, fileText, paneText);
      if (!nmea && text.substr(0, kReplyPrefix.size()) == kReplyPrefix) {
        std::string reply(text.substr(kReplyPrefix.size()));
        reply += "\r\n";
        ParseReply(reply.c_str());
        if (m_observer != nullptr && m_deviceAnswered) m_observer->OnReply(reply.c_str());
      }
    });
  }
  m_surface.UpdateData(false);
  m_surface.ReceiveEnded();
  if (m.m_pauseCaption == T(kPauseDisplay)) m_surface.AppendToLogPane(paneText);
  WriteLogFile(fileText);
}

// The frame's line for the pane (in the operator's time form) and for the file (in the standard
// form unless the extras go there too). An NMEA line reaches the file only with the extras.
void ConfigLogic::LogReceived(std::int32_t sequence, std::string_view text, bool nmea,
                              std::string& fileText, std::string& paneText) {
  const std::string number = std::to_string(sequence);
  const std::string time = loglines::Now(m_logOptions.dateAndMilliseconds);
  std::string line = loglines::Compose(number, time, text);
  if (m_logOptions.extrasInFile) {
    fileText += line;
  } else if (!nmea) {
    // The same moment in the standard form: the time of day inside the longer time.
    fileText += m_logOptions.dateAndMilliseconds
                    ? loglines::Compose(number, loglines::TimeOfDayPart(time), text)
                    : line;
  }
  if (m.m_pauseCaption == T(kPauseDisplay)) paneText += line;
}

// A frame the console queued, as its own marked line: in the pane while the display runs, in
// the file only with the extras.
void ConfigLogic::LogSent(std::string frameText) {
  frameText.resize(
      std::min<std::size_t>(frameText.size(), static_cast<std::size_t>(devlink::kTextAreaSize)));
  const std::string line = loglines::Compose(
      loglines::kSentMarker, loglines::Now(m_logOptions.dateAndMilliseconds), frameText);
  if (m.m_pauseCaption == T(kPauseDisplay)) m_surface.AppendSentToLogPane(line);
  if (m_logOptions.extrasInFile) WriteLogFile(line);
}

void ConfigLogic::ShowPortError(const std::string& text) {
  m_surface.MessageBox(gbk::FromUtf8(text), MessageIcon::kError, T(kPortErrorCaption));
}

void ConfigLogic::OnMonitorEnded(int /*portNumber*/) {
  // The port went away under the monitor thread (unplugged, or its peer died without a
  // notice). Handle it as a removal, so the window never shows a connection that is gone;
  // a removal notice arriving as well only rescans once more.
  NotifyLinkDown();
  OnDeviceChange(kDeviceRemoveComplete, 0);
}

// ---------------------------------------------------------------------------------------
// Encoders

void ConfigLogic::SendUartCommand(const char* command) {
  const devlink::StuffedFrame frame = devlink::EncodeUartCommand(command);
  m_port.QueueWrite(reinterpret_cast<const char*>(frame.bytes.data()), frame.length);
  RememberSent(frame);
  LogSent("AT+uart:" + std::string(command) + "#");
}

void ConfigLogic::SendAtText(const char* text) {
  const devlink::StuffedFrame frame = devlink::EncodeAtText(text);
  m_port.QueueWrite(reinterpret_cast<const char*>(frame.bytes.data()), frame.length);
  RememberSent(frame);
  LogSent("AT:" + std::string(text));
}

// What our frame reads as when it comes back (a loopback): decoded by the receive side itself,
// since the device's frame layout differs from ours and so does the text it finds in ours.
void ConfigLogic::RememberSent(const devlink::StuffedFrame& frame) {
  devlink::FrameDecoder echo;
  devlink::DecodeChunk(echo, frame.bytes.data(), frame.length,
                       [this](const devlink::DecodedFrame& decoded) {
                         if (m_sentTexts.size() >= kRememberedSentTexts) {
                           m_sentTexts.erase(m_sentTexts.begin());
                         }
                         m_sentTexts.emplace_back(decoded.text);
                       });
}

// ---------------------------------------------------------------------------------------
// GPS

void ConfigLogic::ParseNmea(const char* sentence) {
  // Built once: a receiver sends several sentences a second, a flood thousands.
  static const gps::NmeaTexts kTexts{T(kNoFix), T(kFixNonDifferential), T(kFixDifferential),
                                     T(kFixInvalid), T(kFixed)};
  const gps::NmeaOutcome outcome = gps::ParseNmea(sentence, kTexts, m_gps, m);
  if (outcome.setIndicator) m_surface.SetUpdateIndicator(outcome.indicatorOn);
  if (outcome.refresh) m_surface.UpdateData(false);
}

void ConfigLogic::StartFirstFixClock() {
  gps::ForgetReceiver(m_gps, m);
  m_gps.firstFix.Start();
  m.m_ttff.clear();
}

// ---------------------------------------------------------------------------------------
// Log pane and file

void ConfigLogic::OnPauseDisplay() {
  m_surface.UpdateData(true);
  m.m_pauseCaption = m.m_pauseCaption == T(kPauseDisplay) ? T(kStartDisplay) : T(kPauseDisplay);
  m_surface.UpdateData(false);
}

void ConfigLogic::OnClearDisplay() {
  m_surface.UpdateData(true);
  m_surface.ClearLogPane();
  m_surface.UpdateData(false);
}

// What a new recording starts with: the pane's text as received, in the file's form.
std::string ConfigLogic::RecordingStartText() {
  std::string text = m_surface.LogPaneText();
  return m_logOptions.extrasInFile ? text : loglines::StandardText(std::move(text));
}

void ConfigLogic::OnSaveToFile() {
  if (m.m_saveCaption != T(kSaveToFile)) {
    CloseLogFile(m_logFile);
    m.m_saving = false;
    m.m_saveCaption = T(kSaveToFile);
    m_surface.UpdateData(false);
    return;
  }
  const std::optional<std::string> path = m_surface.AskLogFileName();
  if (!path) return;
  // Recording is marked on only once the file exists and holds the pane's text.
  int fd = ::open(path->c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  const int error = fd < 0 ? errno : AppendWholeLines(fd, RecordingStartText());
  if (error != 0) {
    CloseLogFile(fd);
    m_surface.MessageBox(T(kLogFileFailed) + gbk::FromUtf8(*path + "\n" + serial::ErrnoText(error)),
                         MessageIcon::kExclamation, T(kAppTitle));
    return;
  }
  m_logFile = fd;
  m_logFilePath = *path;
  m.m_saving = true;
  m.m_saveCaption = T(kStopSaving);
  m_surface.UpdateData(false);
}

void ConfigLogic::ShowNoticeOnStatusLine(const std::string& text) {
  m_surface.ShowStatusLine(text);
  const std::string time = loglines::Now(m_logOptions.dateAndMilliseconds);
  const std::string line = loglines::Compose("*", time, text);
  if (m.m_pauseCaption == T(kPauseDisplay)) m_surface.AppendToLogPane(line);
  WriteLogFile(m_logOptions.extrasInFile
                   ? line
                   : loglines::Compose("*", loglines::TimeOfDayPart(time), text));
}

void ConfigLogic::WriteLogFile(const std::string& text) {
  if (!m.m_saving || m_logFile < 0) return;
  // Lines written to a file nobody can reach any more are lost all the same.
  struct stat info {};
  if (::fstat(m_logFile, &info) == 0 && info.st_nlink == 0) {
    StopRecording(T(kLogFileDeleted));
    return;
  }
  const int error = AppendWholeLines(m_logFile, text);
  if (error != 0) StopRecording(gbk::FromUtf8(serial::ErrnoText(error)));
}

// A full disk, a vanished medium or a deleted file: stop rather than pretend to record. The
// box opens after the receive handler has returned, so the port is not held up meanwhile.
void ConfigLogic::StopRecording(const std::string& gbkReason) {
  CloseLogFile(m_logFile);
  m.m_saving = false;
  m.m_saveCaption = T(kSaveToFile);
  m_surface.UpdateData(false);
  const std::string text = T(kLogFileWriteFailed) + gbk::FromUtf8(m_logFilePath) + "\n" + gbkReason;
  m_ui.Post([this, text] { m_surface.MessageBox(text, MessageIcon::kExclamation, T(kAppTitle)); });
}

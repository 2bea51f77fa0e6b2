#pragma once
// Everything the logic does that reaches the screen. CConfigDlg implements it with widgets;
// tests implement it to watch what the operator would see.

#include <optional>
#include <string>

enum class MessageIcon { kNone, kExclamation, kError };

class DialogSurface {
 public:
  virtual ~DialogSurface() = default;

  // TRUE: controls to members; FALSE: members to controls (every bound member at once).
  virtual void UpdateData(bool saveAndValidate) = 0;

  // A modal message box with an OK button; returns when the operator has closed it.
  virtual void MessageBox(const std::string& gbkText, MessageIcon icon,
                          const std::string& gbkCaption) = 0;

  // A reply's success notice (caption: the window title). The window keeps one notice box and
  // adds a newer text to it, so it may return while the box is still open; by default it is
  // a modal box like any other.
  virtual void ShowNotice(const std::string& gbkText, const std::string& gbkCaption) {
    MessageBox(gbkText, MessageIcon::kNone, gbkCaption);
  }

  // Starts (or restarts) the one-shot notice timer; when it fires the surface calls
  // ConfigLogic::NoticeTimerProc.
  virtual void StartNoticeTimer(int milliseconds) = 0;
  virtual void KillNoticeTimer() = 0;

  // The log pane (control 1004): append at the end (scrolling only if the view was at the
  // bottom), read all of it, empty it. Texts are GBK with CR LF line ends.
  virtual void AppendToLogPane(const std::string& gbkText) = 0;
  virtual std::string LogPaneText() = 0;
  virtual void ClearLogPane() = 0;
  // A frame the console sent, as its own marked line (GBK, CR LF). Surfaces without a pane of
  // their own ignore it.
  virtual void AppendSentToLogPane(const std::string& /*gbkLine*/) {}

  // Control 1098, the GPS update indicator.
  virtual void SetUpdateIndicator(bool on) = 0;

  // The Save As dialog for the log file: a path in the file system's encoding, or nullopt
  // when the operator cancelled.
  virtual std::optional<std::string> AskLogFileName() = 0;

  // A line under the status group telling the operator why a listed port could not be used
  // (busy, not permitted, ...); empty text hides it. Never a message box.
  virtual void ShowPortProblem(const std::string& gbkText) = 0;

  // The USB identity of the current port, for the operator (a tooltip on the port name).
  virtual void ShowPortDetails(const std::string& utf8Text) = 0;

  // A scan has listed the ports anew (ConfigLogic::LastPortList), for a port chooser.
  virtual void PortListChanged() {}

  // Station mode: a notice goes to a status line instead of a box.
  virtual void ShowStatusLine(const std::string& /*gbkText*/) {}

  // A received chunk's exchanges come between these two calls. A refresh there may reach the
  // screen a little later (within a frame), so a flooding device does not repaint the window
  // for every chunk; the members change at once either way.
  virtual void ReceiveStarted() {}
  virtual void ReceiveEnded() {}

  // The factory test's time-out, a one-shot timer; when it fires the surface calls
  // ConfigLogic::OnTestTimerProc. Without one the result waits for the device alone.
  virtual void StartTestTimer(int /*milliseconds*/) {}
  virtual void KillTestTimer() {}

  // A repeating timer that calls ConfigLogic::OnPortWatchTimer every `milliseconds`.
  virtual void StartPortWatchTimer(int /*milliseconds*/) {}
};

#pragma once
// A DialogSurface that keeps what the operator would see. Its controls are a copy of the state:
// UpdateData(FALSE) copies the members to it, TRUE back, so a test can type into a control.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "device/dialog_state.h"
#include "device/dialog_surface.h"

struct ShownBox {
  std::string text;  // GBK
  MessageIcon icon;
  std::string caption;
};

class RecordingSurface : public DialogSurface {
 public:
  explicit RecordingSurface(DialogState& state) : state_(state), controls_(state) {}

  void UpdateData(bool saveAndValidate) override;
  void MessageBox(const std::string& gbkText, MessageIcon icon,
                  const std::string& gbkCaption) override;
  void StartNoticeTimer(int milliseconds) override;
  void KillNoticeTimer() override { noticeTimerRunning = false; }
  void AppendToLogPane(const std::string& gbkText) override;
  std::string LogPaneText() override { return pane; }
  void ClearLogPane() override { pane.clear(); }
  void SetUpdateIndicator(bool on) override { indicatorHistory.push_back(on); }
  std::optional<std::string> AskLogFileName() override { return nextLogFileName; }
  void ShowPortProblem(const std::string& gbkText) override {
    portProblem = gbkText;
    if (onPortProblem) onPortProblem();
  }
  void ShowPortDetails(const std::string& utf8Text) override { portDetails = utf8Text; }
  void ShowStatusLine(const std::string& gbkText) override { statusLine = gbkText; }
  void StartPortWatchTimer(int milliseconds) override { portWatchInterval = milliseconds; }

  // The widgets' side of the data exchange: what each control shows.
  DialogState& Controls() { return controls_; }

  // Runs when a box is shown (e.g. to check state at that moment); boxes are recorded first.
  std::function<void(const ShownBox&)> onBox;
  std::function<void()> onPortProblem;

  std::vector<ShownBox> boxes;
  std::string pane;
  int paneAppends = 0;
  int refreshes = 0;  // UpdateData(FALSE)
  int saves = 0;      // UpdateData(TRUE)
  std::vector<bool> indicatorHistory;
  bool noticeTimerRunning = false;
  int noticeTimerInterval = 0;
  int noticeTimerStarts = 0;
  std::optional<std::string> nextLogFileName;
  std::string portProblem;
  std::string portDetails;
  std::string statusLine;
  int portWatchInterval = 0;  // the harness's RunUntil fires it (0: not started)

  // Convenience: the texts of the boxes shown so far.
  std::vector<std::string> BoxTexts() const;

 private:
  DialogState& state_;
  DialogState controls_;
};

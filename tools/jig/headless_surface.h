#pragma once
// The dialog's surface without a screen, for the jig: nothing is drawn; message boxes and the
// status line become notices the jig reports; the notice and test timers fire from the jig's
// own loop (FireDueTimers).

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "device/dialog_surface.h"

class ConfigLogic;

namespace jig {

class HeadlessSurface final : public DialogSurface {
 public:
  void Attach(ConfigLogic* logic) { logic_ = logic; }
  // Runs the timer procedures whose time has come.
  void FireDueTimers();
  // What the operator would have been told since the last call (UTF-8), oldest first.
  std::vector<std::string> TakeNotices();
  [[nodiscard]] const std::string& PortProblem() const { return portProblem_; }

  void UpdateData(bool /*saveAndValidate*/) override {}
  void MessageBox(const std::string& gbkText, MessageIcon icon,
                  const std::string& gbkCaption) override;
  void StartNoticeTimer(int milliseconds) override { noticeDue_ = After(milliseconds); }
  void KillNoticeTimer() override { noticeDue_.reset(); }
  void AppendToLogPane(const std::string& /*gbkText*/) override {}
  std::string LogPaneText() override { return {}; }
  void ClearLogPane() override {}
  void SetUpdateIndicator(bool /*on*/) override {}
  std::optional<std::string> AskLogFileName() override { return std::nullopt; }
  void ShowPortProblem(const std::string& gbkText) override;
  void ShowPortDetails(const std::string& /*utf8Text*/) override {}
  void ShowStatusLine(const std::string& gbkText) override;
  void StartTestTimer(int milliseconds) override { testDue_ = After(milliseconds); }
  void KillTestTimer() override { testDue_.reset(); }

 private:
  using Clock = std::chrono::steady_clock;
  static Clock::time_point After(int milliseconds) {
    return Clock::now() + std::chrono::milliseconds(milliseconds);
  }

  ConfigLogic* logic_ = nullptr;
  std::optional<Clock::time_point> noticeDue_;
  std::optional<Clock::time_point> testDue_;
  std::vector<std::string> notices_;
  std::string portProblem_;
};

}  // namespace jig

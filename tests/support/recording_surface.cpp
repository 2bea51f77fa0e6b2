#include "tests/support/recording_surface.h"

void RecordingSurface::UpdateData(bool saveAndValidate) {
  if (saveAndValidate) {
    ++saves;
    state_ = controls_;
  } else {
    ++refreshes;
    controls_ = state_;
  }
}

void RecordingSurface::MessageBox(const std::string& gbkText, MessageIcon icon,
                                  const std::string& gbkCaption) {
  boxes.push_back({gbkText, icon, gbkCaption});
  if (onBox) onBox(boxes.back());
}

void RecordingSurface::StartNoticeTimer(int milliseconds) {
  noticeTimerRunning = true;
  noticeTimerInterval = milliseconds;
  ++noticeTimerStarts;
}

void RecordingSurface::AppendToLogPane(const std::string& gbkText) {
  ++paneAppends;
  pane += gbkText;
}

std::vector<std::string> RecordingSurface::BoxTexts() const {
  std::vector<std::string> out;
  for (const auto& b : boxes) out.push_back(b.text);
  return out;
}

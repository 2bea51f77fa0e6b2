#include "tools/jig/headless_surface.h"

#include "device/config_logic.h"
#include "platform/gbk.h"

namespace jig {

void HeadlessSurface::FireDueTimers() {
  const auto now = Clock::now();
  if (noticeDue_ && *noticeDue_ <= now) {
    noticeDue_.reset();
    if (logic_ != nullptr) logic_->NoticeTimerProc();
  }
  if (testDue_ && *testDue_ <= now) {
    testDue_.reset();
    if (logic_ != nullptr) logic_->OnTestTimerProc();
  }
}

std::vector<std::string> HeadlessSurface::TakeNotices() {
  std::vector<std::string> taken;
  taken.swap(notices_);
  return taken;
}

void HeadlessSurface::MessageBox(const std::string& gbkText, MessageIcon /*icon*/,
                                 const std::string& /*gbkCaption*/) {
  notices_.push_back(gbk::ToUtf8(gbkText));
}

void HeadlessSurface::ShowPortProblem(const std::string& gbkText) {
  portProblem_ = gbk::ToUtf8(gbkText);
  if (!portProblem_.empty()) notices_.push_back(portProblem_);
}

void HeadlessSurface::ShowStatusLine(const std::string& /*gbkText*/) {
  // The sequence's own progress says the same; the status line is the window's.
}

}  // namespace jig

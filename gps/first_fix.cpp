#include "gps/first_fix.h"

#include <algorithm>
#include <utility>

namespace gps {

FirstFixClock::FirstFixClock() : now_([] { return std::chrono::steady_clock::now(); }) {}

void FirstFixClock::Start() {
  start_ = now_();
  waiting_ = true;
  fixed_ = false;
  result_ = {};
}

bool FirstFixClock::OnFixState(bool fixed) {
  const bool was = std::exchange(fixed_, fixed);
  if (!fixed) {
    // Lost: the next fix is timed from here, as a re-acquisition.
    if (was && !waiting_) {
      start_ = now_();
      waiting_ = true;
    }
    return false;
  }
  if (was || !waiting_) return false;
  waiting_ = false;
  const std::chrono::duration<double> elapsed = now_() - start_;
  result_ = {};
  result_.have = true;
  result_.seconds = std::max(0.0, elapsed.count());
  return true;
}

void FirstFixClock::Record(int satellitesUsed, std::vector<SatelliteSignal> usedSignals) {
  result_.satellitesUsed = satellitesUsed;
  result_.bestSignalDbHz = 0;
  for (const SatelliteSignal& signal : usedSignals) {
    result_.bestSignalDbHz = std::max(result_.bestSignalDbHz, signal.snrDbHz);
  }
  result_.usedSignals = std::move(usedSignals);
}

}  // namespace gps

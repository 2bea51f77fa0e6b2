#pragma once
// Time to first fix: how long the receiver took from the connection (or from reporting that
// it lost its fix) to a fix, with the satellites used and their signals at that moment.

#include <chrono>
#include <functional>
#include <utility>
#include <vector>

#include "gps/satellites.h"

namespace gps {

struct FirstFix {
  bool have = false;       // a fix was reached since the clock started
  double seconds = 0;      // from the start (connection, or the loss of the last fix)
  int satellitesUsed = 0;  // in that fix
  int bestSignalDbHz = 0;  // strongest used satellite, 0 when none reported a signal
  std::vector<SatelliteSignal> usedSignals;
};

using SteadyClock = std::function<std::chrono::steady_clock::time_point()>;

// Started when a connection is made; the parser tells it when the fix comes and goes.
class FirstFixClock {
 public:
  FirstFixClock();
  explicit FirstFixClock(SteadyClock now) : now_(std::move(now)) {}

  // A connection: forget the last result and time the next fix from now.
  void Start();
  // The receiver reports a fix (true) or no fix (false). Returns true when this completes a
  // measurement (the caller then records the satellites with Record).
  bool OnFixState(bool fixed);
  void Record(int satellitesUsed, std::vector<SatelliteSignal> usedSignals);

  [[nodiscard]] const FirstFix& Result() const { return result_; }
  [[nodiscard]] bool Waiting() const { return waiting_; }

 private:
  SteadyClock now_;
  std::chrono::steady_clock::time_point start_{};
  bool waiting_ = false;  // started and no fix yet
  bool fixed_ = false;
  FirstFix result_;
};

}  // namespace gps

#pragma once
// How the jig shows its events: JSON lines, or for a person one line per unit with its step and
// elapsed time (redrawn in place on a terminal, appended otherwise), notices above them and a
// summary at the end.

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/jig/jig_events.h"

namespace jig {

class JsonLinesView final : public EventSink {
 public:
  explicit JsonLinesView(std::FILE* out) : out_(out) {}
  void OnEvent(const UnitEvent& event) override;

 private:
  std::FILE* out_;
};

class LiveView final : public EventSink {
 public:
  // `inPlace`: redraw the unit lines where they stand (a terminal); otherwise print each change.
  LiveView(std::FILE* out, bool inPlace) : out_(out), inPlace_(inPlace) {}
  void OnEvent(const UnitEvent& event) override;
  void OnIdle() override;

 private:
  using Clock = std::chrono::steady_clock;
  struct Row {
    std::string unit;
    std::string state;  // the step, or PASS / FAIL
    std::string detail;
    Clock::time_point since;   // when the unit was connected
    double finalSeconds = -1;  // set with the verdict
  };

  Row& RowOf(const UnitEvent& event);
  [[nodiscard]] std::string Line(const Row& row) const;
  void PrintAbove(const std::string& text);
  void Redraw();

  std::FILE* out_;
  bool inPlace_;
  std::vector<Row> rows_;
  std::size_t drawn_ = 0;  // unit lines on screen below the notices
};

}  // namespace jig

#include "tools/jig/jig_view.h"

namespace jig {

namespace {

// The first reason of a failed unit, as a person reads it.
std::string ReasonText(const records::UnitRecord& record) {
  if (record.passed) return "IMEI " + record.imei;
  if (record.reasons.empty()) return "failed";
  const records::FailReason& reason = record.reasons.front();
  std::string text = reason.step + ": expected " + reason.expected + ", got " + reason.actual;
  if (record.reasons.size() > 1) {
    text += " (+" + std::to_string(record.reasons.size() - 1) + " more)";
  }
  return text;
}

}  // namespace

void JsonLinesView::OnEvent(const UnitEvent& event) {
  std::fprintf(out_, "%s\n", ToJsonLine(event).c_str());
  std::fflush(out_);
}

LiveView::Row& LiveView::RowOf(const UnitEvent& event) {
  for (Row& row : rows_) {
    if (row.unit == event.unit) return row;
  }
  const auto elapsed = std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(event.elapsedSeconds));
  rows_.push_back({event.unit, "", "", Clock::now() - elapsed});
  return rows_.back();
}

std::string LiveView::Line(const Row& row) const {
  const double seconds = row.finalSeconds >= 0
                             ? row.finalSeconds
                             : std::chrono::duration<double>(Clock::now() - row.since).count();
  char head[160];
  std::snprintf(head, sizeof head, "%-20s %-9s %7.1fs  ", row.unit.c_str(), row.state.c_str(),
                seconds);
  return head + row.detail;
}

void LiveView::PrintAbove(const std::string& text) {
  if (inPlace_ && drawn_ > 0) std::fprintf(out_, "\x1b[%zuA", drawn_);
  std::fprintf(out_, "%s%s\n", inPlace_ ? "\r\x1b[2K" : "", text.c_str());
  drawn_ = 0;
  if (inPlace_) Redraw();
  std::fflush(out_);
}

void LiveView::Redraw() {
  if (drawn_ > 0) std::fprintf(out_, "\x1b[%zuA", drawn_);
  for (const Row& row : rows_) std::fprintf(out_, "\r\x1b[2K%s\n", Line(row).c_str());
  drawn_ = rows_.size();
  std::fflush(out_);
}

void LiveView::OnEvent(const UnitEvent& event) {
  switch (event.kind) {
    case UnitEvent::Kind::kStep: {
      Row& row = RowOf(event);
      // A new unit on a port that already showed a verdict starts a fresh line.
      if (row.finalSeconds >= 0) {
        row = {event.unit, "", "", Clock::now()};
      }
      row.state = event.step;
      row.detail = event.detail;
      if (!inPlace_) std::fprintf(out_, "%s\n", Line(row).c_str());
      break;
    }
    case UnitEvent::Kind::kVerdict: {
      Row& row = RowOf(event);
      row.state = event.record.passed ? "PASS" : "FAIL";
      row.detail = ReasonText(event.record);
      row.finalSeconds = event.elapsedSeconds;
      if (!inPlace_) std::fprintf(out_, "%s\n", Line(row).c_str());
      break;
    }
    case UnitEvent::Kind::kRecord:
      if (!event.stored || !event.detail.empty()) {
        PrintAbove("records: " + (event.detail.empty() ? "not stored" : event.detail));
      }
      break;
    case UnitEvent::Kind::kNotice:
      PrintAbove((event.unit.empty() ? "" : event.unit + ": ") + event.detail);
      break;
    case UnitEvent::Kind::kSummary: {
      // Last of all, below the units' final lines.
      char text[160];
      std::snprintf(text, sizeof text, "%d unit%s tested: %d passed, %d failed (%.1fs)",
                    event.units, event.units == 1 ? "" : "s", event.passed, event.failed,
                    event.elapsedSeconds);
      if (inPlace_) Redraw();
      std::fprintf(out_, "%s\n", text);
      std::fflush(out_);
      rows_.clear();
      drawn_ = 0;
      return;
    }
  }
  if (inPlace_) Redraw();
  std::fflush(out_);
}

void LiveView::OnIdle() {
  if (inPlace_ && !rows_.empty()) Redraw();
}

}  // namespace jig

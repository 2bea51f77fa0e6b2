#pragma once
// What the line's people read off the records: units per hour, yields, the failure Pareto, the
// GPS measures as distributions, the last units and one unit's history. Each figure is one SQL
// text run unchanged on the SQLite file and on the PostgreSQL server, so the console's charts
// and the board can never disagree. A reader opens its own read-only connection and is used
// from one thread at a time.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "records/record_store.h"

namespace records {

// Records started within [fromUtc, toUtc), ISO 8601 UTC like the records' own times.
struct FigureWindow {
  std::string fromUtc;
  std::string toUtc;
};

struct HourCount {
  std::string hourUtc;  // "2026-12-06T23": the hour's first 13 characters
  std::string station;
  std::int64_t tested = 0;
  std::int64_t passed = 0;
};

// Units are told apart by IMEI; a record without one (the unit never identified itself) is
// counted apart, as no unit can be followed through its retests without it.
struct Yields {
  std::int64_t units = 0;        // distinct IMEIs tested in the window
  std::int64_t firstPassed = 0;  // ... whose first test in the window passed
  std::int64_t finalPassed = 0;  // ... whose last test in the window passed
  std::int64_t records = 0;      // every test, with or without an IMEI
  std::int64_t unidentified = 0;
};

struct ParetoEntry {
  std::string step;
  std::string reason;  // what was expected: the stable part of a reason
  std::int64_t count = 0;
};

// Failed units per step (a unit counted once per step), and every reason as given.
struct Pareto {
  std::vector<ParetoEntry> steps;    // reason empty
  std::vector<ParetoEntry> reasons;  // most frequent first
};

enum class GpsMeasure { kTtff, kSatellitesUsed, kBestSignal };

// Equal buckets from `low`; what falls below or at/above the last edge is counted apart.
struct Histogram {
  GpsMeasure measure = GpsMeasure::kTtff;
  double low = 0;
  double width = 1;
  std::vector<std::int64_t> counts;
  std::int64_t below = 0;
  std::int64_t above = 0;
  std::int64_t missing = 0;  // records without the measure
  double limit = 0;
  bool limitIsMaximum = false;  // true: values up to the limit pass (a time); false: at least it
  std::int64_t withinLimit = 0;
};

// The limits the board draws the distributions against (the station's GPS criteria).
struct GpsLimits {
  double fixWithinSeconds = 120;
  int minSatellitesUsed = 4;
  int strongSignalDbHz = 35;
};

struct UnitSummary {
  std::string recordId;
  std::string startedUtc;
  std::string station;
  std::string imei;
  std::string firmware;
  bool passed = false;
  std::string firstStep;  // the first failure reason, empty for a PASS
  std::string firstReason;
};

// The bucket layout a measure is shown with, for the given limits.
Histogram HistogramLayout(GpsMeasure measure, const GpsLimits& limits);
// The bucket a value falls in: -1 below, counts.size() at or above the last edge.
int BucketOf(const Histogram& layout, double value);

class FigureReader {
 public:
  virtual ~FigureReader() = default;
  StoreStatus HourlyCounts(const FigureWindow& window, std::vector<HourCount>* out);
  StoreStatus UnitYields(const FigureWindow& window, Yields* out);
  StoreStatus FailurePareto(const FigureWindow& window, Pareto* out);
  // `histogram` comes from HistogramLayout; its counts are filled in.
  StoreStatus Distribution(const FigureWindow& window, Histogram* histogram);
  StoreStatus LastUnits(int count, std::vector<UnitSummary>* out);
  StoreStatus UnitHistory(const std::string& imei, int count, std::vector<UnitSummary>* out);
  // Something that changes whenever a record was stored since the last call; a reader that
  // cannot tell (the server's notices) says "".
  virtual StoreStatus ChangeMark(std::string* mark) = 0;
  [[nodiscard]] virtual std::string Describe() const = 0;

  // Rows as text, NULL as nullopt. Numbers are bound in SQL text "?1".."?9".
  using Row = std::vector<std::optional<std::string>>;
  struct Param {
    enum class Kind { kText, kInt, kReal } kind = Kind::kText;
    std::string text;
    std::int64_t integer = 0;
    double real = 0;
  };
  virtual StoreStatus Select(const std::string& sql, const std::vector<Param>& params,
                             std::vector<Row>* rows) = 0;
};

// "sqlite:PATH" (opened read-only; the file must exist) or "postgresql://...".
std::unique_ptr<FigureReader> OpenFigureReader(const std::string& url, StoreStatus* status);

// A connection that waits for the server's notice of a stored record (PostgreSQL), or for the
// file to change (SQLite, asked at the given interval). Wait returns true on a change, false
// on time-out; a lost server shows as a status that is not ok, after which Wait reconnects.
class ChangeWatch {
 public:
  virtual ~ChangeWatch() = default;
  virtual StoreStatus Wait(int timeoutMs, bool* changed) = 0;
};
std::unique_ptr<ChangeWatch> OpenChangeWatch(const std::string& url);

// The channel the PostgreSQL trigger notifies on every stored record.
inline constexpr const char* kRecordChannel = "unit_record_stored";

}  // namespace records

#include "records/line_figures.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace records {

namespace {

using Param = FigureReader::Param;
using Row = FigureReader::Row;

Param Text(std::string value) {
  Param p;
  p.text = std::move(value);
  return p;
}
Param Int(std::int64_t value) {
  Param p;
  p.kind = Param::Kind::kInt;
  p.integer = value;
  return p;
}
Param Real(double value) {
  Param p;
  p.kind = Param::Kind::kReal;
  p.real = value;
  return p;
}

std::int64_t ToInt(const std::optional<std::string>& text) {
  std::int64_t value = 0;
  if (text) std::from_chars(text->data(), text->data() + text->size(), value);
  return value;
}

std::string ToText(const std::optional<std::string>& text) {
  return text.value_or(std::string());
}

// Ties in byte order, the same on both stores whatever the server's collation.
void SortMostFirst(std::vector<ParetoEntry>* entries) {
  std::sort(entries->begin(), entries->end(), [](const ParetoEntry& a, const ParetoEntry& b) {
    if (a.count != b.count) return a.count > b.count;
    if (a.step != b.step) return a.step < b.step;
    return a.reason < b.reason;
  });
}

constexpr const char* kHourly =
    "SELECT SUBSTR(started_utc, 1, 13), station, COUNT(*), SUM(passed) FROM unit_record"
    " WHERE started_utc >= ?1 AND started_utc < ?2 GROUP BY SUBSTR(started_utc, 1, 13), station";

// One row per identified record in the window, in each unit's order of tests: the first has no
// test before it, the last none after it. One ordering serves both, so the store sorts once.
constexpr const char* kYields =
    "SELECT COALESCE(SUM(CASE WHEN before IS NULL THEN 1 ELSE 0 END), 0),"
    " COALESCE(SUM(CASE WHEN before IS NULL THEN passed ELSE 0 END), 0),"
    " COALESCE(SUM(CASE WHEN after IS NULL THEN passed ELSE 0 END), 0)"
    " FROM (SELECT passed,"
    " LAG(passed) OVER (PARTITION BY imei ORDER BY started_utc, record_id) AS before,"
    " LEAD(passed) OVER (PARTITION BY imei ORDER BY started_utc, record_id) AS after"
    " FROM unit_record WHERE started_utc >= ?1 AND started_utc < ?2 AND imei <> '') AS tests";
constexpr const char* kRecordCounts =
    "SELECT COUNT(*), COALESCE(SUM(CASE WHEN imei = '' THEN 1 ELSE 0 END), 0) FROM unit_record"
    " WHERE started_utc >= ?1 AND started_utc < ?2";

constexpr const char* kParetoSteps =
    "SELECT r.step, COUNT(DISTINCT r.record_id) FROM unit_reason r"
    " JOIN unit_record u ON u.record_id = r.record_id"
    " WHERE u.started_utc >= ?1 AND u.started_utc < ?2 AND u.passed = 0 GROUP BY r.step";
constexpr const char* kParetoReasons =
    "SELECT r.step, r.expected, COUNT(*) FROM unit_reason r"
    " JOIN unit_record u ON u.record_id = r.record_id"
    " WHERE u.started_utc >= ?1 AND u.started_utc < ?2 AND u.passed = 0"
    " GROUP BY r.step, r.expected";

constexpr const char* kSummaryColumns =
    "SELECT u.record_id, u.started_utc, u.station, u.imei, u.firmware, u.passed,"
    " (SELECT r.step FROM unit_reason r WHERE r.record_id = u.record_id ORDER BY r.seq LIMIT 1),"
    " (SELECT r.expected FROM unit_reason r WHERE r.record_id = u.record_id ORDER BY r.seq"
    " LIMIT 1) FROM unit_record u ";

const char* ColumnOf(GpsMeasure measure) {
  switch (measure) {
    case GpsMeasure::kTtff:
      return "ttff_seconds";
    case GpsMeasure::kSatellitesUsed:
      return "satellites_used";
    case GpsMeasure::kBestSignal:
      return "best_signal_dbhz";
  }
  return "ttff_seconds";
}

// One SUM per bucket, the edges bound as numbers: a value sits in [edge i, edge i+1).
std::string DistributionSql(const Histogram& h, std::vector<Param>* params) {
  const std::string value = std::string("CAST(") + ColumnOf(h.measure) + " AS DOUBLE PRECISION)";
  const std::size_t edges = h.counts.size() + 1;
  std::string sql = "SELECT COALESCE(SUM(CASE WHEN " + value + " IS NULL THEN 1 ELSE 0 END), 0)";
  for (std::size_t i = 0; i < edges; ++i) params->push_back(Real(h.low + h.width * double(i)));
  auto edge = [](std::size_t i) { return "?" + std::to_string(i + 3); };
  sql += ", COALESCE(SUM(CASE WHEN " + value + " < " + edge(0) + " THEN 1 ELSE 0 END), 0)";
  for (std::size_t i = 0; i + 1 < edges; ++i) {
    sql += ", COALESCE(SUM(CASE WHEN " + value + " >= " + edge(i) + " AND " + value + " < " +
           edge(i + 1) + " THEN 1 ELSE 0 END), 0)";
  }
  sql += ", COALESCE(SUM(CASE WHEN " + value + " >= " + edge(edges - 1) + " THEN 1 ELSE 0 END), 0)";
  // Within the limit as the station judges it: a time up to it, a count or signal from it.
  params->push_back(Real(h.limit));
  sql += ", COALESCE(SUM(CASE WHEN " + value + (h.limitIsMaximum ? " <= " : " >= ") + edge(edges) +
         " THEN 1 ELSE 0 END), 0)";
  return sql + " FROM unit_record WHERE started_utc >= ?1 AND started_utc < ?2";
}

UnitSummary SummaryOf(const Row& row) {
  UnitSummary unit;
  unit.recordId = ToText(row[0]);
  unit.startedUtc = ToText(row[1]);
  unit.station = ToText(row[2]);
  unit.imei = ToText(row[3]);
  unit.firmware = ToText(row[4]);
  unit.passed = ToInt(row[5]) != 0;
  unit.firstStep = ToText(row[6]);
  unit.firstReason = ToText(row[7]);
  return unit;
}

}  // namespace

Histogram HistogramLayout(GpsMeasure measure, const GpsLimits& limits) {
  Histogram h;
  h.measure = measure;
  switch (measure) {
    case GpsMeasure::kTtff:
      // Ten buckets up to twice the limit: the limit is the fifth edge.
      h.width = std::max(limits.fixWithinSeconds, 1.0) / 5;
      h.counts.assign(10, 0);
      h.limit = limits.fixWithinSeconds;
      h.limitIsMaximum = true;
      break;
    case GpsMeasure::kSatellitesUsed:
      h.counts.assign(static_cast<std::size_t>(std::max(2 * limits.minSatellitesUsed, 16)), 0);
      h.limit = limits.minSatellitesUsed;
      break;
    case GpsMeasure::kBestSignal:
      h.low = 10;
      h.width = 5;
      h.counts.assign(10, 0);
      h.limit = limits.strongSignalDbHz;
      break;
  }
  return h;
}

int BucketOf(const Histogram& layout, double value) {
  if (value < layout.low) return -1;
  const auto size = static_cast<int>(layout.counts.size());
  for (int i = 0; i < size; ++i) {
    if (value < layout.low + layout.width * double(i + 1)) return i;
  }
  return size;
}

StoreStatus FigureReader::HourlyCounts(const FigureWindow& window, std::vector<HourCount>* out) {
  out->clear();
  std::vector<Row> rows;
  auto status = Select(kHourly, {Text(window.fromUtc), Text(window.toUtc)}, &rows);
  if (!status.ok) return status;
  for (const auto& row : rows) {
    out->push_back({ToText(row[0]), ToText(row[1]), ToInt(row[2]), ToInt(row[3])});
  }
  std::sort(out->begin(), out->end(), [](const HourCount& a, const HourCount& b) {
    return a.hourUtc != b.hourUtc ? a.hourUtc < b.hourUtc : a.station < b.station;
  });
  return status;
}

StoreStatus FigureReader::UnitYields(const FigureWindow& window, Yields* out) {
  *out = {};
  std::vector<Row> units, counts;
  const std::vector<Param> params = {Text(window.fromUtc), Text(window.toUtc)};
  auto status = Select(kYields, params, &units);
  if (status.ok) status = Select(kRecordCounts, params, &counts);
  if (!status.ok) return status;
  if (units.size() != 1 || counts.size() != 1) return StoreStatus::Fail(Describe() + ": no yields");
  out->units = ToInt(units[0][0]);
  out->firstPassed = ToInt(units[0][1]);
  out->finalPassed = ToInt(units[0][2]);
  out->records = ToInt(counts[0][0]);
  out->unidentified = ToInt(counts[0][1]);
  return status;
}

StoreStatus FigureReader::FailurePareto(const FigureWindow& window, Pareto* out) {
  *out = {};
  std::vector<Row> steps, reasons;
  const std::vector<Param> params = {Text(window.fromUtc), Text(window.toUtc)};
  auto status = Select(kParetoSteps, params, &steps);
  if (status.ok) status = Select(kParetoReasons, params, &reasons);
  if (!status.ok) return status;
  for (const auto& row : steps) out->steps.push_back({ToText(row[0]), "", ToInt(row[1])});
  for (const auto& row : reasons) {
    out->reasons.push_back({ToText(row[0]), ToText(row[1]), ToInt(row[2])});
  }
  SortMostFirst(&out->steps);
  SortMostFirst(&out->reasons);
  return status;
}

StoreStatus FigureReader::Distribution(const FigureWindow& window, Histogram* h) {
  std::vector<Param> params = {Text(window.fromUtc), Text(window.toUtc)};
  const std::string sql = DistributionSql(*h, &params);
  std::vector<Row> rows;
  auto status = Select(sql, params, &rows);
  if (!status.ok) return status;
  if (rows.size() != 1 || rows[0].size() != h->counts.size() + 4) {
    return StoreStatus::Fail(Describe() + ": no distribution");
  }
  const Row& row = rows[0];
  h->missing = ToInt(row[0]);
  h->below = ToInt(row[1]);
  for (std::size_t i = 0; i < h->counts.size(); ++i) h->counts[i] = ToInt(row[i + 2]);
  h->above = ToInt(row[h->counts.size() + 2]);
  h->withinLimit = ToInt(row.back());
  return status;
}

StoreStatus FigureReader::LastUnits(int count, std::vector<UnitSummary>* out) {
  out->clear();
  std::vector<Row> rows;
  auto status = Select(
      std::string(kSummaryColumns) + "ORDER BY u.started_utc DESC, u.record_id DESC LIMIT ?1",
      {Int(count)}, &rows);
  for (const auto& row : rows) out->push_back(SummaryOf(row));
  return status;
}

StoreStatus FigureReader::UnitHistory(const std::string& imei, int count,
                                      std::vector<UnitSummary>* out) {
  out->clear();
  std::vector<Row> rows;
  auto status = Select(std::string(kSummaryColumns) +
                           "WHERE u.imei = ?1 ORDER BY u.started_utc DESC, u.record_id DESC"
                           " LIMIT ?2",
                       {Text(imei), Int(count)}, &rows);
  for (const auto& row : rows) out->push_back(SummaryOf(row));
  return status;
}

}  // namespace records

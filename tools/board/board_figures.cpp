#include "tools/board/board_figures.h"

#include <cmath>

namespace board {

namespace {

constexpr std::size_t kParetoReasons = 10;

const char* MeasureName(records::GpsMeasure measure) {
  switch (measure) {
    case records::GpsMeasure::kTtff:
      return "ttff";
    case records::GpsMeasure::kSatellitesUsed:
      return "satellites";
    case records::GpsMeasure::kBestSignal:
      return "signal";
  }
  return "ttff";
}

nlohmann::json HistogramJson(const records::Histogram& h) {
  return {{"measure", MeasureName(h.measure)},
          {"low", h.low},
          {"width", h.width},
          {"counts", h.counts},
          {"below", h.below},
          {"above", h.above},
          {"missing", h.missing},
          {"limit", h.limit},
          {"limitIsMaximum", h.limitIsMaximum},
          {"withinLimit", h.withinLimit}};
}

nlohmann::json HourlyJson(const std::vector<records::HourCount>& hours) {
  nlohmann::json out = nlohmann::json::array();
  for (const auto& h : hours) {
    out.push_back({{"hour", h.hourUtc + ":00:00Z"},
                   {"station", h.station},
                   {"tested", h.tested},
                   {"passed", h.passed}});
  }
  return out;
}

}  // namespace

std::string IsoUtc(std::time_t time) {
  std::tm parts{};
  gmtime_r(&time, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S.000Z", &parts);
  return text;
}

records::FigureWindow LocalDays(std::time_t now, int days) {
  std::tm parts{};
  localtime_r(&now, &parts);
  parts.tm_hour = parts.tm_min = parts.tm_sec = 0;
  parts.tm_isdst = -1;
  parts.tm_mday -= days - 1;
  const std::time_t from = std::mktime(&parts);
  parts.tm_mday += days;
  parts.tm_isdst = -1;
  const std::time_t to = std::mktime(&parts);
  return {IsoUtc(from), IsoUtc(to)};
}

records::FigureWindow LastHour(std::time_t now) {
  // Open upward: a station's clock a little ahead still counts in the last hour.
  return {IsoUtc(now - 3600), IsoUtc(now + 3600)};
}

nlohmann::json Percent(std::int64_t part, std::int64_t whole) {
  if (whole <= 0) return nullptr;
  return std::round(1000.0 * double(part) / double(whole)) / 10;
}

nlohmann::json YieldsJson(const records::Yields& y) {
  return {{"units", y.units},
          {"firstPassed", y.firstPassed},
          {"finalPassed", y.finalPassed},
          {"records", y.records},
          {"unidentified", y.unidentified},
          {"firstPassPercent", Percent(y.firstPassed, y.units)},
          {"finalPercent", Percent(y.finalPassed, y.units)}};
}

nlohmann::json ParetoJson(const records::Pareto& pareto) {
  nlohmann::json steps = nlohmann::json::array(), reasons = nlohmann::json::array();
  for (const auto& e : pareto.steps) steps.push_back({{"step", e.step}, {"count", e.count}});
  for (std::size_t i = 0; i < pareto.reasons.size() && i < kParetoReasons; ++i) {
    const auto& e = pareto.reasons[i];
    reasons.push_back({{"step", e.step}, {"reason", e.reason}, {"count", e.count}});
  }
  return {{"steps", steps}, {"reasons", reasons}};
}

nlohmann::json UnitsJson(const std::vector<records::UnitSummary>& units) {
  nlohmann::json out = nlohmann::json::array();
  for (const auto& u : units) {
    out.push_back({{"recordId", u.recordId},
                   {"startedUtc", u.startedUtc},
                   {"station", u.station},
                   {"imei", u.imei},
                   {"firmware", u.firmware},
                   {"passed", u.passed},
                   {"step", u.firstStep},
                   {"reason", u.firstReason}});
  }
  return out;
}

records::StoreStatus ReadFigures(records::FigureReader& reader, const BoardOptions& options,
                                 std::time_t now, nlohmann::json* out) {
  const auto today = LocalDays(now, 1);
  std::vector<records::HourCount> hours;
  records::Yields day, hour;
  records::Pareto pareto;
  std::vector<records::UnitSummary> units;
  auto status = reader.HourlyCounts(today, &hours);
  if (status.ok) status = reader.UnitYields(today, &day);
  if (status.ok) status = reader.UnitYields(LastHour(now), &hour);
  if (status.ok) status = reader.FailurePareto(today, &pareto);
  if (status.ok) status = reader.LastUnits(kLastUnits, &units);
  nlohmann::json gps = nlohmann::json::array();
  for (auto measure : {records::GpsMeasure::kTtff, records::GpsMeasure::kSatellitesUsed,
                       records::GpsMeasure::kBestSignal}) {
    auto histogram = records::HistogramLayout(measure, options.gps);
    if (status.ok) status = reader.Distribution(today, &histogram);
    gps.push_back(HistogramJson(histogram));
  }
  if (!status.ok) return status;
  nlohmann::json lastHour = YieldsJson(hour);
  const auto& percent = lastHour["firstPassPercent"];
  lastHour["threshold"] = options.yieldThresholdPercent;
  lastHour["below"] = percent.is_number() && percent.get<double>() < options.yieldThresholdPercent;
  *out = {{"generatedUtc", IsoUtc(now)},
          {"today", {{"fromUtc", today.fromUtc}, {"toUtc", today.toUtc}}},
          {"hourly", HourlyJson(hours)},
          {"yields", YieldsJson(day)},
          {"lastHour", lastHour},
          {"pareto", ParetoJson(pareto)},
          {"gps", gps},
          {"lastUnits", UnitsJson(units)}};
  return status;
}

std::string JsonText(const nlohmann::json& value) {
  try {
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  } catch (const nlohmann::json::exception& error) {
    return nlohmann::json{{"error", error.what()}}.dump();
  }
}

}  // namespace board

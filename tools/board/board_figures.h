#pragma once
// The board's figures as JSON: what every page and every live update carries. Numbers are
// written locale-free; device strings go out as JSON strings, never as markup.

#include <ctime>
#include <nlohmann/json.hpp>
#include <string>

#include "records/line_figures.h"
#include "tools/board/board_options.h"

namespace board {

// As many last units as the board's table shows.
inline constexpr int kLastUnits = 15;

// "2026-12-06T23:41:07.000Z" for a time.
std::string IsoUtc(std::time_t time);
// The local days ending with today's, [local midnight days-1 days ago, next local midnight).
records::FigureWindow LocalDays(std::time_t now, int days);
records::FigureWindow LastHour(std::time_t now);

// part / whole in percent, to a tenth; null when there is no whole.
nlohmann::json Percent(std::int64_t part, std::int64_t whole);

nlohmann::json YieldsJson(const records::Yields& yields);
nlohmann::json ParetoJson(const records::Pareto& pareto);
nlohmann::json UnitsJson(const std::vector<records::UnitSummary>& units);

// Every figure the board shows, read now; not ok with the store's message when a read failed.
records::StoreStatus ReadFigures(records::FigureReader& reader, const BoardOptions& options,
                                 std::time_t now, nlohmann::json* out);

// As JSON text, invalid UTF-8 from a device replaced rather than refused.
std::string JsonText(const nlohmann::json& value);

}  // namespace board

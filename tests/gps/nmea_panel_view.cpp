#include "tests/gps/nmea_panel_view.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "device/texts.h"
#include "platform/gbk.h"
#include "tools/sim/nmea_drive.h"

namespace nmea_test {
namespace {

using Lines = std::vector<std::pair<std::string, std::string>>;

std::string Quoted(const std::string& gbkText) {
  return "\"" + gbk::ToUtf8(gbkText) + "\"";
}

std::string Bytes(const std::array<std::uint8_t, 12>& bytes) {
  std::string text;
  for (const std::uint8_t byte : bytes) text += (text.empty() ? "" : " ") + std::to_string(byte);
  return text;
}

std::string Text(const std::string& cell) {
  return gbk::ToUtf8(cell);
}
std::string Text(std::uint8_t value) {
  return std::to_string(value);
}

// "prn=value" for every satellite whose entry is not 0, or "(all 0)".
template <typename Entries>
std::string NonZeroSatellites(const Entries& entries) {
  std::string text;
  for (std::size_t j = 0; j < entries.size(); ++j) {
    const std::string value = Text(entries[j]);
    if (value == "0") continue;
    text += (text.empty() ? "" : " ") + std::to_string(j + 1) + "=" + value;
  }
  return text.empty() ? "(all 0)" : text;
}

std::string Joined(const Lines& lines) {
  std::string text;
  for (const auto& [key, value] : lines) text += key + ": " + value + "\n";
  return text;
}

}  // namespace

std::string ViewText(const PanelRun& run) {
  const DialogState& p = run.panel;
  const gps::NmeaTables& t = run.tables;
  return Joined({
      {"sentences", std::to_string(run.sentences)},
      {"refreshes", std::to_string(run.refreshes)},
      {"indicator sets", std::to_string(run.indicatorSets)},
      {"indicator", run.indicatorOn ? "on" : "off"},
      {"m_gpsTime", Quoted(p.m_gpsTime)},
      {"m_latitude", Quoted(p.m_latitude)},
      {"m_longitude", Quoted(p.m_longitude)},
      {"m_altitude", Quoted(p.m_altitude)},
      {"m_satsUsed", Quoted(p.m_satsUsed)},
      {"m_fixType", Quoted(p.m_fixType)},
      {"m_fixState", Quoted(p.m_fixState)},
      {"m_snr", NonZeroSatellites(p.m_snr)},
      {"g_usedSatCount", std::to_string(t.g_usedSatCount)},
      {"g_usedPrns", Bytes(t.g_usedPrns)},
      {"g_snrTable", NonZeroSatellites(t.g_snrTable)},
      {"g_gpsUpdateToggle", std::to_string(t.g_gpsUpdateToggle)},
  });
}

PanelRun::PanelRun() {
  tables.firstFix = gps::FirstFixClock(
      [this] { return std::chrono::steady_clock::time_point(std::chrono::seconds(sentences)); });
  tables.firstFix.Start();
}

void PanelRun::Feed(const char* sentence) {
  const std::string_view text = sentence != nullptr ? sentence : "";
  if (text.empty() || text.front() != '$' || text.find('*') != std::string_view::npos) {
    FeedRaw(sentence);
    return;
  }
  FeedRaw(sim::WithNmeaChecksum(text.substr(1)).c_str());
}

void PanelRun::FeedRaw(const char* sentence) {
  static const gps::NmeaTexts texts{T(kNoFix), T(kFixNonDifferential), T(kFixDifferential),
                                    T(kFixInvalid), T(kFixed)};
  ++sentences;
  last = gps::ParseNmea(sentence, texts, tables, panel);
  if (last.refresh) ++refreshes;
  if (last.setIndicator) {
    ++indicatorSets;
    indicatorOn = last.indicatorOn;
  }
}

namespace {

// "GPS 12, GLONASS 10" in the order of the systems; "none" for an empty list.
template <typename Satellite>
std::string PerSystem(const std::vector<Satellite>& satellites) {
  std::map<gps::Constellation, std::string> lists;
  for (const Satellite& s : satellites) lists[s.constellation] += " " + std::to_string(s.number);
  std::string text;
  for (const auto& [system, numbers] : lists) {
    text += std::string(text.empty() ? "" : "; ") + gps::ConstellationName(system) + numbers;
  }
  return text.empty() ? "none" : text;
}

std::string FirstFixText(const gps::FirstFix& fix) {
  if (!fix.have) return "none";
  char text[96];
  std::snprintf(text, sizeof text, "%.0f s, %d used, best %d dB-Hz", fix.seconds,
                fix.satellitesUsed, fix.bestSignalDbHz);
  return text;
}

}  // namespace

std::string GnssViewText(const PanelRun& run) {
  const DialogState& p = run.panel;
  std::vector<gps::SatelliteSignal> used = run.tables.used;
  std::sort(used.begin(), used.end(), [](const auto& a, const auto& b) {
    return std::tie(a.constellation, a.number) < std::tie(b.constellation, b.number);
  });
  return Joined({
      {"position", Quoted(p.m_latitude) + " " + Quoted(p.m_longitude)},
      {"time", Quoted(p.m_gpsTime) + " " + Quoted(p.m_gpsDate)},
      {"fix", Quoted(p.m_fixState) + " " + Quoted(p.m_fixType) + " " + Quoted(p.m_satsUsed)},
      {"dop", "P" + Quoted(p.m_pdop) + " H" + Quoted(p.m_hdop) + " V" + Quoted(p.m_vdop)},
      {"speed course", Quoted(p.m_speed) + " " + Quoted(p.m_course)},
      {"in view", PerSystem(p.m_satellites)},
      {"used", PerSystem(used)},
      {"first fix", FirstFixText(run.tables.firstFix.Result()) + " " + Quoted(p.m_ttff)},
  });
}

}  // namespace nmea_test

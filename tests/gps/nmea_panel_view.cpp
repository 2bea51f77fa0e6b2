#include "tests/gps/nmea_panel_view.h"

#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "device/texts.h"
#include "platform/gbk.h"

namespace nmea_test {
namespace {

std::string Quoted(const std::string& gbkText) {
  return "\"" + gbk::ToUtf8(gbkText) + "\"";
}

std::string Bytes(std::span<const std::uint8_t> bytes) {
  std::string text;
  for (const std::uint8_t byte : bytes) {
    if (!text.empty()) text += ' ';
    text += std::to_string(byte);
  }
  return text;
}

// "prn=value" for every satellite whose entry is not 0, or "(all 0)".
template <typename Entry>
std::string NonZeroSatellites(std::span<const Entry> entries) {
  std::string text;
  for (std::size_t j = 0; j < entries.size(); ++j) {
    std::string value;
    if constexpr (std::is_same_v<Entry, std::string>) {
      value = gbk::ToUtf8(entries[j]);
      if (entries[j] == "0") continue;
    } else {
      if (entries[j] == 0) continue;
      value = std::to_string(entries[j]);
    }
    if (!text.empty()) text += ' ';
    text += std::to_string(j + 1) + "=" + value;
  }
  return text.empty() ? "(all 0)" : text;
}

// Key order of the text view: the panel as the operator reads it, then the tables.
constexpr std::string_view kOrder[] = {
    "sentences",      "refreshes",  "indicator sets", "indicator",
    "m_gpsTime",      "m_latitude", "m_longitude",    "m_altitude",
    "m_satsUsed",     "m_fixType",  "m_fixState",     "m_snr",
    "g_usedSatCount", "g_usedPrns", "g_snrTable",     "g_gpsUpdateToggle"};

}  // namespace

gps::NmeaTexts DialogFixTexts() {
  return {T(kNoFix), T(kFixNonDifferential), T(kFixDifferential), T(kFixInvalid), T(kFixed)};
}

void PanelRun::Feed(const char* sentence) {
  static const gps::NmeaTexts texts = DialogFixTexts();
  last = gps::ParseNmea(sentence, texts, tables, panel);
  ++sentences;
  if (last.refresh) ++refreshes;
  if (last.setIndicator) {
    ++indicatorSets;
    indicatorOn = last.indicatorOn;
  }
}

std::map<std::string, std::string> View(const PanelRun& run) {
  const DialogState& p = run.panel;
  const gps::NmeaTables& t = run.tables;
  return {
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
      {"m_snr", NonZeroSatellites<std::string>(p.m_snr)},
      {"g_usedSatCount", std::to_string(t.g_usedSatCount)},
      {"g_usedPrns", Bytes(t.g_usedPrns)},
      {"g_snrTable", NonZeroSatellites<std::uint8_t>(t.g_snrTable)},
      {"g_gpsUpdateToggle", std::to_string(t.g_gpsUpdateToggle)},
  };
}

std::string ViewText(const PanelRun& run) {
  const std::map<std::string, std::string> view = View(run);
  std::string text;
  for (const std::string_view key : kOrder) {
    text += std::string(key) + ": " + view.at(std::string(key)) + "\n";
  }
  return text;
}

}  // namespace nmea_test

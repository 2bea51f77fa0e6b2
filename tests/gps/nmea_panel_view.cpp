#include "tests/gps/nmea_panel_view.h"

#include <utility>
#include <vector>

#include "device/texts.h"
#include "platform/gbk.h"

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

// "prn=value" for every satellite whose entry is not 0, or "(all 0)".
template <typename Entries>
std::string NonZeroSatellites(const Entries& entries) {
  std::string text;
  for (std::size_t j = 0; j < entries.size(); ++j) {
    std::string value;
    if constexpr (std::is_same_v<typename Entries::value_type, std::string>) {
      value = gbk::ToUtf8(entries[j]);
    } else {
      value = std::to_string(entries[j]);
    }
    if (value == "0") continue;
    text += (text.empty() ? "" : " ") + std::to_string(j + 1) + "=" + value;
  }
  return text.empty() ? "(all 0)" : text;
}

Lines ViewLines(const PanelRun& run) {
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
      {"m_snr", NonZeroSatellites(p.m_snr)},
      {"g_usedSatCount", std::to_string(t.g_usedSatCount)},
      {"g_usedPrns", Bytes(t.g_usedPrns)},
      {"g_snrTable", NonZeroSatellites(t.g_snrTable)},
      {"g_gpsUpdateToggle", std::to_string(t.g_gpsUpdateToggle)},
  };
}

}  // namespace

void PanelRun::Feed(const char* sentence) {
  static const gps::NmeaTexts texts{T(kNoFix), T(kFixNonDifferential), T(kFixDifferential),
                                    T(kFixInvalid), T(kFixed)};
  last = gps::ParseNmea(sentence, texts, tables, panel);
  ++sentences;
  if (last.refresh) ++refreshes;
  if (last.setIndicator) {
    ++indicatorSets;
    indicatorOn = last.indicatorOn;
  }
}

std::string ViewText(const PanelRun& run) {
  std::string text;
  for (const auto& [key, value] : ViewLines(run)) text += key + ": " + value + "\n";
  return text;
}

}  // namespace nmea_test

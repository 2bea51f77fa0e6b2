#include "records/csv_export.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "records/store_text.h"

namespace records {

namespace {

std::string FlagText(std::optional<bool> flag) {
  if (!flag) return "";
  return *flag ? "ok" : "fail";
}

// Numbers as every locale reads them back the same.
std::string CountText(std::optional<int> value) {
  return value ? std::to_string(*value) : "";
}

std::string RealText(std::optional<double> value) {
  return value ? NumberText(*value) : "";
}

std::string JoinMismatches(const std::vector<Mismatch>& mismatches) {
  std::string text;
  for (const auto& m : mismatches) {
    if (!text.empty()) text += "; ";
    text += m.field + ": expected \"" + m.expected + "\", came \"" + m.actual + "\"";
  }
  return text;
}

std::string JoinReasons(const std::vector<FailReason>& reasons) {
  std::string text;
  for (const auto& r : reasons) {
    if (!text.empty()) text += "; ";
    text += r.step + ": expected \"" + r.expected + "\", came \"" + r.actual + "\"";
  }
  return text;
}

// A cell a spreadsheet would run as a formula (or whose leading TAB or CR it would eat) is
// kept as text by a leading apostrophe.
std::string Inert(const std::string& text) {
  if (!text.empty() && std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos) {
    return "'" + text;
  }
  return text;
}

std::string Line(const std::vector<std::string>& fields) {
  std::string line;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i) line += ',';
    line += CsvField(fields[i]);
  }
  return line + "\r\n";
}

}  // namespace

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}

std::string CsvHeader() {
  return Line({"record_id",
               "started_utc",
               "ended_utc",
               "station",
               "operator",
               "port",
               "usb_identity",
               "imei",
               "firmware",
               "gsm_signal",
               "gps_count",
               "agps_count",
               "sim",
               "test_gsm",
               "test_gps",
               "test_key",
               "ttff_seconds",
               "satellites_used",
               "best_signal_dbhz",
               "profile_name",
               "profile_hash",
               "mismatches",
               "verdict",
               "reasons",
               "console_version"});
}

std::string CsvRow(const UnitRecord& r) {
  return Line({Inert(r.recordId),
               Inert(r.startedUtc),
               Inert(r.endedUtc),
               Inert(r.station),
               Inert(r.operatorName),
               Inert(r.port),
               Inert(r.usbIdentity),
               Inert(r.imei),
               Inert(r.firmware),
               Inert(r.gsmSignal),
               Inert(r.gpsCount),
               Inert(r.agpsCount),
               Inert(r.sim),
               FlagText(r.testGsm),
               FlagText(r.testGps),
               FlagText(r.testKey),
               RealText(r.ttffSeconds),
               CountText(r.satellitesUsed),
               CountText(r.bestSignalDbHz),
               Inert(r.profileName),
               Inert(r.profileHash),
               Inert(JoinMismatches(r.mismatches)),
               r.passed ? "PASS" : "FAIL",
               Inert(JoinReasons(r.reasons)),
               r.consoleVersion});
}

StoreStatus ExportCsv(RecordStore& store, const RecordFilter& filter, const std::string& path,
                      std::size_t* written, bool byteOrderMark) {
  std::vector<UnitRecord> found;
  if (auto status = store.Query(filter, &found); !status.ok) return status;
  const std::string partial = path + ".part";
  std::FILE* file = std::fopen(partial.c_str(), "wb");
  if (!file) return StoreStatus::Fail(path + ": " + std::strerror(errno));
  // A spreadsheet reads a file without the mark in the machine's 8-bit code page.
  bool ok = !byteOrderMark || std::fputs("\xEF\xBB\xBF", file) >= 0;
  ok = ok && std::fputs(CsvHeader().c_str(), file) >= 0;
  // Oldest first reads naturally in a spreadsheet.
  for (auto it = found.rbegin(); ok && it != found.rend(); ++it) {
    const std::string row = CsvRow(*it);
    ok = std::fwrite(row.data(), 1, row.size(), file) == row.size();
  }
  ok = (std::fflush(file) == 0) && ok;
  const int error = errno;
  ok = (std::fclose(file) == 0) && ok;
  if (!ok || std::rename(partial.c_str(), path.c_str()) != 0) {
    const int cause = ok ? errno : error;
    std::remove(partial.c_str());
    return StoreStatus::Fail(path + ": " + std::strerror(cause));
  }
  if (written) *written = found.size();
  return StoreStatus::Ok();
}

}  // namespace records

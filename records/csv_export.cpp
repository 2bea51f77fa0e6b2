#include "records/csv_export.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sstream>

namespace records {

namespace {

std::string FlagText(std::optional<bool> flag) {
  if (!flag) return "";
  return *flag ? "ok" : "fail";
}

template <typename Number>
std::string NumberText(std::optional<Number> value) {
  if (!value) return "";
  std::ostringstream out;
  out << *value;
  return out.str();
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
  return Line({r.recordId,
               r.startedUtc,
               r.endedUtc,
               r.station,
               r.operatorName,
               r.port,
               r.usbIdentity,
               r.imei,
               r.firmware,
               r.gsmSignal,
               r.gpsCount,
               r.agpsCount,
               r.sim,
               FlagText(r.testGsm),
               FlagText(r.testGps),
               FlagText(r.testKey),
               NumberText(r.ttffSeconds),
               NumberText(r.satellitesUsed),
               NumberText(r.bestSignalDbHz),
               r.profileName,
               r.profileHash,
               JoinMismatches(r.mismatches),
               r.passed ? "PASS" : "FAIL",
               JoinReasons(r.reasons),
               r.consoleVersion});
}

StoreStatus ExportCsv(RecordStore& store, const RecordFilter& filter, const std::string& path,
                      std::size_t* written) {
  std::vector<UnitRecord> found;
  if (auto status = store.Query(filter, &found); !status.ok) return status;
  const std::string partial = path + ".part";
  std::FILE* file = std::fopen(partial.c_str(), "wb");
  if (!file) return StoreStatus::Fail(path + ": " + std::strerror(errno));
  bool ok = std::fputs(CsvHeader().c_str(), file) >= 0;
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

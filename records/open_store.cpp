// The one place a store URL is turned into a store. Further kinds of store hook in here.

#include <cstdlib>
#include <filesystem>

#include "records/pg_store.h"
#include "records/record_store.h"
#include "records/spooled_store.h"
#include "records/sqlite_store.h"

namespace records {

namespace {

constexpr std::string_view kSqlitePrefix = "sqlite:";

bool StartsWith(const std::string& text, std::string_view prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// A file's records wait in the spool while another process holds its write lock.
std::unique_ptr<RecordStore> OpenSpooledFile(const std::string& path, StoreStatus* status) {
  auto file = OpenSqliteStore(path, status);
  if (!file) return nullptr;
  std::error_code error;
  const std::string key = "sqlite:" + std::filesystem::weakly_canonical(path, error).string();
  return SpoolInFront(std::move(file), key, SpoolSettings{}, status);
}

}  // namespace

const char* FaultName(StoreFault fault) {
  switch (fault) {
    case StoreFault::kNone:
      return "none";
    case StoreFault::kUnreachable:
      return "unreachable";
    case StoreFault::kBusy:
      return "busy";
    case StoreFault::kAuthentication:
      return "authentication";
    case StoreFault::kPermission:
      return "permission";
    case StoreFault::kData:
      return "data";
    case StoreFault::kSchemaNewer:
      return "schema newer";
    case StoreFault::kOther:
      break;
  }
  return "refused";
}

std::string DefaultStorePath() {
  const char* dataHome = std::getenv("XDG_DATA_HOME");
  std::string base;
  if (dataHome && *dataHome == '/') {
    base = dataHome;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home && *home ? home : ".") + "/.local/share";
  }
  return base + "/tracker-console/records.sqlite";
}

std::unique_ptr<RecordStore> OpenStore(const std::string& url, StoreStatus* status) {
  // The station's setting: a line's stations point it at their shared server.
  if (const char* configured = std::getenv(kStoreUrlVariable);
      url.empty() && configured != nullptr && *configured != '\0') {
    return OpenStore(configured, status);
  }
  if (url.empty()) return OpenSpooledFile(DefaultStorePath(), status);
  if (StartsWith(url, kSqlitePrefix)) {
    const std::string path = url.substr(kSqlitePrefix.size());
    if (path.empty()) {
      *status = StoreStatus::Fail("\"" + url + "\": no file named after \"sqlite:\"");
      return nullptr;
    }
    return OpenSpooledFile(path, status);
  }
  if (IsPostgresUrl(url)) return OpenSpooledStore(url, SpoolSettings{}, status);
  *status = StoreStatus::Fail("\"" + url +
                              "\": unknown kind of store (use sqlite:PATH or postgresql://...)");
  return nullptr;
}

}  // namespace records

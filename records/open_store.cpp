// The one place a store URL is turned into a store. Further kinds of store hook in here.

#include <cstdlib>

#include "records/record_store.h"
#include "records/sqlite_store.h"

namespace records {

namespace {

constexpr std::string_view kSqlitePrefix = "sqlite:";

bool StartsWith(const std::string& text, std::string_view prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

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
  if (url.empty()) return OpenSqliteStore(DefaultStorePath(), status);
  if (StartsWith(url, kSqlitePrefix)) {
    const std::string path = url.substr(kSqlitePrefix.size());
    if (path.empty()) {
      *status = StoreStatus::Fail("\"" + url + "\": no file named after \"sqlite:\"");
      return nullptr;
    }
    return OpenSqliteStore(path, status);
  }
  if (StartsWith(url, "postgresql://") || StartsWith(url, "postgres://")) {
    *status =
        StoreStatus::Fail("\"" + url + "\": this console was built without the PostgreSQL store");
    return nullptr;
  }
  *status = StoreStatus::Fail("\"" + url +
                              "\": unknown kind of store (use sqlite:PATH or postgresql://...)");
  return nullptr;
}

}  // namespace records

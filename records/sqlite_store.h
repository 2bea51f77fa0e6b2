#pragma once
// The embedded store: one SQLite file in WAL mode, one transaction per record, so a process
// killed at any moment leaves a consistent file holding every record Append reported.

#include <memory>
#include <string>

#include "records/record_store.h"

namespace records {

// Opens or creates the file (and its folder), migrates it to the current schema, or says why
// not. The message names the file.
std::unique_ptr<RecordStore> OpenSqliteStore(const std::string& path, StoreStatus* status);

}  // namespace records

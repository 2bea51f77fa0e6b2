#pragma once
// A line's store as a station uses it: records go to the PostgreSQL server; while the server
// cannot be reached they wait in a local SQLite spool, and go to the server in the order they
// were written, once each, as soon as it answers again (before any newer record). A record the
// server already holds (sent just before a connection broke) is not stored twice: the record id
// is the key.
//
// Append reports ok once a record is safe on the server or in the spool; a non-empty message
// with ok tells the operator where it went ("waiting in the spool", "the spool was sent").

#include <memory>
#include <string>

#include "records/record_store.h"

namespace records {

// The spool's default file: beside the default SQLite store.
std::string DefaultSpoolPath();

// Opens the spool (creating it) and tries the server once. A server that cannot be reached is no
// error: the status is ok with a message saying records will wait. A spool that cannot be opened
// is an error.
std::unique_ptr<RecordStore> OpenSpooledStore(const std::string& url, const std::string& spoolPath,
                                              StoreStatus* status);

}  // namespace records

#pragma once
// A station's store as the station uses it: records go to the store (the line's PostgreSQL
// server, or the SQLite file); while it cannot take them (server away, file locked) they wait in
// a local SQLite spool and go to the store in the order they were written, once each, as soon as
// it answers again (before any newer record), tried again with a growing pause. A record the
// store already holds (sent just before a connection broke) is not stored twice: the record id
// is the key.
//
// A record the store refuses for a reason that does not pass by itself (login, permission, a
// value refused, a newer schema) is set aside in the spool file's quarantine, with the reason,
// and the records behind it keep flowing; `tracker-jig records` lists, resends and exports them.
//
// The spool keeps records per store: a server by its cluster's identifier and database (any URL
// naming it drains them), a file by its path.
//
// Append reports ok once a record is safe in the store or in the spool; a non-empty message
// with ok tells the operator where it went ("waiting in the spool", "the spool was sent").

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "records/record_store.h"

namespace records {

// The spool's default file: beside the default SQLite store.
std::string DefaultSpoolPath();

struct SpoolSettings {
  std::string path = DefaultSpoolPath();
  // After a failed try the store is left alone this long, doubled at each failure up to
  // lastRetry; records meanwhile go straight to the spool.
  std::chrono::milliseconds firstRetry{1000};
  std::chrono::milliseconds lastRetry{30000};
};

// Opens the spool (creating it) and tries the server once. A server that cannot be reached is no
// error: the status is ok with a message saying records will wait. A spool that cannot be opened
// is an error.
std::unique_ptr<RecordStore> OpenSpooledStore(const std::string& url, const SpoolSettings& spool,
                                              StoreStatus* status);
// The same in front of any store; `key` names the store in the spool.
std::unique_ptr<RecordStore> SpoolInFront(std::unique_ptr<RecordStore> store, std::string key,
                                          const SpoolSettings& spool, StoreStatus* status);

// A record in a spool file: waiting to be sent, or quarantined.
struct SpooledRecord {
  bool quarantined = false;
  std::string target;  // the store it is meant for
  std::string recordId;
  std::string payload;  // the record as JSON
  std::string fault;    // quarantined: FaultName and the store's words
  std::string reason;
  std::string sinceUtc;
};

// Every record in the spool file, waiting ones first, each list oldest first.
StoreStatus ListSpool(const std::string& path, std::vector<SpooledRecord>* out);
// Puts quarantined records (those with the given ids; all when none are given) back in line to
// be sent, behind those waiting. `moved` counts them; an id not in quarantine is an error.
StoreStatus RequeueQuarantined(const std::string& path, const std::vector<std::string>& ids,
                               std::size_t* moved);

}  // namespace records

#pragma once
// One tracker on one device node, in this process: the console's logic on a headless surface,
// the station sequence on top, until the unit's verdict. The logic scans a private port list
// holding just this node, so it opens that port and no other.

#include <chrono>

#include "records/record_store.h"
#include "station/profile.h"
#include "tools/jig/jig_events.h"
#include "tools/jig/jig_options.h"

namespace jig {

// Per read or set: the device answers within a second or two when it answers at all.
inline constexpr std::chrono::seconds kWorkerStepTimeout{10};

// Runs one unit; events go to `sink`, the record to `store` (may be null). SIGINT or SIGTERM on
// `signalFd` interrupt the unit (its record says so). Returns the exit status: 0 PASS, 1 FAIL,
// 2 no tracker could be opened there.
int RunUnitWorker(const JigOptions& options, const station::Profile& profile, EventSink& sink,
                  records::RecordStore* store, int signalFd);

}  // namespace jig

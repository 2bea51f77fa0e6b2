#pragma once
// `tracker-jig records`: what waits in the local spool and what was set aside there, and
// sending it again once the fault is put right.
//
//   tracker-jig records [list] [--spool PATH]
//   tracker-jig records resend [--records URL] [--spool PATH] (--all | RECORD_ID...)
//   tracker-jig records export [--spool PATH] [--output FILE]

namespace jig {

// `argv[0]` is "records". Returns the exit status (kExitAllPassed, kExitUsage, or
// kExitRecordsNotStored while records are still not in their store).
int RunRecordsCommand(int argc, char** argv);

}  // namespace jig

#pragma once
// Many trackers at once: one worker process per tracker port (the serial engine, the console's
// logic and the station sequence keep per-process state: one port each), started as
// `tracker-jig --device NODE --json --no-records ...`. This process finds the ports (and, with
// --watch, follows plug and unplug with the console's own device notices), reads the workers'
// JSON lines, shows them, writes every verdict's record to the store (on the RecordWriter's
// thread; a verdict is shown once its record is in the store or the spool), and sums up.

#include <sys/types.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/device_notices.h"
#include "platform/port_list.h"
#include "records/record_store.h"
#include "tools/jig/jig_events.h"
#include "tools/jig/jig_options.h"
#include "tools/jig/record_writer.h"

namespace jig {

// The trackers among the listed ports (USB CDC ACM and registered virtual trackers), optionally
// only the one named `portName` (COMn).
std::vector<ports::PortEntry> TrackerPorts(const std::vector<ports::PortEntry>& listed,
                                           const std::string& portName);

// This program, as workers are started from it: the descriptor opened at start (the file itself,
// even after it was replaced on disk) and the path they are named by.
struct SelfProgram {
  std::string path;
  int fd = -1;
};

class LineRunner {
 public:
  // `store` may be null (no records kept).
  LineRunner(JigOptions options, SelfProgram self, ports::PortListRoots roots, EventSink& sink,
             records::RecordStore* store);
  ~LineRunner();
  LineRunner(const LineRunner&) = delete;
  LineRunner& operator=(const LineRunner&) = delete;

  // Runs until every unit is done (with --watch: until SIGINT/SIGTERM arrive on `signalFd`, a
  // signalfd). Returns the exit status.
  int Run(int signalFd);

 private:
  struct Worker {
    pid_t pid = -1;
    int out = -1;  // its stdout; -1 once it ended
    std::string buffer;
    std::string unit;
    std::string device;
    std::string key;  // the plugging it tests (see PlugKey)
    std::string startedUtc;
    std::string step = "start";                      // the last step it reported
    std::chrono::steady_clock::time_point answerBy;  // silent past this: hung
    bool hung = false;                               // killed for its silence
    bool verdict = false;
  };
  enum class PortState { kTesting, kDone };

  void Scan();
  void Spawn(const ports::PortEntry& entry, const std::string& key);
  void ReadWorker(Worker& worker);
  void HandleLine(Worker& worker, const std::string& line);
  [[nodiscard]] std::chrono::milliseconds SilenceAllowed(const std::string& step) const;
  void KillSilentWorkers();
  void Reap(Worker& worker, bool wait);
  void Ended(Worker& worker, int status);
  void Record(const UnitEvent& verdict);
  void Recorded();
  void Notice(const std::string& unit, const std::string& text);
  void OnSignal(int signalFd);
  void InterruptWorkers();
  [[nodiscard]] bool Finished() const;
  int Summary();

  JigOptions options_;
  SelfProgram self_;
  ports::PortListRoots roots_;
  EventSink& sink_;
  records::RecordStore* store_;
  notices::DeviceNoticeSource notices_;
  std::map<std::string, PortState> ports_;  // by plugging: tested now, or done until pulled
  std::vector<Worker> workers_;
  bool stopping_ = false;     // no new units
  bool interrupted_ = false;  // workers were told to stop
  bool configError_ = false;
  int units_ = 0;
  int passed_ = 0;
  int failed_ = 0;
  std::chrono::steady_clock::time_point started_;
  int recordsNotStored_ = 0;              // set aside or lost
  std::unique_ptr<RecordWriter> writer_;  // null without a store
};

}  // namespace jig

#pragma once
// The console's logic with a recording surface on an empty fake port tree, driven as the window
// drives it; tracker-sim as a child process.

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "device/config_logic.h"
#include "serial/std_ui_dispatcher.h"
#include "tests/support/fake_sysfs.h"
#include "tests/support/recording_surface.h"

class ConsoleHarness {
 public:
  // The product settles 3000 ms after a device change; tests need no such wait. `adjust` changes
  // the environment further (lock folder, answer wait) before the logic sees it.
  explicit ConsoleHarness(unsigned settleMilliseconds = 300,
                          const std::function<void(ConsoleEnvironment&)>& adjust = {});

  [[nodiscard]] const std::string& PortsFolder() const { return tree.Roots().portsFolder; }
  // Lock files go to a folder of the test's own, never to the machine's.
  [[nodiscard]] std::string LockFolder() const { return tree.Root() + "/lock"; }

  // Runs the UI loop until `done()` holds or `timeout` passes; returns done(). Between short
  // runs it reads pending device notices, as the window's socket notifier does.
  bool RunUntil(const std::function<bool()>& done,
                std::chrono::milliseconds timeout = std::chrono::seconds(10));

  fake::FakeSysfs tree;  // first: outlives the logic that looks at it
  StdUiDispatcher ui;
  DialogState state;
  RecordingSurface surface{state};
  ConfigLogic logic;  // last: its port's monitor thread stops before the rest goes
};

// tracker-sim as a child process: --ports-folder <folder> and the extra arguments, stdout in
// a pipe (it announces "COM<n> -> <pty>"), stderr passed through. The destructor ends it
// (SIGTERM, then SIGKILL) and reaps it.
class SimProcess {
 public:
  SimProcess(const std::string& program, const std::string& portsFolder,
             std::vector<std::string> extraArguments = {});
  ~SimProcess();
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  // Waits for the next "COM<n> -> ..." announcement; returns n, or 0 if none came in time.
  // Signals sent before it may kill the program before it handles them.
  int WaitForPlug(std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // Waits for the next line of its output holding `fragment`; nullopt if none came in time.
  std::optional<std::string> WaitForLine(
      std::string_view fragment, std::chrono::milliseconds timeout = std::chrono::seconds(10));
  void Signal(int signalNumber) const;

 private:
  pid_t pid_ = -1;
  int stdout_ = -1;
  std::string buffered_;
};

// tracker-sim arguments for nothing but answers: no NMEA, status reports or plain log lines.
inline std::vector<std::string> Quiet(std::vector<std::string> extra = {}) {
  extra.insert(extra.end(), {"--no-nmea", "--status-interval", "0", "--log-interval", "0"});
  return extra;
}

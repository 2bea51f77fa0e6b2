#pragma once
// End-to-end pieces: the console's logic with a recording surface on empty temporary port
// folders (no hardware, no udev), driven the way the window drives it; and tracker-sim as a
// child process registering its port in those folders.

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "device/config_logic.h"
#include "device/dialog_state.h"
#include "serial/std_ui_dispatcher.h"
#include "tests/support/recording_surface.h"

inline constexpr std::chrono::milliseconds kE2ePatience{10000};

// The product settles 3000 ms after a device change, for device nodes that appear after the
// notice; virtual ports need no such wait, and hot-plug cases stay quick.
inline constexpr unsigned kTestSettleMilliseconds = 300;

// A temporary folder holding an empty tty class tree, a device folder and a ports folder.
class PortFolders {
 public:
  PortFolders();
  ~PortFolders();
  PortFolders(const PortFolders&) = delete;
  PortFolders& operator=(const PortFolders&) = delete;

  [[nodiscard]] const ports::PortListRoots& Roots() const { return roots_; }

 private:
  std::string root_;
  ports::PortListRoots roots_;
};

class ConsoleHarness {
 public:
  explicit ConsoleHarness(unsigned settleMilliseconds = kTestSettleMilliseconds);

  [[nodiscard]] const std::string& PortsFolder() const { return folders_.Roots().portsFolder; }

  // Runs the UI loop until `done()` holds or `timeout` passes; returns done(). Between short
  // runs it reads pending device notices, as the window's socket notifier does (a notice
  // arriving during a settle wait is read after that wait, not inside it).
  bool RunUntil(const std::function<bool()>& done,
                std::chrono::milliseconds timeout = kE2ePatience);

 private:
  PortFolders folders_;  // first: outlives the logic that looks at it

 public:
  StdUiDispatcher ui;
  DialogState state;
  RecordingSurface surface{state};
  ConfigLogic logic;  // last: its port's monitor thread stops before the rest goes
};

// tracker-sim as a child process: --ports-folder <folder> and the extra arguments, stdout in
// a pipe (it announces "COM<n> -> <pty>" and "COM<n> unplugged"), stderr passed through.
// The destructor ends it (SIGTERM, then SIGKILL) and reaps it.
class SimProcess {
 public:
  SimProcess(const std::string& program, const std::string& portsFolder,
             std::vector<std::string> extraArguments = {});
  ~SimProcess();
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  [[nodiscard]] bool started() const { return pid_ > 0; }

  // Waits for the next "COM<n> -> ..." announcement; returns n, or 0 if none came in time.
  // Signals sent before the first one may kill the program before it handles them.
  int WaitForPlug(std::chrono::milliseconds timeout = kE2ePatience);
  void Signal(int signalNumber) const;

 private:
  std::optional<std::string> WaitForLine(std::string_view fragment,
                                         std::chrono::milliseconds timeout);
  // SIGTERM; the exit status, or -1 when it did not exit in time or died of a signal.
  int Stop(std::chrono::milliseconds timeout);

  pid_t pid_ = -1;
  int stdout_ = -1;
  std::string buffered_;
};

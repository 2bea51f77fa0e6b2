#pragma once
// tracker-sim's event loop: the virtual port, the console's frames in, replies, status
// reports, log lines and NMEA out, the fault switches, unplug and replug. One thread; it
// sleeps in poll() until a byte, a timer or a control event is due.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "tools/sim/device_frame.h"
#include "tools/sim/nmea_drive.h"
#include "tools/sim/sim_options.h"
#include "tools/sim/tracker_model.h"
#include "tools/sim/virtual_port.h"

namespace sim {

class TrackerRunner {
 public:
  enum class Control { kNone, kStop, kTogglePlug };
  using Clock = std::chrono::steady_clock;

  // `out` gets the port announcements, `err` the diagnostics.
  TrackerRunner(SimOptions options, std::FILE* out, std::FILE* err);

  // Runs until onControl() answers kStop; it is asked whenever `controlFd` (a signalfd, an
  // eventfd; -1 for none) is readable and must drain it. Returns the exit status: 0 after a
  // stop, 1 when the port could not be set up.
  int Run(int controlFd, const std::function<Control()>& onControl);

 private:
  struct Piece {
    std::vector<std::uint8_t> bytes;
    bool pauseBefore = false;
  };
  struct OutFrame {
    std::vector<Piece> pieces;
    std::size_t piece = 0;
    std::size_t offset = 0;
    [[nodiscard]] bool started() const { return piece > 0 || offset > 0; }
  };
  struct DelayedReply {
    Clock::time_point due;
    std::string payload;
  };

  bool Start();
  bool Plug();
  void Unplug();
  void TogglePlug();
  [[nodiscard]] Clock::time_point NextDue() const;
  void RunDueTimers(Clock::time_point now);
  void TickNmea();
  void SendStatus();
  void SendLogLine();
  void TopUpFlood();
  void ReadConsole();
  void OnConsoleText(std::string_view text);
  [[nodiscard]] bool IsUnplugCommand(std::string_view text) const;
  void Send(const std::string& payload);
  void Enqueue(const std::vector<std::uint8_t>& frame);
  void DropStaleFrames();
  void WritePending(Clock::time_point now);
  [[nodiscard]] bool WantsToWrite(Clock::time_point now) const;
  void Note(const std::string& text) const;

  SimOptions options_;
  std::FILE* out_;
  std::FILE* err_;
  std::mt19937 random_;
  TrackerModel model_;
  NmeaDrive drive_;
  std::optional<NmeaReplay> replay_;
  SkyCounts sky_;  // what the last second of sentences said
  VirtualPort port_;
  int lastPortNumber_ = 0;
  bool defaultFolder_ = false;  // the console's own ports folder, which it reads only if private
  ConsoleFrameDecoder decoder_;
  long reportedBadChecksums_ = 0;

  std::deque<OutFrame> queue_;
  std::size_t queuedBytes_ = 0;
  long droppedFrames_ = 0;
  Clock::time_point writeReadyAt_{};
  long framesSent_ = 0;
  long floodCount_ = 0;
  int logLineIndex_ = 0;

  std::vector<DelayedReply> delayed_;
  std::optional<Clock::time_point> nextNmea_;
  std::optional<Clock::time_point> nextStatus_;
  std::optional<Clock::time_point> nextLogLine_;
  std::optional<Clock::time_point> unplugAt_;
  std::optional<Clock::time_point> replugAt_;
};

}  // namespace sim

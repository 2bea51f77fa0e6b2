#pragma once
// The production sequence for one unit after another, driven by events (connected, reply, tick,
// unplugged) and without a window, so the console and a headless jig run the same code:
// identify -> apply the profile -> verify it -> factory test -> GPS criteria -> verdict.
// Every sequence that starts ends in one record, interrupted ones too. Single-threaded: call
// everything from one thread.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "records/record_store.h"
#include "station/profile.h"

namespace station {

using Clock = std::chrono::steady_clock;

// What a GPS check asks of a unit, counted from the moment it was connected.
struct GpsCriteria {
  bool enabled = false;
  double fixWithinSeconds = 120;
  int minSatellitesUsed = 4;
  int minStrongSignals = 0;   // K satellites in use ...
  int strongSignalDbHz = 35;  // ... with a signal of at least X dB-Hz
};

// What the unit's GPS shows now: time to first fix (none yet: nullopt), satellites used and
// the signals of those satellites.
struct GpsMeasure {
  std::optional<double> ttffSeconds;
  int satellitesUsed = 0;
  std::vector<int> usedSignalsDbHz;
};

// This console's version, as records name it.
std::string ConsoleVersion();

struct StationSettings {
  Profile profile;
  std::string station;
  std::string operatorName;
  std::string consoleVersion = ConsoleVersion();
  std::chrono::milliseconds stepTimeout{10000};  // for each read and set
  std::chrono::milliseconds testTimeout{60000};
  GpsCriteria gps;
};

enum class Step { kIdle, kIdentify, kApply, kVerify, kTest, kGps, kVerdict };
std::string_view StepName(Step step);

// The unit as the engine reaches it.
class UnitLink {
 public:
  virtual ~UnitLink() = default;
  // One request, e.g. "imei,?" (GBK, without "#").
  virtual void Send(const std::string& command) = 0;
  // The factory test request; its result arrives as a reply.
  virtual void StartTest(std::chrono::milliseconds timeout) = 0;
  virtual GpsMeasure MeasureGps() = 0;
};

struct Progress {
  Step step = Step::kIdle;
  std::string detail;  // UTF-8, e.g. "set sos: confirmed"
  bool problem = false;
  std::chrono::milliseconds elapsed{0};  // since the unit was connected
};

class StationListener {
 public:
  virtual ~StationListener() = default;
  virtual void OnProgress(const Progress& progress) = 0;
  // The verdict, once per unit, after the record was written (or failed to be: `saved`).
  virtual void OnVerdict(const records::UnitRecord& record, const records::StoreStatus& saved) = 0;
};

class StationEngine {
 public:
  // `store` and `listener` may be null; both must outlive the engine.
  StationEngine(UnitLink& link, records::RecordStore* store, StationListener* listener);

  // Settings for the next unit; a unit under test keeps those it started with.
  void SetSettings(StationSettings settings) { next_ = std::move(settings); }
  [[nodiscard]] const StationSettings& Settings() const { return next_; }

  void OnConnected(const std::string& port, const std::string& usbIdentity, Clock::time_point now);
  // `now`: when the reply arrived; one that came after its step's deadline does not count.
  void OnReply(std::string_view reply, Clock::time_point now);
  void OnTick(Clock::time_point now);
  void OnUnplugged(Clock::time_point now);
  // The station stops (mode switched off, program ending): a unit under test gets its FAIL.
  void OnStopped(Clock::time_point now);

  [[nodiscard]] Step CurrentStep() const { return step_; }
  // The port of the unit under test or awaiting its unplug (empty when idle).
  [[nodiscard]] const std::string& UnitPort() const { return port_; }
  [[nodiscard]] bool Running() const { return step_ != Step::kIdle && step_ != Step::kVerdict; }
  // The last verdict's record (empty before the first).
  [[nodiscard]] const records::UnitRecord& LastRecord() const { return record_; }

 private:
  enum class Kind { kIdentity, kSet, kReadBack };
  struct Exchange {
    Kind kind;
    std::string group;
    std::string command;
    std::vector<std::string> replyKeys;
    std::vector<std::string> fieldNames;
    std::vector<std::string> expected;  // GBK; sets and read-backs
  };

  void Begin(Step step, Clock::time_point now);
  void SendCurrent(Clock::time_point now);
  void Advance(Clock::time_point now);
  void Finish(Clock::time_point now);
  void Report(std::string detail, bool problem, Clock::time_point now);
  void Fail(std::string expected, std::string actual, Clock::time_point now);
  bool TakeExchangeReply(const std::vector<std::string>& fields, Clock::time_point now);
  void TakeTestResult(const std::vector<std::string>& fields, Clock::time_point now);
  void TakeStatus(const std::vector<std::string>& fields);
  void CheckGps(Clock::time_point now, bool final);
  void FailTest(Clock::time_point now);
  void Interrupt(const std::string& step, const std::string& why, Clock::time_point now);

  UnitLink& link_;
  records::RecordStore* store_;
  StationListener* listener_;
  StationSettings next_;
  StationSettings unit_;  // the settings of the unit under test
  Step step_ = Step::kIdle;
  records::UnitRecord record_;
  std::string port_;
  Clock::time_point connectedAt_{};
  Clock::time_point deadline_{};
  std::vector<Exchange> pending_;  // the current step's exchanges; front is outstanding
  std::optional<std::vector<std::string>> testResult_;
};

}  // namespace station

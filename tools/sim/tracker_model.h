#pragma once
// The tracker's parameters and how it answers the console's texts: reads from the stored
// values, sets stored and confirmed with "ok", the factory test echoed and answered later,
// free texts echoed. No I/O and no clock: delays come back as values for the caller's timers.

#include <array>
#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

struct TrackerParams {
  std::string version = "TS1.9.0-SIM";
  std::string serverAddr = "192.0.2.10";
  std::string serverPort = "7700";
  std::string useDomain = "0";  // "1": serverAddr is a domain name
  std::string imei = "860000123456781";
  std::string centerNumber = "13800138000";
  std::string slaveNumber = "13900139000";
  std::string language = "1";
  std::string zone = "8";
  std::string sos1 = "13700137001";
  std::string sos2 = "13700137002";
  std::string sos3 = "";
  std::string monitorNumber = "13600136000";
  std::string uploadInterval = "60";
};

// The parameter a command key names, or nullptr for an unknown key. "ver" is read-only.
std::string* ParamForKey(TrackerParams& params, std::string_view key);
bool IsReadOnlyKey(std::string_view key);
// Why a preset value cannot be stored (empty when it can): the reply grammar splits at ","
// and ends at "#", and frames carry no NUL.
std::string PresetProblem(std::string_view value);

enum class TestPart { kGsm, kGps, kKey };

// Ways a production station's steps can fail on this tracker.
struct StepFaults {
  std::vector<std::string> refuseSet;                          // keys whose sets answer "error"
  std::vector<std::pair<std::string, std::string>> misreport;  // key, value its reads answer
  bool noTestResult = false;  // the factory test is echoed, never answered
};

struct Reply {
  std::string payload;  // the frame's whole payload, e.g. "AT+uart:imei,ok#"
  std::chrono::milliseconds delay{0};
};

struct Answer {
  std::vector<Reply> replies;
  std::string problem;  // why a text got no answer, for the operator (empty otherwise)
};

class TrackerModel {
 public:
  explicit TrackerModel(TrackerParams presets);

  // The answer to one text received from the console (the text area of its frame).
  Answer AnswerText(std::string_view text);

  void SetTestFailure(TestPart part, bool fails);
  void SetStepFaults(StepFaults faults) { faults_ = std::move(faults); }
  // "AT+uart:gsm,<signal>,agps,<n>,gps,<n>,sim,1#"
  static std::string StatusReport(int gsmSignal, int agpsCount, int gpsCount);

  [[nodiscard]] const TrackerParams& params() const { return params_; }

  static constexpr std::chrono::milliseconds kTestDuration{1500};

 private:
  Answer AnswerCommand(std::string_view command);
  Answer AnswerFreeText(std::string_view text);
  std::string TestResult() const;
  std::string AnswerField(std::string_view key, std::string_view value);

  TrackerParams presets_;
  TrackerParams params_;
  std::array<bool, 3> testFails_{};
  StepFaults faults_;
};

}  // namespace sim

#include "tools/sim/tracker_model.h"

#include <utility>

namespace sim {
namespace {

constexpr std::string_view kUartPrefix = "AT+uart:";
constexpr std::string_view kAtPrefix = "AT:";
constexpr std::string_view kFactoryTest = "factory_test";
// The manual command that restores the tracker's own settings.
constexpr std::string_view kFactoryReset = "FACTORY";

std::vector<std::string_view> SplitFields(std::string_view text) {
  std::vector<std::string_view> fields;
  std::size_t begin = 0;
  while (true) {
    const std::size_t comma = text.find(',', begin);
    fields.push_back(text.substr(begin, comma == std::string_view::npos ? comma : comma - begin));
    if (comma == std::string_view::npos) return fields;
    begin = comma + 1;
  }
}

std::string UartPayload(std::string_view reply) {
  std::string payload(kUartPrefix);
  payload += reply;
  payload += '#';
  return payload;
}

}  // namespace

std::string* ParamForKey(TrackerParams& params, std::string_view key) {
  const std::pair<std::string_view, std::string TrackerParams::*> table[] = {
      {"ver", &TrackerParams::version},
      {"ip_url", &TrackerParams::serverAddr},
      {"port", &TrackerParams::serverPort},
      {"url", &TrackerParams::useDomain},
      {"imei", &TrackerParams::imei},
      {"center_number", &TrackerParams::centerNumber},
      {"slave_number", &TrackerParams::slaveNumber},
      {"language", &TrackerParams::language},
      {"zone", &TrackerParams::zone},
      {"sos1", &TrackerParams::sos1},
      {"sos2", &TrackerParams::sos2},
      {"sos3", &TrackerParams::sos3},
      {"monitor", &TrackerParams::monitorNumber},
      {"upload", &TrackerParams::uploadInterval},
  };
  for (const auto& [name, member] : table) {
    if (name == key) return &(params.*member);
  }
  return nullptr;
}

bool IsReadOnlyKey(std::string_view key) {
  return key == "ver";
}

std::string PresetProblem(std::string_view value) {
  if (value.find_first_of(std::string_view(",#\0", 3)) != std::string_view::npos) {
    return "must not contain ',', '#' or NUL";
  }
  return {};
}

TrackerModel::TrackerModel(TrackerParams presets)
    : presets_(std::move(presets)), params_(presets_) {}

void TrackerModel::SetTestFailure(TestPart part, bool fails) {
  testFails_[static_cast<std::size_t>(part)] = fails;
}

std::string TrackerModel::StatusReport(int gsmSignal, int agpsCount, int gpsCount) {
  return UartPayload("gsm," + std::to_string(gsmSignal) + ",agps," + std::to_string(agpsCount) +
                     ",gps," + std::to_string(gpsCount) + ",sim,1");
}

// One key of a command: "?" reads, anything else sets. Unknown keys answer "error".
std::string TrackerModel::AnswerField(std::string_view key, std::string_view value) {
  std::string* param = ParamForKey(params_, key);
  if (param == nullptr) return "error";
  if (value == "?" || IsReadOnlyKey(key)) {
    for (const auto& [faultKey, faultValue] : faults_.misreport) {
      if (faultKey == key) return faultValue;
    }
    return *param;
  }
  for (const auto& refused : faults_.refuseSet) {
    if (refused == key) return "error";
  }
  *param = std::string(value);
  return "ok";
}

Answer TrackerModel::AnswerText(std::string_view text) {
  if (text.starts_with(kUartPrefix)) return AnswerCommand(text.substr(kUartPrefix.size()));
  if (text.starts_with(kAtPrefix)) return AnswerFreeText(text.substr(kAtPrefix.size()));
  return {{}, "text without \"AT+uart:\" or \"AT:\" ignored"};
}

// A command runs to its first "#". One without "#" was cut by the console's 128-byte text
// area; half a command is not carried out.
Answer TrackerModel::AnswerCommand(std::string_view text) {
  const std::size_t end = text.find('#');
  if (end == std::string_view::npos) return {{}, "command without closing '#' ignored"};
  const std::string_view command = text.substr(0, end);
  if (command.empty()) return {{}, "empty command ignored"};
  if (command == kFactoryTest) {
    if (faults_.noTestResult) return {{{UartPayload(kFactoryTest), {}}}, {}};
    return {{{UartPayload(kFactoryTest), {}}, {UartPayload(TestResult()), kTestDuration}}, {}};
  }
  const std::vector<std::string_view> fields = SplitFields(command);
  std::string reply;
  for (std::size_t i = 0; i < fields.size(); i += 2) {
    const std::string_view value = i + 1 < fields.size() ? fields[i + 1] : std::string_view();
    if (i > 0) reply += ',';
    reply += fields[i];
    reply += ',';
    reply += AnswerField(fields[i], value);
  }
  return {{{UartPayload(reply), {}}}, {}};
}

Answer TrackerModel::AnswerFreeText(std::string_view text) {
  std::string_view word = text;
  if (word.ends_with('#')) word.remove_suffix(1);
  if (word == kFactoryReset) params_ = presets_;
  return {{{std::string(kAtPrefix) + std::string(text), {}}}, {}};
}

std::string TrackerModel::TestResult() const {
  const char* names[] = {"gsm", "gps", "key"};
  std::string result;
  for (std::size_t i = 0; i < testFails_.size(); ++i) {
    if (i > 0) result += ',';
    result += names[i];
    result += testFails_[i] ? ",fail" : ",ok";
  }
  return result;
}

}  // namespace sim

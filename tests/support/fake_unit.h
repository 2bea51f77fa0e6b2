// A unit that keeps what is set and answers like the tracker at once, with one fault at a time.
// Header-only and free of GoogleTest, so the benches use it too.

#pragma once

#include <chrono>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "station/station_engine.h"

namespace tc_test {

struct FakeUnit : station::UnitLink {
  std::map<std::string, std::string> params{{"imei", "860000000000009"}, {"ver", "FW1"}};
  std::string silentOn;                 // a command starting so gets no answer
  std::string refuseKey, misreportKey;  // its set answers "error" / its read answers "x"
  bool repeatConfirmations = false;     // every confirmation comes twice
  std::optional<std::string> testResult = "gsm,ok,gps,ok,key,ok";
  station::GpsMeasure gps{4.0, 6, {40, 38, 30, 20}};
  std::vector<std::string> sent;
  std::deque<std::string> replies;

  void Send(const std::string& command) override {
    sent.push_back(command);
    if (!silentOn.empty() && command.rfind(silentOn, 0) == 0) return;
    std::vector<std::string> f(1);
    for (char c : command) {
      if (c == ',')
        f.emplace_back();
      else
        f.back().push_back(c);
    }
    std::string reply;
    for (std::size_t i = 0; i + 1 < f.size() || i == 0; i += 2) {
      const std::string value = i + 1 < f.size() ? f[i + 1] : "";
      std::string answer = value == "?" ? params[f[i]] : "ok";
      if (value == "?" && f[i] == misreportKey) answer = "x";
      if (value != "?" && f[i] == refuseKey) answer = "error";
      if (value != "?" && answer == "ok") params[f[i]] = value;
      reply += (i ? "," : "") + f[i] + "," + answer;
    }
    replies.push_back(reply + "#\r\n");
    if (repeatConfirmations && f.size() > 1 && f[1] != "?") replies.push_back(replies.back());
  }
  void StartTest(std::chrono::milliseconds) override {
    sent.emplace_back("factory_test");
    if (testResult) replies.push_back(*testResult + "#\r\n");
  }
  station::GpsMeasure MeasureGps() override { return gps; }
};

}  // namespace tc_test

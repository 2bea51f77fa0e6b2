// What the virtual tracker answers: every request the console sends, by its exact reply text.

#include "tools/sim/tracker_model.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> Payloads(const sim::Answer& answer) {
  std::vector<std::string> payloads;
  for (const sim::Reply& reply : answer.replies) payloads.push_back(reply.payload);
  return payloads;
}

std::string Uart(const std::string& command) {
  return "AT+uart:" + command + "#";
}

// One conversation with one tracker: each row's text in turn, and what comes back.
TEST(TrackerModel, AnswersEachTextOfAConversation) {
  const std::string sos = "sos1,?,sos2,?,sos3,?";
  const struct {
    const char* description;
    std::string text;
    std::vector<std::string> replies;
    bool problem = false;
  } rows[] = {
      {"version", Uart("ver,?"), {Uart("ver,TS1.9.0-SIM")}},
      {"address", Uart("ip_url,?,port,?,url,?"), {Uart("ip_url,192.0.2.10,port,7700,url,0")}},
      {"IMEI from the presets", Uart("imei,?"), {Uart("imei,111111111111111")}},
      {"numbers",
       Uart("center_number,?,slave_number,?"),
       {Uart("center_number,13800138000,slave_number,13900139000")}},
      {"language", Uart("language,?,zone,?"), {Uart("language,1,zone,8")}},
      {"SOS, one empty", Uart(sos), {Uart("sos1,13700137001,sos2,13700137002,sos3,")}},
      {"monitor", Uart("monitor,?"), {Uart("monitor,13600136000")}},
      {"upload", Uart("upload,?"), {Uart("upload,60")}},
      {"text after the first # is ignored",
       Uart("imei,?") + ",junk",
       {Uart("imei,111111111111111")}},

      {"set address", Uart("ip_url,10.1.2.3,port,5555,url,1"), {Uart("ip_url,ok,port,ok,url,ok")}},
      {"address back", Uart("ip_url,?,port,?,url,?"), {Uart("ip_url,10.1.2.3,port,5555,url,1")}},
      {"set IMEI", Uart("imei,356938035643809"), {Uart("imei,ok")}},
      {"IMEI back", Uart("imei,?"), {Uart("imei,356938035643809")}},
      {"set numbers, one empty",
       Uart("center_number,10086,slave_number,"),
       {Uart("center_number,ok,slave_number,ok")}},
      {"numbers back",
       Uart("center_number,?,slave_number,?"),
       {Uart("center_number,10086,slave_number,")}},
      {"set language", Uart("language,0,zone,-5"), {Uart("language,ok,zone,ok")}},
      {"language back", Uart("language,?,zone,?"), {Uart("language,0,zone,-5")}},
      {"set SOS", Uart("sos1,110,sos2,120,sos3,119"), {Uart("sos1,ok,sos2,ok,sos3,ok")}},
      {"SOS back", Uart(sos), {Uart("sos1,110,sos2,120,sos3,119")}},
      {"set monitor in GBK", Uart("monitor,\xd6\xd0"), {Uart("monitor,ok")}},
      {"monitor back", Uart("monitor,?"), {Uart("monitor,\xd6\xd0")}},
      {"a key without value sets empty", Uart("upload"), {Uart("upload,ok")}},
      {"upload back", Uart("upload,?"), {Uart("upload,")}},
      {"the version cannot be set", Uart("ver,9.9"), {Uart("ver,TS1.9.0-SIM")}},
      {"an unknown key", Uart("colour,?"), {Uart("colour,error")}},

      {"the greeting is echoed", "AT:connect ok!#", {"AT:connect ok!#"}},
      {"an empty free text is echoed", "AT:", {"AT:"}},
      {"the factory reset is echoed", "AT:FACTORY", {"AT:FACTORY"}},
      {"... and restores the presets", Uart("imei,?"), {Uart("imei,111111111111111")}},
      {"a command cut before its #", "AT+uart:imei,12345", {}, true},
      {"an empty command", "AT+uart:#", {}, true},
      {"neither prefix", "hello", {}, true},
      {"a lower-case prefix", "at+uart:ver,?#", {}, true},
  };
  sim::TrackerParams presets;
  presets.imei = "111111111111111";
  sim::TrackerModel model(presets);
  for (const auto& row : rows) {
    const sim::Answer answer = model.AnswerText(row.text);
    EXPECT_EQ(Payloads(answer), row.replies) << row.description;
    EXPECT_EQ(!answer.problem.empty(), row.problem) << row.description;
  }
}

TEST(TrackerModel, FactoryTestIsEchoedThenAnsweredLater) {
  const struct {
    std::vector<sim::TestPart> failing;
    const char* result;
  } rows[] = {
      {{}, "AT+uart:gsm,ok,gps,ok,key,ok#"},
      {{sim::TestPart::kGps}, "AT+uart:gsm,ok,gps,fail,key,ok#"},
      {{sim::TestPart::kGsm, sim::TestPart::kKey}, "AT+uart:gsm,fail,gps,ok,key,fail#"},
  };
  for (const auto& row : rows) {
    sim::TrackerModel model{sim::TrackerParams{}};
    for (sim::TestPart part : row.failing) model.SetTestFailure(part, true);
    const sim::Answer answer = model.AnswerText("AT+uart:factory_test#");
    ASSERT_EQ(answer.replies.size(), 2u) << row.result;
    EXPECT_EQ(answer.replies[0].payload, "AT+uart:factory_test#");
    EXPECT_EQ(answer.replies[0].delay.count(), 0);
    EXPECT_EQ(answer.replies[1].payload, row.result);
    EXPECT_GT(answer.replies[1].delay.count(), 0) << row.result;
  }
}

TEST(TrackerModel, StatusReportHasTheShapeTheConsoleReads) {
  EXPECT_EQ(sim::TrackerModel::StatusReport(25, 3, 7), "AT+uart:gsm,25,agps,3,gps,7,sim,1#");
}

}  // namespace

// What the virtual tracker answers: every request the console sends, by its exact reply text.

#include "tools/sim/tracker_model.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using std::chrono::milliseconds;

std::vector<std::string> Payloads(const sim::Answer& answer) {
  std::vector<std::string> payloads;
  for (const sim::Reply& reply : answer.replies) payloads.push_back(reply.payload);
  return payloads;
}

std::string Uart(const std::string& command) {
  return "AT+uart:" + command + "#";
}

TEST(TrackerModel, AnswersEveryReadFromItsParameters) {
  sim::TrackerParams params;
  params.version = "V2.0";
  params.serverAddr = "example.org";
  params.serverPort = "9000";
  params.useDomain = "1";
  params.imei = "123456789012345";
  params.centerNumber = "111";
  params.slaveNumber = "222";
  params.language = "0";
  params.zone = "-5";
  params.sos1 = "1";
  params.sos2 = "";
  params.sos3 = "3";
  params.monitorNumber = "444";
  params.uploadInterval = "30";
  const struct {
    const char* request;
    const char* reply;
  } rows[] = {
      {"ver,?", "ver,V2.0#"},
      {"ip_url,?,port,?,url,?", "ip_url,example.org,port,9000,url,1#"},
      {"imei,?", "imei,123456789012345#"},
      {"center_number,?,slave_number,?", "center_number,111,slave_number,222#"},
      {"language,?,zone,?", "language,0,zone,-5#"},
      {"sos1,?,sos2,?,sos3,?", "sos1,1,sos2,,sos3,3#"},
      {"monitor,?", "monitor,444#"},
      {"upload,?", "upload,30#"},
  };
  sim::TrackerModel model(params);
  for (const auto& row : rows) {
    const sim::Answer answer = model.AnswerText(Uart(row.request));
    EXPECT_EQ(Payloads(answer), std::vector<std::string>{std::string("AT+uart:") + row.reply})
        << row.request;
    EXPECT_EQ(answer.problem, "") << row.request;
  }
}

TEST(TrackerModel, ConfirmsSetsWithOkAndReadsBackTheNewValues) {
  const struct {
    const char* set;
    const char* confirmation;
    const char* read;
    const char* readReply;
  } rows[] = {
      {"ip_url,10.1.2.3,port,5555,url,0", "ip_url,ok,port,ok,url,ok#", "ip_url,?,port,?,url,?",
       "ip_url,10.1.2.3,port,5555,url,0#"},
      {"imei,356938035643809", "imei,ok#", "imei,?", "imei,356938035643809#"},
      {"center_number,10086,slave_number,", "center_number,ok,slave_number,ok#",
       "center_number,?,slave_number,?", "center_number,10086,slave_number,#"},
      {"language,1,zone,8", "language,ok,zone,ok#", "language,?,zone,?", "language,1,zone,8#"},
      {"sos1,110,sos2,120,sos3,119", "sos1,ok,sos2,ok,sos3,ok#", "sos1,?,sos2,?,sos3,?",
       "sos1,110,sos2,120,sos3,119#"},
      {"monitor,\xd6\xd0", "monitor,ok#", "monitor,?", "monitor,\xd6\xd0#"},
      {"upload,", "upload,ok#", "upload,?", "upload,#"},
  };
  sim::TrackerModel model{sim::TrackerParams{}};
  for (const auto& row : rows) {
    EXPECT_EQ(Payloads(model.AnswerText(Uart(row.set))),
              std::vector<std::string>{std::string("AT+uart:") + row.confirmation})
        << row.set;
    EXPECT_EQ(Payloads(model.AnswerText(Uart(row.read))),
              std::vector<std::string>{std::string("AT+uart:") + row.readReply})
        << row.read;
  }
}

TEST(TrackerModel, FactoryTestIsEchoedThenAnsweredLater) {
  const struct {
    const char* description;
    std::vector<sim::TestPart> failing;
    const char* result;
  } rows[] = {
      {"all parts pass", {}, "AT+uart:gsm,ok,gps,ok,key,ok#"},
      {"the GPS fails", {sim::TestPart::kGps}, "AT+uart:gsm,ok,gps,fail,key,ok#"},
      {"GSM and key fail",
       {sim::TestPart::kGsm, sim::TestPart::kKey},
       "AT+uart:gsm,fail,gps,ok,key,fail#"},
  };
  for (const auto& row : rows) {
    sim::TrackerModel model{sim::TrackerParams{}};
    for (sim::TestPart part : row.failing) model.SetTestFailure(part, true);
    const sim::Answer answer = model.AnswerText("AT+uart:factory_test#");
    ASSERT_EQ(answer.replies.size(), 2u) << row.description;
    EXPECT_EQ(answer.replies[0].payload, "AT+uart:factory_test#") << row.description;
    EXPECT_EQ(answer.replies[0].delay, milliseconds(0)) << row.description;
    EXPECT_EQ(answer.replies[1].payload, row.result) << row.description;
    EXPECT_GT(answer.replies[1].delay, milliseconds(0)) << row.description;
  }
}

TEST(TrackerModel, OddAndBadTexts) {
  const struct {
    const char* description;
    std::string text;
    std::vector<std::string> replies;
    bool problem;
  } rows[] = {
      {"the greeting is echoed", "AT:connect ok!#", {"AT:connect ok!#"}, false},
      {"a free text is echoed", "AT:POWEROFF", {"AT:POWEROFF"}, false},
      {"an empty free text is echoed", "AT:", {"AT:"}, false},
      {"an unknown key answers error", Uart("colour,?"), {"AT+uart:colour,error#"}, false},
      {"the version cannot be set", Uart("ver,9.9"), {"AT+uart:ver,TS1.9.0-SIM#"}, false},
      {"a key without value reads as set to empty", Uart("upload"), {"AT+uart:upload,ok#"}, false},
      {"text after the first # is ignored",
       "AT+uart:imei,?#,junk",
       {"AT+uart:imei,860000123456781#"},
       false},
      {"a command cut before its #", "AT+uart:imei,12345", {}, true},
      {"an empty command", "AT+uart:#", {}, true},
      {"neither prefix", "hello", {}, true},
      {"a lower-case prefix", "at+uart:ver,?#", {}, true},
  };
  for (const auto& row : rows) {
    sim::TrackerModel model{sim::TrackerParams{}};
    const sim::Answer answer = model.AnswerText(row.text);
    EXPECT_EQ(Payloads(answer), row.replies) << row.description;
    EXPECT_EQ(!answer.problem.empty(), row.problem) << row.description;
  }
}

TEST(TrackerModel, FactoryCommandRestoresThePresets) {
  sim::TrackerParams presets;
  presets.imei = "111111111111111";
  sim::TrackerModel model(presets);
  model.AnswerText(Uart("imei,222222222222222"));
  ASSERT_EQ(model.params().imei, "222222222222222");
  EXPECT_EQ(Payloads(model.AnswerText("AT:FACTORY")), std::vector<std::string>{"AT:FACTORY"});
  EXPECT_EQ(model.params().imei, "111111111111111");
}

TEST(TrackerModel, StatusReportHasTheShapeTheConsoleReads) {
  EXPECT_EQ(sim::TrackerModel::StatusReport(25, 3, 7), "AT+uart:gsm,25,agps,3,gps,7,sim,1#");
}

}  // namespace

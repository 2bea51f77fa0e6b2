// A session with the tracker as the operator has it: start-up finds and greets the device, the
// factory test runs, every read and set button reaches the device and comes back as values
// and notices, status reports and GPS data fill the window, and NMEA stays out of the log.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include "link/frame_encoder.h"
#include "tests/e2e/e2e_fixture.h"
#include "tests/support/pty_peer.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;

std::string Bytes(const devlink::StuffedFrame& frame) {
  return std::string(reinterpret_cast<const char*>(frame.bytes.data()),
                     static_cast<std::size_t>(frame.length));
}

std::string Hex(const std::string& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    out += digits[b >> 4];
    out += digits[b & 15];
    out += ' ';
  }
  return out;
}

bool IsNumber(const std::string& text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// ---------------------------------------------------------------------------------------
// Start-up

TEST_F(EndToEnd, StartupFindsConnectsAndGreetsTheSimulator) {
  ASSERT_NO_FATAL_FAILURE(ConnectTo(Quiet()));
  EXPECT_EQ(h.state.m_testResult, T(kTesting));
  EXPECT_EQ(h.surface.Controls().m_linkState, T(kLinkConnected)) << "the window shows it";
  // The simulator echoes free text: the greeting came through whole.
  ASSERT_TRUE(h.RunUntil([&] { return !h.surface.pane.empty(); }));
  const std::vector<LogLine> lines = ParseLogLines(h.surface.pane);
  ASSERT_EQ(lines.size(), 1u) << h.surface.pane;
  EXPECT_EQ(lines[0].number, 0);
  EXPECT_EQ(lines[0].payload, "AT:connect ok!#");
  EXPECT_TRUE(h.surface.boxes.empty());
}

struct GreetingCase {
  const char* description;
  bool testArmed;
  std::vector<std::string> frames;  // what reaches the device, in order
};

TEST(EndToEndPeer, StartupSendsGreetingAndArmedTestWholeAndInOrder) {
  const GreetingCase cases[] = {
      {"test not armed: the greeting alone", false, {Bytes(devlink::EncodeAtText("connect ok!#"))}},
      {"test armed: the greeting, then the test request",
       true,
       {Bytes(devlink::EncodeAtText("connect ok!#")),
        Bytes(devlink::EncodeUartCommand("factory_test"))}},
  };
  for (const GreetingCase& c : cases) {
    SCOPED_TRACE(c.description);
    ConsoleHarness h;
    PtyPeer peer;
    ASSERT_TRUE(peer.ok());
    ASSERT_TRUE(peer.RegisterAsPort(h.PortsFolder(), 97));
    h.state.m_testEnabled = c.testArmed;
    h.surface.Controls().m_testEnabled = c.testArmed;

    h.logic.OnInitDialog();
    EXPECT_EQ(h.state.m_linkState, T(kLinkConnected));
    EXPECT_EQ(h.state.m_portName.substr(0, 5), "COM97");

    std::string expected;
    for (const std::string& frame : c.frames) expected += frame;
    const std::string got = peer.ReadExactly(expected.size());
    EXPECT_EQ(Hex(got), Hex(expected));
    EXPECT_EQ(Hex(peer.ReadUntilQuiet(300ms)), "") << "nothing more is sent";
  }
}

// ---------------------------------------------------------------------------------------
// Factory test

struct FactoryTestCase {
  const char* description;
  std::vector<std::string> arguments;
  const char* resultPayload;
  texts::Id result;
  bool gsmOk, gpsOk, keyOk;
};

// Test names show the case, not its bytes.
void PrintTo(const FactoryTestCase& c, std::ostream* out) {
  *out << c.description;
}

std::string FactoryTestName(const ::testing::TestParamInfo<FactoryTestCase>& info) {
  const char* names[] = {"AllPass", "GpsFails", "GsmAndKeyFail"};
  return names[info.index];
}

class FactoryTest : public EndToEnd, public ::testing::WithParamInterface<FactoryTestCase> {};

TEST_P(FactoryTest, ArmedAtStartupShowsTheDevicesResult) {
  const FactoryTestCase& c = GetParam();
  h.state.m_testEnabled = true;
  h.surface.Controls().m_testEnabled = true;
  ASSERT_NO_FATAL_FAILURE(ConnectTo(Join(Quiet(), c.arguments)));

  // The echo of the request changes nothing; the result comes after the device's test.
  ASSERT_TRUE(h.RunUntil([&] { return ParseLogLines(h.surface.pane).size() >= 3; }));
  EXPECT_EQ(
      Payloads(h.surface.pane),
      (std::vector<std::string>{"AT:connect ok!#", "AT+uart:factory_test#", c.resultPayload}));
  EXPECT_EQ(h.state.m_testResult, texts::Gbk(c.result));
  EXPECT_EQ(h.surface.Controls().m_testResult, texts::Gbk(c.result));
  EXPECT_EQ(h.state.m_gsmOk, c.gsmOk);
  EXPECT_EQ(h.state.m_gpsOk, c.gpsOk);
  EXPECT_EQ(h.state.m_keyOk, c.keyOk);
  EXPECT_EQ(h.surface.noticeTimerStarts, 0) << "a test result brings no notice";
}

INSTANTIATE_TEST_SUITE_P(Results, FactoryTest,
                         ::testing::Values(FactoryTestCase{"every part passes",
                                                           {},
                                                           "AT+uart:gsm,ok,gps,ok,key,ok#",
                                                           texts::Id::kPass,
                                                           true,
                                                           true,
                                                           true},
                                           FactoryTestCase{"the GPS part fails",
                                                           {"--fail-test", "gps"},
                                                           "AT+uart:gsm,ok,gps,fail,key,ok#",
                                                           texts::Id::kTesting,
                                                           true,
                                                           false,
                                                           true},
                                           FactoryTestCase{"GSM and key fail",
                                                           {"--fail-test", "gsm,key"},
                                                           "AT+uart:gsm,fail,gps,ok,key,fail#",
                                                           texts::Id::kTesting,
                                                           false,
                                                           true,
                                                           false}),
                         FactoryTestName);

// ---------------------------------------------------------------------------------------
// Read buttons

struct Shown {
  Member member;
  std::string text;
};

struct ReadCase {
  const char* description;
  void (ConfigLogic::*press)();
  texts::Id notice;
  std::vector<Shown> shown;
};

TEST_F(EndToEnd, EveryReadButtonFillsItsBoxesAndBringsItsNotice) {
  const ReadCase cases[] = {
      {"version",
       &ConfigLogic::OnReadVersion,
       texts::Id::kNoticeVersionRead,
       {{&DialogState::m_version, "TS-E2E-7"}}},
      {"address",
       &ConfigLogic::OnReadAddress,
       texts::Id::kNoticeIpRead,
       {{&DialogState::m_serverAddr, "198.51.100.7"},
        {&DialogState::m_serverPort, "9001"},
        {&DialogState::m_addrLabel, T(kAddrLabelIp)}}},
      {"IMEI",
       &ConfigLogic::OnReadImei,
       texts::Id::kNoticeImeiRead,
       {{&DialogState::m_imei, "861234567890123"}}},
      {"centre and auxiliary numbers",
       &ConfigLogic::OnReadNumbers,
       texts::Id::kNoticeNumbersRead,
       {{&DialogState::m_centerNumber, "13512345678"},
        {&DialogState::m_slaveNumber, "13687654321"}}},
      {"language and time zone",
       &ConfigLogic::OnReadLanguage,
       texts::Id::kNoticeLanguageRead,
       {{&DialogState::m_language, "0"}, {&DialogState::m_zone, "11"}}},
      {"SOS numbers",
       &ConfigLogic::OnReadSos,
       texts::Id::kNoticeSosRead,
       {{&DialogState::m_sos1, "110"},
        {&DialogState::m_sos2, "119"},
        {&DialogState::m_sos3, "120"}}},
      {"monitor number",
       &ConfigLogic::OnReadMonitor,
       texts::Id::kNoticeMonitorRead,
       {{&DialogState::m_monitorNumber, "13011112222"}}},
      {"upload interval",
       &ConfigLogic::OnReadUpload,
       texts::Id::kNoticeUploadRead,
       {{&DialogState::m_uploadInterval, "30"}}},
  };
  ASSERT_NO_FATAL_FAILURE(ConnectTo(Join(Quiet(), Presets())));
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(c.description);
    for (const Shown& s : c.shown) Forget(s.member);
    const int before = h.surface.noticeTimerStarts;
    ASSERT_TRUE(PressAndAwaitNotice(c.press));
    EXPECT_EQ(h.surface.noticeTimerStarts, before + 1);
    for (const Shown& s : c.shown) {
      EXPECT_EQ(h.state.*s.member, s.text);
      EXPECT_EQ(h.surface.Controls().*s.member, s.text) << "the box shows it";
    }
    ExpectNoticeBox(c.notice);
  }
  EXPECT_FALSE(h.state.m_useDomain);
}

// ---------------------------------------------------------------------------------------
// Set buttons: confirmed, then read back from the device

struct SetCase {
  const char* description;
  std::vector<Shown> typed;
  bool domain;  // the "域名" box, for the address only
  void (ConfigLogic::*set)();
  texts::Id setNotice;
  void (ConfigLogic::*read)();
  texts::Id readNotice;
  std::vector<Shown> readBack;
};

TEST_F(EndToEnd, EverySetIsConfirmedAndTheDeviceThenReadsBackTheNewValue) {
  const SetCase cases[] = {
      {"address as IP",
       {{&DialogState::m_serverAddr, "203.0.113.5"}, {&DialogState::m_serverPort, "8081"}},
       false,
       &ConfigLogic::OnSetAddress,
       texts::Id::kNoticeAddrSet,
       &ConfigLogic::OnReadAddress,
       texts::Id::kNoticeIpRead,
       {{&DialogState::m_serverAddr, "203.0.113.5"},
        {&DialogState::m_serverPort, "8081"},
        {&DialogState::m_addrLabel, T(kAddrLabelIp)}}},
      {"address as domain",
       {{&DialogState::m_serverAddr, "track.example.net"}, {&DialogState::m_serverPort, "9443"}},
       true,
       &ConfigLogic::OnSetAddress,
       texts::Id::kNoticeAddrSet,
       &ConfigLogic::OnReadAddress,
       texts::Id::kNoticeDomainRead,
       {{&DialogState::m_serverAddr, "track.example.net"},
        {&DialogState::m_serverPort, "9443"},
        {&DialogState::m_addrLabel, T(kAddrLabelUrl)}}},
      {"IMEI",
       {{&DialogState::m_imei, "867530912345678"}},
       false,
       &ConfigLogic::OnSetImei,
       texts::Id::kNoticeImeiSet,
       &ConfigLogic::OnReadImei,
       texts::Id::kNoticeImeiRead,
       {{&DialogState::m_imei, "867530912345678"}}},
      {"centre and auxiliary numbers",
       {{&DialogState::m_centerNumber, "13311112222"},
        {&DialogState::m_slaveNumber, "13344445555"}},
       false,
       &ConfigLogic::OnSetNumbers,
       texts::Id::kNoticeNumbersSet,
       &ConfigLogic::OnReadNumbers,
       texts::Id::kNoticeNumbersRead,
       {{&DialogState::m_centerNumber, "13311112222"},
        {&DialogState::m_slaveNumber, "13344445555"}}},
      {"language and time zone",
       {{&DialogState::m_language, "1"}, {&DialogState::m_zone, "9"}},
       false,
       &ConfigLogic::OnSetLanguage,
       texts::Id::kNoticeLanguageSet,
       &ConfigLogic::OnReadLanguage,
       texts::Id::kNoticeLanguageRead,
       {{&DialogState::m_language, "1"}, {&DialogState::m_zone, "9"}}},
      {"SOS numbers",
       {{&DialogState::m_sos1, "112"},
        {&DialogState::m_sos2, "911"},
        {&DialogState::m_sos3, "999"}},
       false,
       &ConfigLogic::OnSetSos,
       texts::Id::kNoticeSosSet,
       &ConfigLogic::OnReadSos,
       texts::Id::kNoticeSosRead,
       {{&DialogState::m_sos1, "112"},
        {&DialogState::m_sos2, "911"},
        {&DialogState::m_sos3, "999"}}},
      {"monitor number",
       {{&DialogState::m_monitorNumber, "13899990000"}},
       false,
       &ConfigLogic::OnSetMonitor,
       texts::Id::kNoticeMonitorSet,
       &ConfigLogic::OnReadMonitor,
       texts::Id::kNoticeMonitorRead,
       {{&DialogState::m_monitorNumber, "13899990000"}}},
      {"upload interval",
       {{&DialogState::m_uploadInterval, "120"}},
       false,
       &ConfigLogic::OnSetUpload,
       texts::Id::kNoticeUploadSet,
       &ConfigLogic::OnReadUpload,
       texts::Id::kNoticeUploadRead,
       {{&DialogState::m_uploadInterval, "120"}}},
  };
  ASSERT_NO_FATAL_FAILURE(ConnectTo(Join(Quiet(), Presets())));
  for (const SetCase& c : cases) {
    SCOPED_TRACE(c.description);
    for (const Shown& s : c.typed) Type(s.member, s.text);
    Tick(&DialogState::m_useDomain, c.domain);
    ASSERT_TRUE(PressAndAwaitNotice(c.set));
    // A confirmation leaves the boxes as the operator sent them; only the IMEI box empties.
    for (const Shown& s : c.typed) {
      const bool emptied = s.member == &DialogState::m_imei;
      EXPECT_EQ(h.surface.Controls().*s.member, emptied ? std::string() : s.text);
    }
    ExpectNoticeBox(c.setNotice);

    for (const Shown& s : c.readBack) Forget(s.member);
    ASSERT_TRUE(PressAndAwaitNotice(c.read));
    for (const Shown& s : c.readBack) EXPECT_EQ(h.surface.Controls().*s.member, s.text);
    EXPECT_EQ(h.state.m_useDomain, c.domain);
    ExpectNoticeBox(c.readNotice);
  }
}

// ---------------------------------------------------------------------------------------
// Status reports and GPS data

TEST_F(EndToEnd, StatusReportFillsTheStatusDisplays) {
  ASSERT_NO_FATAL_FAILURE(
      ConnectTo({"--no-nmea", "--log-interval", "0", "--status-interval", "1"}));
  ASSERT_TRUE(h.RunUntil([&] { return !h.surface.Controls().m_simState.empty(); }));

  // The displays show what the last report in the log said.
  std::string report;
  for (const LogLine& line : ParseLogLines(h.surface.pane)) {
    if (line.payload.starts_with("AT+uart:gsm,")) report = line.payload;
  }
  const std::string expected = "AT+uart:gsm," + h.state.m_gsmSignal + ",agps," +
                               h.state.m_agpsCount + ",gps," + h.state.m_gpsCount + ",sim,1#";
  EXPECT_EQ(report, expected);
  EXPECT_TRUE(IsNumber(h.state.m_gsmSignal)) << h.state.m_gsmSignal;
  EXPECT_TRUE(IsNumber(h.state.m_agpsCount)) << h.state.m_agpsCount;
  EXPECT_TRUE(IsNumber(h.state.m_gpsCount)) << h.state.m_gpsCount;
  EXPECT_EQ(h.surface.Controls().m_simState, T(kSimPresent));
  EXPECT_EQ(h.surface.Controls().m_gsmSignal, h.state.m_gsmSignal);
  EXPECT_EQ(h.surface.noticeTimerStarts, 0) << "a status report brings no notice";
}

TEST_F(EndToEnd, NmeaFillsTheGpsPanelAndStaysOutOfTheLog) {
  ASSERT_NO_FATAL_FAILURE(
      ConnectTo({"--seed", "5", "--status-interval", "0", "--log-interval", "1"}));
  const DialogState& shown = h.surface.Controls();
  // The simulated receiver starts cold; a fix follows within a few seconds.
  ASSERT_TRUE(h.RunUntil([&] { return std::atof(shown.m_longitude.c_str()) > 1.0; }));
  const std::string firstTime = shown.m_gpsTime;
  const std::string firstLongitude = shown.m_longitude;
  EXPECT_EQ(firstTime.size(), 8u) << firstTime;  // hh:mm:ss
  EXPECT_GT(std::atof(shown.m_latitude.c_str()), 1.0) << shown.m_latitude;
  EXPECT_GT(std::atoi(shown.m_satsUsed.c_str()), 0) << shown.m_satsUsed;
  EXPECT_TRUE(shown.m_fixType == T(kFixNonDifferential) || shown.m_fixType == T(kFixDifferential));

  // It keeps updating: the time moves on, the tracker drives, the signal row fills.
  ASSERT_TRUE(h.RunUntil([&] { return shown.m_gpsTime != firstTime; }));
  ASSERT_TRUE(h.RunUntil([&] { return shown.m_longitude != firstLongitude; }));
  EXPECT_EQ(shown.m_fixState, T(kFixed));
  EXPECT_TRUE(std::any_of(shown.m_snr.begin(), shown.m_snr.end(),
                          [](const std::string& snr) { return snr != "0"; }));
  EXPECT_GE(h.surface.indicatorHistory.size(), 2u);

  // Sentences never reach the log, but they are counted: the numbering jumps over them.
  ASSERT_TRUE(h.RunUntil([&] { return ParseLogLines(h.surface.pane).size() >= 3; }));
  const std::vector<LogLine> lines = ParseLogLines(h.surface.pane);
  bool jumped = false;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    EXPECT_FALSE(lines[i].payload.starts_with("$")) << lines[i].payload;
    if (i == 0) continue;
    EXPECT_GT(lines[i].number, lines[i - 1].number);
    jumped = jumped || lines[i].number > lines[i - 1].number + 1;
  }
  EXPECT_TRUE(jumped) << h.surface.pane;
}

}  // namespace
}  // namespace e2e

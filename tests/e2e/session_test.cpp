// A session with the tracker as the operator has it: start-up finds and greets the device, the
// factory test runs, every read and set button reaches the device and comes back as values
// and notices, status reports and GPS data fill the window, and NMEA stays out of the log.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "link/frame_encoder.h"
#include "tests/e2e/e2e_fixture.h"
#include "tests/support/pty_peer.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;
using L = ConfigLogic;
using S = DialogState;
using enum texts::Id;

std::string Wire(const devlink::StuffedFrame& frame) {
  return std::string(reinterpret_cast<const char*>(frame.bytes.data()),
                     static_cast<std::size_t>(frame.length));
}

TEST(EndToEnd, StartupSendsTheGreetingAndTheArmedTestWholeAndInOrder) {
  const std::string greeting = Wire(devlink::EncodeAtText("connect ok!#"));
  const std::string test = Wire(devlink::EncodeUartCommand("factory_test"));
  for (const bool armed : {false, true}) {
    SCOPED_TRACE(armed ? "test armed" : "test not armed");
    ConsoleHarness h;
    PtyPeer peer;
    ASSERT_TRUE(peer.ok() && peer.RegisterAsPort(h.PortsFolder(), 97));
    h.state.m_testEnabled = armed;
    h.surface.Controls().m_testEnabled = armed;

    h.logic.OnInitDialog();
    EXPECT_EQ(h.surface.Controls().m_linkState, T(kLinkConnected));
    EXPECT_EQ(h.surface.Controls().m_portName.substr(0, 5), "COM97");
    EXPECT_EQ(h.surface.Controls().m_testResult, T(kTesting));
    const std::string expected = armed ? greeting + test : greeting;
    EXPECT_EQ(peer.ReadExactly(expected.size()), expected);
    EXPECT_EQ(peer.ReadUntilQuiet(300ms), "") << "nothing more is sent";
    EXPECT_TRUE(h.surface.boxes.empty());
  }
}

TEST(EndToEnd, ArmedFactoryTestShowsTheDevicesResult) {
  const struct {
    Texts arguments;
    const char* resultPayload;
    texts::Id result;
    std::vector<bool> partsOk;  // GSM, GPS, key
  } rows[] = {
      {{}, "AT+uart:gsm,ok,gps,ok,key,ok#", kPass, {true, true, true}},
      {{"--fail-test", "gps"}, "AT+uart:gsm,ok,gps,fail,key,ok#", kTesting, {true, false, true}},
      {{"--fail-test", "gsm,key"},
       "AT+uart:gsm,fail,gps,ok,key,fail#",
       kTesting,
       {false, true, false}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.resultPayload);
    Session s;
    s.state.m_testEnabled = true;
    s.surface.Controls().m_testEnabled = true;
    ASSERT_NO_FATAL_FAILURE(s.ConnectTo(Quiet(row.arguments)));
    // The echo of the request changes nothing; the result comes after the device's test.
    ASSERT_TRUE(s.h.RunUntil([&] { return ParseLogLines(s.surface.pane).size() >= 3; }));
    EXPECT_EQ(Payloads(s.surface.pane),
              (Texts{"AT:connect ok!#", "AT+uart:factory_test#", row.resultPayload}));
    EXPECT_EQ(s.surface.Controls().m_testResult, texts::Gbk(row.result));
    EXPECT_EQ((std::vector<bool>{s.state.m_gsmOk, s.state.m_gpsOk, s.state.m_keyOk}), row.partsOk);
    EXPECT_EQ(s.surface.noticeTimerStarts, 0) << "a test result brings no notice";
  }
}

// Each area of settings: the read shows the device's presets, the set is confirmed, and a
// read then brings back what was set.
TEST(EndToEnd, EveryReadAndSetReachesTheDeviceAndBringsItsNotice) {
  const struct {
    const char* description;
    Press read;
    texts::Id readNotice;
    Press set;  // none for the version
    texts::Id setNotice;
    std::vector<Member> boxes;
    Texts preset;
    Texts typed;
  } areas[] = {
      // clang-format off
      {"version", &L::OnReadVersion, kNoticeVersionRead, nullptr, kNoticeVersionRead,
       {&S::m_version}, {"TS-E2E-7"}, {}},
      // The label is no box, but follows the kind of address; the domain is set by its tick.
      {"address", &L::OnReadAddress, kNoticeIpRead, &L::OnSetAddress, kNoticeAddrSet,
       {&S::m_serverAddr, &S::m_serverPort, &S::m_addrLabel},
       {"198.51.100.7", "9001", T(kAddrLabelIp)}, {"track.example.net", "9443", T(kAddrLabelUrl)}},
      {"IMEI", &L::OnReadImei, kNoticeImeiRead, &L::OnSetImei, kNoticeImeiSet,
       {&S::m_imei}, {"861234567890123"}, {"867530912345678"}},
      {"centre and auxiliary numbers", &L::OnReadNumbers, kNoticeNumbersRead, &L::OnSetNumbers,
       kNoticeNumbersSet, {&S::m_centerNumber, &S::m_slaveNumber},
       {"13512345678", "13687654321"}, {"13311112222", "13344445555"}},
      {"language and time zone", &L::OnReadLanguage, kNoticeLanguageRead, &L::OnSetLanguage,
       kNoticeLanguageSet, {&S::m_language, &S::m_zone}, {"0", "11"}, {"1", "9"}},
      {"SOS numbers", &L::OnReadSos, kNoticeSosRead, &L::OnSetSos, kNoticeSosSet,
       {&S::m_sos1, &S::m_sos2, &S::m_sos3}, {"110", "119", "120"}, {"112", "911", "999"}},
      {"monitor number", &L::OnReadMonitor, kNoticeMonitorRead, &L::OnSetMonitor,
       kNoticeMonitorSet, {&S::m_monitorNumber}, {"13011112222"}, {"13899990000"}},
      {"upload interval", &L::OnReadUpload, kNoticeUploadRead, &L::OnSetUpload, kNoticeUploadSet,
       {&S::m_uploadInterval}, {"30"}, {"120"}},
      // clang-format on
  };
  Session s;
  DialogState& shown = s.surface.Controls();
  ASSERT_NO_FATAL_FAILURE(s.ConnectTo(Quiet(Presets())));
  const auto readShows = [&](const auto& area, texts::Id notice, const Texts& values) {
    for (Member box : area.boxes) s.state.*box = shown.*box = "";
    ASSERT_TRUE(s.PressAndAwaitNotice(area.read));
    for (std::size_t i = 0; i < values.size(); ++i) EXPECT_EQ(shown.*area.boxes[i], values[i]);
    s.ExpectNoticeBox(notice);
  };
  for (const auto& area : areas) {
    SCOPED_TRACE(area.description);
    readShows(area, area.readNotice, area.preset);
    if (area.set == nullptr) continue;
    for (std::size_t i = 0; i < area.typed.size(); ++i) shown.*area.boxes[i] = area.typed[i];
    const bool domain = area.read == &L::OnReadAddress;
    shown.m_useDomain = domain;
    ASSERT_TRUE(s.PressAndAwaitNotice(area.set));
    // A confirmation leaves the boxes as the operator sent them; only the IMEI box empties.
    for (std::size_t i = 0; i < area.typed.size(); ++i) {
      EXPECT_EQ(shown.*area.boxes[i], area.boxes[i] == &S::m_imei ? "" : area.typed[i]);
    }
    s.ExpectNoticeBox(area.setNotice);
    readShows(area, domain ? kNoticeDomainRead : area.readNotice, area.typed);
    EXPECT_EQ(s.state.m_useDomain, domain);
  }
}

TEST(EndToEnd, StatusReportFillsTheStatusDisplays) {
  Session s;
  ASSERT_NO_FATAL_FAILURE(
      s.ConnectTo({"--no-nmea", "--log-interval", "0", "--status-interval", "1"}));
  const DialogState& shown = s.surface.Controls();
  ASSERT_TRUE(s.h.RunUntil([&] { return !shown.m_simState.empty(); }));
  // The displays show what the last report in the log said.
  std::string report;
  for (const std::string& payload : Payloads(s.surface.pane)) {
    if (payload.starts_with("AT+uart:gsm,")) report = payload;
  }
  EXPECT_EQ(report, "AT+uart:gsm," + shown.m_gsmSignal + ",agps," + shown.m_agpsCount + ",gps," +
                        shown.m_gpsCount + ",sim,1#");
  EXPECT_EQ(shown.m_simState, T(kSimPresent));
  EXPECT_EQ(s.surface.noticeTimerStarts, 0) << "a status report brings no notice";
}

TEST(EndToEnd, NmeaFillsTheGpsPanelAndStaysOutOfTheLog) {
  Session s;
  ASSERT_NO_FATAL_FAILURE(
      s.ConnectTo({"--seed", "5", "--status-interval", "0", "--log-interval", "1"}));
  const DialogState& shown = s.surface.Controls();
  // The simulated receiver starts cold; a fix follows within a few seconds.
  ASSERT_TRUE(s.h.RunUntil([&] { return std::atof(shown.m_longitude.c_str()) > 1.0; }));
  const std::string firstTime = shown.m_gpsTime;
  const std::string firstLongitude = shown.m_longitude;
  EXPECT_EQ(firstTime.size(), 8u) << firstTime;  // hh:mm:ss

  // It keeps updating: the time moves on, the tracker drives, the signal row fills.
  ASSERT_TRUE(s.h.RunUntil([&] { return shown.m_gpsTime != firstTime; }));
  ASSERT_TRUE(s.h.RunUntil([&] { return shown.m_longitude != firstLongitude; }));
  EXPECT_EQ(shown.m_fixState, T(kFixed));
  EXPECT_TRUE(std::any_of(shown.m_snr.begin(), shown.m_snr.end(),
                          [](const std::string& snr) { return snr != "0"; }));
  EXPECT_GE(s.surface.indicatorHistory.size(), 2u);

  // Sentences never reach the log, but they are counted: the numbering jumps over them.
  ASSERT_TRUE(s.h.RunUntil([&] { return ParseLogLines(s.surface.pane).size() >= 3; }));
  const std::vector<LogLine> lines = ParseLogLines(s.surface.pane);
  bool jumped = false;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    EXPECT_FALSE(lines[i].payload.starts_with("$")) << lines[i].payload;
    if (i == 0) continue;
    EXPECT_GT(lines[i].number, lines[i - 1].number);
    jumped = jumped || lines[i].number > lines[i - 1].number + 1;
  }
  EXPECT_TRUE(jumped) << s.surface.pane;
}

}  // namespace
}  // namespace e2e

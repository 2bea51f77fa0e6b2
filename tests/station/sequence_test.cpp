// The station sequence over a fake unit (each step's success, refusal and time-out) and on the
// console's logic against tracker-sim; each verdict written to a real SQLite file and read back.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "device/texts.h"
#include "records/record_json.h"
#include "station/console_station.h"
#include "station/station_engine.h"
#include "tests/support/console_harness.h"
#include "tests/support/fake_unit.h"

namespace {

using tc_test::FakeUnit;
using namespace std::chrono_literals;
using station::Clock;

// "step:came" of every reason, joined by " | ".
std::string Reasons(const records::UnitRecord& record) {
  std::string out;
  for (const auto& r : record.reasons) out += (out.empty() ? "" : " | ") + r.step + ":" + r.actual;
  return out;
}

struct Listener : station::StationListener {
  int verdicts = 0;
  std::chrono::milliseconds lastElapsed{}, verdictAt{};
  void OnProgress(const station::Progress& p) override { lastElapsed = p.elapsed; }
  void OnVerdict(const records::UnitRecord&, const records::StoreStatus& saved) override {
    EXPECT_TRUE(saved.ok) << saved.message;
    ++verdicts;
    verdictAt = lastElapsed;
  }
};

struct Case {
  const char* what;
  std::function<void(FakeUnit&, station::StationSettings&)> arrange;
  std::optional<station::Step> unplugAt;  // pull the unit once this step has begun
  std::string reasons;                    // "step:came" of every reason, joined by " | "
  std::string lateOn = "";                // the answer to a command starting so comes ...
  std::chrono::milliseconds lateBy{0};    // ... this long after it was sent
  std::optional<std::chrono::milliseconds> verdictAt = {};  // after the connection
};

// Each limit at, just below and just above its boundary; the step time-out is 2 s, the test's
// 60 s and the fix's 30 s, so one used for another fails a row. Ticks come every second: a
// tick at a deadline is within it.
TEST(StationEngine, EveryStepsSuccessRefusalAndTimeOut) {
  using U = FakeUnit;
  using S = station::StationSettings;
  using std::nullopt;
  const station::Step kApply = station::Step::kApply, kTest = station::Step::kTest;
  // clang-format off
  const Case cases[] = {
      {"pass", [](U& u, S&) { u.replies.push_back("gsm,20,agps,8,gps,9,sim,1#\r\n"); }, nullopt, ""},
      {"identify silent", [](U& u, S&) { u.silentOn = "imei"; }, nullopt, "identify:none", "", 0ms, 3s},
      {"empty IMEI", [](U& u, S&) { u.params["imei"] = ""; }, nullopt, "identify:an empty answer"},
      {"set refused", [](U& u, S&) { u.refuseKey = "monitor"; }, nullopt, "apply:monitor,error | verify:\"\""},
      {"set never confirmed", [](U& u, S&) { u.silentOn = "sos1,110"; }, nullopt, "apply:none"},
      // the read-back follows its own set
      {"confirmations repeated", [](U& u, S& s) { u.repeatConfirmations = true; s.profile.values = {{"monitor", "555"}}; }, nullopt, ""},
      {"read back differs", [](U& u, S&) { u.misreportKey = "sos2"; }, nullopt, "verify:\"x\""},
      {"read back silent", [](U& u, S&) { u.silentOn = "monitor,?"; }, nullopt, "verify:none"},
      {"sub-test fails", [](U& u, S&) { u.testResult = "gsm,ok,gps,fail,key,ok"; }, nullopt, "test:\"fail\""},
      {"test never answers", [](U& u, S&) { u.testResult.reset(); }, nullopt, "test:none"},
      {"gps met", [](U&, S& s) { s.gps = {true, 30, 4, 2, 35}; }, nullopt, ""},
      // the fix is waited for from the connection, not from the GPS step
      {"gps no fix", [](U& u, S& s) { s.gps = {true, 30, 4, 0, 35}; u.gps = {}; }, nullopt, "gps:no fix | gps:0", "factory_test", 10s, 30s},
      {"test result late", [](U&, S&) {}, nullopt, "test:none", "factory_test", 70s, 61s},
      {"gps weak", [](U&, S& s) { s.gps = {true, 30, 4, 3, 35}; }, nullopt, "gps:2"},
      {"unplugged in apply", [](U&, S&) {}, kApply, "unplugged:unplugged during apply"},
      {"unplugged in test", [](U& u, S&) { u.testResult.reset(); }, kTest, "unplugged:unplugged during test"},
      {"IMEI of 14 digits", [](U& u, S&) { u.params["imei"] = "86000000000000"; }, nullopt, "identify:\"86000000000000\""},
      {"IMEI of 16 digits", [](U& u, S&) { u.params["imei"] = "8600000000000090"; }, nullopt, "identify:\"8600000000000090\""},
      {"IMEI check digit wrong", [](U& u, S&) { u.params["imei"] = "860000000000001"; }, nullopt, "identify:\"860000000000001\""},
      {"IMEI with a letter", [](U& u, S&) { u.params["imei"] = "86000000000000C"; }, nullopt, "identify:\"86000000000000C\""},
      {"answer just in time", [](U&, S&) {}, nullopt, "", "imei,?", 2s - 1ms},
      {"answer at the step time-out", [](U&, S&) {}, nullopt, "", "imei,?", 2s},
      {"answer just late", [](U&, S&) {}, nullopt, "identify:none", "imei,?", 2s + 1ms},
      {"result just in time", [](U&, S&) {}, nullopt, "", "factory_test", 60s - 1ms},
      {"result at the test time-out", [](U&, S&) {}, nullopt, "", "factory_test", 60s},
      {"result just late", [](U&, S&) {}, nullopt, "test:none", "factory_test", 60s + 1ms},
      {"fix just in time", [](U& u, S& s) { s.gps = {true, 30, 4, 0, 35}; u.gps.ttffSeconds = 29.999; }, nullopt, ""},
      {"fix at the limit", [](U& u, S& s) { s.gps = {true, 30, 4, 0, 35}; u.gps.ttffSeconds = 30; }, nullopt, ""},
      {"fix just late", [](U& u, S& s) { s.gps = {true, 30, 4, 0, 35}; u.gps.ttffSeconds = 30.001; }, nullopt, "gps:a fix after 30.001000 s"},
      {"one satellite short", [](U& u, S& s) { s.gps = {true, 30, 4, 0, 35}; u.gps.satellitesUsed = 3; }, nullopt, "gps:3"},
      {"satellites as asked", [](U& u, S& s) { s.gps = {true, 30, 4, 0, 35}; u.gps.satellitesUsed = 4; }, nullopt, ""},
      {"one satellite more", [](U& u, S& s) { s.gps = {true, 30, 4, 0, 35}; u.gps.satellitesUsed = 5; }, nullopt, ""},
      {"one strong more than asked", [](U&, S& s) { s.gps = {true, 30, 4, 1, 35}; }, nullopt, ""},
      {"signal at the strong level", [](U&, S& s) { s.gps = {true, 30, 4, 2, 38}; }, nullopt, ""},
      {"signal just below it", [](U&, S& s) { s.gps = {true, 30, 4, 2, 39}; }, nullopt, "gps:1"},
      {"signal above it", [](U&, S& s) { s.gps = {true, 30, 4, 2, 37}; }, nullopt, ""},
  };
  // clang-format on
  station::Profile profile;
  std::string error;
  ASSERT_TRUE(station::ParseProfile("line.profile",
                                    "format = 1\naddress = 10.0.0.1\nport = 9000\ndomain = 0\n"
                                    "sos1 = 110\nsos2 = 120\nsos3 =\nmonitor = 555\n",
                                    &profile, &error))
      << error;
  const std::string dir = "/tmp/tc-station-" + std::to_string(getpid());
  records::StoreStatus status;
  auto store = records::OpenStore("sqlite:" + dir + "/r.sqlite", &status);
  ASSERT_TRUE(store) << status.message;

  for (const Case& c : cases) {
    FakeUnit unit;
    Listener listener;
    station::StationEngine engine(unit, store.get(), &listener);
    station::StationSettings settings;
    settings.profile = profile;
    settings.stepTimeout = 2s;
    settings.testTimeout = 60s;
    c.arrange(unit, settings);
    engine.SetSettings(settings);
    const auto start = Clock::time_point{} + 1h;
    auto now = start;
    engine.OnConnected("COM97", "1d6b:0104", now);
    std::size_t seen = unit.sent.size();
    auto sentAt = now;
    const auto noteSent = [&] {
      if (unit.sent.size() != seen) seen = unit.sent.size(), sentAt = now;
    };
    const auto dueAt = [&] {
      const bool late = !c.lateOn.empty() && unit.sent.back().rfind(c.lateOn, 0) == 0;
      return late ? sentAt + c.lateBy : now;
    };
    // Replies as they are due, each before the tick of the same moment; a tick every second,
    // up to five minutes.
    while (engine.Running() && now < start + 300s) {
      while (!unit.replies.empty() && engine.Running() && dueAt() <= now) {
        if (c.unplugAt && engine.CurrentStep() == *c.unplugAt) break;
        const std::string reply = unit.replies.front();
        unit.replies.pop_front();
        engine.OnReply(reply, now);
        noteSent();
      }
      if (c.unplugAt && engine.CurrentStep() == *c.unplugAt) engine.OnUnplugged(now);
      engine.OnTick(now);
      noteSent();
      now = std::min(now + 1s, unit.replies.empty() || dueAt() <= now ? now + 1s : dueAt());
    }
    engine.OnUnplugged(now);  // pulled after its verdict: nothing more
    const auto& record = engine.LastRecord();
    EXPECT_EQ(listener.verdicts, 1) << c.what;
    EXPECT_EQ(record.passed, c.reasons.empty()) << c.what;
    EXPECT_EQ(Reasons(record), c.reasons) << c.what;
    EXPECT_EQ(listener.verdictAt, c.verdictAt.value_or(listener.verdictAt)) << c.what;
    std::vector<records::UnitRecord> stored;
    ASSERT_TRUE(store->Query({"", std::nullopt, "", "", 1}, &stored).ok);
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(records::RecordToJson(stored[0]), records::RecordToJson(record)) << c.what;
    if (std::string(c.what) == "pass") {
      EXPECT_EQ(unit.sent, (std::vector<std::string>{
                               "imei,?", "ver,?", "ip_url,10.0.0.1,port,9000,url,0",
                               "sos1,110,sos2,120,sos3,", "monitor,555", "ip_url,?,port,?,url,?",
                               "sos1,?,sos2,?,sos3,?", "monitor,?", "factory_test"}));
      EXPECT_EQ(stored[0].imei, "860000000000009");
      EXPECT_EQ(stored[0].firmware, "FW1");
      EXPECT_EQ(stored[0].testKey, std::optional<bool>(true));
      EXPECT_EQ(stored[0].gsmSignal + stored[0].agpsCount + stored[0].gpsCount + stored[0].sim,
                "2089present");
      EXPECT_EQ(stored[0].profileHash, settings.profile.hash);
    }
  }
  std::filesystem::remove_all(dir);
}

// PASS and every way to FAIL on the console's logic; no notice opens a box.
TEST(StationEndToEnd, PassAndEveryFailReason) {
  struct {
    const char* what;
    std::vector<std::string> simArguments;
    bool gpsCriteria;     // and the unit's GPS, status and log lines on
    std::string reasons;  // "step:came" of every reason, joined by " | "; none: PASS
  } cases[] = {
      {"pass", {}, false, ""},
      {"pass with GPS", {}, true, ""},
      // A port that never answers may be anything but a tracker: no sequence, no record.
      {"silent", {"--silent"}, false, "no record"},
      {"refused set",
       {"--refuse-set", "monitor"},
       false,
       "apply:monitor,error | verify:\"13600136000\""},
      {"read back differs", {"--misreport", "sos2=999"}, false, "verify:\"999\""},
      {"sub-test fails", {"--fail-test", "gps"}, false, "test:\"fail\""},
      {"test never answers", {"--no-test-result"}, false, "test:none"},
      {"no fix", {"--no-fix"}, true, "gps:no fix | gps:0"},
      {"unplugged", {"--unplug-on", "sos1"}, false, "unplugged:unplugged during apply"},
  };
  const std::string dir = "/tmp/tc-station-e2e-" + std::to_string(getpid());
  records::StoreStatus status;
  auto store = records::OpenStore("sqlite:" + dir + "/r.sqlite", &status);
  ASSERT_TRUE(store) << status.message;
  station::Profile profile;
  std::string error;
  ASSERT_TRUE(station::ParseProfile("p",
                                    "format = 1\nsos1 = 110\nsos2 = 120\nsos3 = 130\n"
                                    "monitor = 555\n",
                                    &profile, &error));

  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ConsoleHarness h;
    station::ConsoleStation station(h.logic, h.state, store.get(), nullptr);
    station::StationSettings settings;
    settings.profile = profile;
    settings.station = "e2e";
    settings.stepTimeout = 3s;
    settings.testTimeout = 4s;
    settings.gps = {c.gpsCriteria, 15, 3, 0, 0};
    station.Engine().SetSettings(settings);
    station.SetEnabled(true);

    SimProcess sim(TC_SIM_PATH, h.PortsFolder(),
                   c.gpsCriteria ? c.simArguments : Quiet(c.simArguments));
    ASSERT_EQ(sim.WaitForPlug(), 97);
    h.logic.OnInitDialog();
    const bool recorded = h.RunUntil(
        [&] {
          station.Tick();
          return !station.Engine().Running() && !station.Engine().LastRecord().recordId.empty();
        },
        c.reasons == "no record" ? settings.stepTimeout + 2s : 60s);
    if (c.reasons == "no record") {
      EXPECT_FALSE(recorded || station.Engine().Running());
      EXPECT_EQ(h.state.m_linkState, T(kWaitingForDevice));
      station.SetEnabled(false);
      continue;
    }
    ASSERT_TRUE(recorded);

    std::vector<records::UnitRecord> stored;
    ASSERT_TRUE(store->Query({"", std::nullopt, "", "", 1}, &stored).ok);
    ASSERT_EQ(stored.size(), 1u);
    const auto& record = stored[0];
    EXPECT_EQ(record.recordId, station.Engine().LastRecord().recordId);
    EXPECT_EQ(record.passed, c.reasons.empty());
    EXPECT_EQ(Reasons(record), c.reasons);
    EXPECT_EQ(record.port.substr(0, 5), "COM97");
    EXPECT_EQ(record.station, "e2e");
    EXPECT_EQ(record.imei, "860000123456781");
    EXPECT_EQ(record.ttffSeconds.has_value(), c.gpsCriteria && record.passed);
    EXPECT_TRUE(h.surface.boxes.empty()) << "station notices open no box";
    if (record.passed) {
      EXPECT_EQ(record.testGps, std::optional<bool>(true));
      EXPECT_NE(h.surface.pane.find(T(kNoticeSosSet) + "\r\n"), std::string::npos) << "but the log";
    }
    station.SetEnabled(false);
  }
  std::filesystem::remove_all(dir);
}

}  // namespace

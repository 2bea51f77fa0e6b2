// The station sequence on the console's logic against tracker-sim: PASS and every way to FAIL,
// each verdict read back from the SQLite file; no notice opens a box.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "device/texts.h"
#include "station/console_station.h"
#include "tests/support/console_harness.h"

namespace {

using namespace std::chrono_literals;

struct Verdicts : station::StationListener {
  void OnProgress(const station::Progress&) override {}
  void OnVerdict(const records::UnitRecord&, const records::StoreStatus& saved) override {
    EXPECT_TRUE(saved.ok) << saved.message;
  }
};

TEST(StationEndToEnd, PassAndEveryFailReason) {
  struct Case {
    const char* what;
    std::vector<std::string> simArguments;
    bool gpsCriteria;
    bool passed;
    std::string reasons;  // "step:came" of every reason, joined by " | "
  } cases[] = {
      {"pass", {}, false, true, ""},
      {"pass with GPS", {"--nmea-on"}, true, true, ""},
      {"silent", {"--silent"}, false, false, "identify:none"},
      {"refused set",
       {"--refuse-set", "monitor"},
       false,
       false,
       "apply:monitor,error | verify:\"13600136000\""},
      {"read back differs", {"--misreport", "sos2=999"}, false, false, "verify:\"999\""},
      {"sub-test fails", {"--fail-test", "gps"}, false, false, "test:\"fail\""},
      {"test never answers", {"--no-test-result"}, false, false, "test:none"},
      {"no fix", {"--nmea-on", "--no-fix"}, true, false, "gps:no fix | gps:0"},
      {"unplugged", {"--unplug-on", "sos1"}, false, false, "unplugged:unplugged during apply"},
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

  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ConsoleHarness h;
    Verdicts listener;
    station::ConsoleStation station(h.logic, h.state, store.get(), &listener);
    station::StationSettings settings;
    settings.profile = profile;
    settings.station = "e2e";
    settings.stepTimeout = 3s;
    settings.testTimeout = 4s;
    settings.gps = {c.gpsCriteria, 15, 3, 0, 0};
    station.Engine().SetSettings(settings);
    station.SetEnabled(true);

    std::vector<std::string> arguments = c.simArguments;
    const bool nmea = std::erase(arguments, std::string("--nmea-on")) > 0;
    arguments = Quiet(arguments);
    if (nmea) std::erase(arguments, std::string("--no-nmea"));
    SimProcess sim(TC_SIM_PATH, h.PortsFolder(), arguments);
    ASSERT_EQ(sim.WaitForPlug(), 97);
    h.logic.OnInitDialog();
    ASSERT_TRUE(h.RunUntil(
        [&] {
          station.Tick();
          return station.Engine().CurrentStep() == station::Step::kVerdict ||
                 (station.Engine().CurrentStep() == station::Step::kIdle &&
                  !station.Engine().LastRecord().recordId.empty());
        },
        60s));

    std::vector<records::UnitRecord> stored;
    ASSERT_TRUE(store->Query({"", std::nullopt, "", "", 1}, &stored).ok);
    ASSERT_EQ(stored.size(), 1u);
    const auto& record = stored[0];
    EXPECT_EQ(record.recordId, station.Engine().LastRecord().recordId);
    EXPECT_EQ(record.passed, c.passed);
    std::string reasons;
    for (const auto& r : record.reasons) {
      reasons += (reasons.empty() ? "" : " | ") + r.step + ":" + r.actual;
    }
    EXPECT_EQ(reasons, c.reasons);
    EXPECT_EQ(record.port.substr(0, 5), "COM97");
    EXPECT_EQ(record.station, "e2e");
    if (std::string(c.what) != "silent") {
      EXPECT_EQ(record.imei, "860000123456781");
    }
    if (c.passed) {
      EXPECT_EQ(record.testGps, std::optional<bool>(true));
    }
    if (std::string(c.what) == "pass with GPS") {
      EXPECT_TRUE(record.ttffSeconds.has_value());
    }
    EXPECT_TRUE(h.surface.boxes.empty()) << "station notices open no box";
    if (c.passed) {
      EXPECT_NE(h.surface.pane.find(T(kNoticeSosSet) + "\r\n"), std::string::npos) << "but the log";
    }
    station.SetEnabled(false);
  }
  std::filesystem::remove_all(dir);
}

}  // namespace

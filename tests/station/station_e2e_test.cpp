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

TEST(StationEndToEnd, PassAndEveryFailReason) {
  struct Case {
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

  for (const Case& c : cases) {
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
    std::string reasons;
    for (const auto& r : record.reasons) {
      reasons += (reasons.empty() ? "" : " | ") + r.step + ":" + r.actual;
    }
    EXPECT_EQ(reasons, c.reasons);
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

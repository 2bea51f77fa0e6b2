// The window in station mode against tracker-sim: a unit runs to a large PASS with no box
// opened and one record stored; out of station mode the test result reads FAIL once the test
// time-out ends.

#include <QCheckBox>
#include <QListWidget>
#include <QTest>
#include <csignal>
#include <fstream>

#include "app/station_panel.h"
#include "app/ui_text.h"
#include "tests/gui/gui_support.h"
#include "tests/support/console_harness.h"

namespace {

constexpr int kPatienceMs = 20000;

// The console of gui_support with a shorter factory-test time-out.
void ShortenTestTimeout(ConsoleUnderTest& c, int milliseconds) {
  ConsoleEnvironment env = c.dialog->Logic().Environment();
  env.testTimeoutMilliseconds = milliseconds;
  c.dialog = std::make_unique<CConfigDlg>(env);
  c.dialog->messageBoxHook = [&c](const QString& text, MessageIcon icon, const QString& caption) {
    c.boxes.push_back({text, icon, caption});
  };
}

}  // namespace

class TestStationWindow : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    // Records and remembered settings go to this test's own folders.
    qputenv("XDG_DATA_HOME", m_home.filePath(QStringLiteral("data")).toUtf8());
    qputenv("XDG_CONFIG_HOME", m_home.filePath(QStringLiteral("config")).toUtf8());
  }
  void stationModeRunsAUnitToAVerdictAndARecord();
  void testResultReadsFailWhenTheTimeOutEnds();

 private:
  QTemporaryDir m_home;
};

void TestStationWindow::stationModeRunsAUnitToAVerdictAndARecord() {
  ConsoleUnderTest c;
  StationPanel* panel = c.dialog->Station();
  QStringList told;
  panel->messageHook = [&](const QString& text) { told << text; };
  const QString profile = c.Path(QStringLiteral("line.profile"));
  std::ofstream(profile.toStdString()) << "format = 1\nsos1 = 110\nsos2 = 120\nsos3 =\n";
  QVERIFY(panel->PickProfile(profile));
  std::ofstream(c.Path(QStringLiteral("bad.profile")).toStdString()) << "format = 1\nimei = 1\n";
  QVERIFY(!panel->PickProfile(c.Path(QStringLiteral("bad.profile"))));
  QVERIFY2(told.size() == 1 && told[0].contains(QStringLiteral("bad.profile:2: unknown key")),
           qPrintable(told.join('\n')));

  panel->findChild<QCheckBox*>(QStringLiteral("stationMode"))->click();
  QVERIFY(panel->StationMode());
  SimProcess sim(TC_SIM_PATH, c.Path(QStringLiteral("ports")).toStdString(), Quiet());
  QCOMPARE(sim.WaitForPlug(), 97);
  c.dialog->OnInitDialog();
  QVERIFY(QTest::qWaitFor([&] { return panel->Verdict()->text() == QStringLiteral("PASS"); },
                          kPatienceMs));
  QVERIFY2(c.boxes.empty(), "station notices open no box");
  QVERIFY(panel->ProgressList()->count() > 5);
  std::vector<records::UnitRecord> stored;
  QVERIFY(panel->Store()->Query({}, &stored).ok);
  QCOMPARE(stored.size(), std::size_t{1});
  QVERIFY(stored[0].passed);
  QCOMPARE(QString::fromStdString(stored[0].profileName), QStringLiteral("line"));

  sim.Signal(SIGUSR1);  // unplug: the panel waits for the next unit, the verdict stays
  QVERIFY(QTest::qWaitFor(
      [&] { return panel->StatusLine()->text() == UiText(texts::Id::kStationWaiting); },
      kPatienceMs));
  QCOMPARE(panel->Verdict()->text(), QStringLiteral("PASS"));
}

void TestStationWindow::testResultReadsFailWhenTheTimeOutEnds() {
  const struct {
    std::vector<std::string> simArguments;
    QString result;
  } rows[] = {{{"--fail-test", "gps"}, QStringLiteral("FAIL")},
              {{"--no-test-result"}, QStringLiteral("FAIL")},
              {{}, QStringLiteral("PASS!")}};
  for (const auto& row : rows) {
    ConsoleUnderTest c;
    ShortenTestTimeout(c, 2500);
    qobject_cast<QCheckBox*>(c.dialog->Control(1099))->setChecked(true);
    SimProcess sim(TC_SIM_PATH, c.Path(QStringLiteral("ports")).toStdString(),
                   Quiet(row.simArguments));
    QCOMPARE(sim.WaitForPlug(), 97);
    c.dialog->OnInitDialog();
    QCOMPARE(c.Shown(1058), QStringLiteral("正在测试.."));
    QVERIFY(QTest::qWaitFor([&] { return c.Shown(1058) == row.result; }, kPatienceMs));
    QTest::qWait(3000);  // past the time-out: a result once reached stays
    QCOMPARE(c.Shown(1058), row.result);
  }
}

QTEST_MAIN(TestStationWindow)
#include "test_station_window.moc"

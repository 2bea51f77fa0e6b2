// The window in station mode against tracker-sim: a unit runs to a large PASS with no box
// opened and one record stored; out of station mode the test result reads FAIL once the test
// time-out ends.

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QListWidget>
#include <QTableWidget>
#include <QTest>
#include <csignal>
#include <fstream>

#include "app/records_view.h"
#include "app/station_panel.h"
#include "app/ui_text.h"
#include "tests/gui/gui_support.h"
#include "tests/support/console_harness.h"

constexpr int kPatienceMs = 20000;

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
  void recordsViewCountsFiltersAndExports();

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
  QVERIFY(panel->Verdict()->styleSheet().contains(QStringLiteral("#2e7d32")));  // on green
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
    ConsoleUnderTest c(2500);
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

void TestStationWindow::recordsViewCountsFiltersAndExports() {
  QTemporaryDir dir;
  records::StoreStatus status;
  auto store = records::OpenStore("sqlite:" + dir.filePath("r.sqlite").toStdString(), &status);
  QVERIFY(store);
  const auto iso = [](const QDateTime& t) {
    return t.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ")).toStdString();
  };
  const QDateTime now = QDateTime::currentDateTime();
  const struct {
    const char* imei;
    QDateTime started;
    bool passed;
  } units[] = {
      {"111", now, true}, {"222", now, false}, {"111", now, true}, {"333", now.addDays(-3), true}};
  int n = 0;
  for (const auto& u : units) {
    records::UnitRecord r;
    r.recordId = "r" + std::to_string(n++);
    r.startedUtc = r.endedUtc = iso(u.started);
    r.imei = u.imei;
    r.passed = u.passed;
    QVERIFY(store->Append(r).ok);
  }
  RecordsView view(*store, nullptr);
  QString told;
  view.messageHook = [&](const QString& text) { told = text; };
  QVERIFY2(view.Counts()->text().contains(QStringLiteral("PASS 2    FAIL 1")),
           qPrintable(view.Counts()->text()));
  QCOMPARE(view.Table()->rowCount(), 4);
  view.ImeiFilter()->setText(QStringLiteral("111"));
  view.Refresh();
  QCOMPARE(view.Table()->rowCount(), 2);
  view.ImeiFilter()->clear();
  view.VerdictFilter()->setCurrentIndex(2);  // FAIL
  QCOMPARE(view.Table()->rowCount(), 1);
  QCOMPARE(view.Table()->item(0, 1)->text(), QStringLiteral("222"));

  view.From()->setDate(now.date().addDays(-3));  // three days back to today: all four
  QVERIFY(view.ExportTo(dir.filePath(QStringLiteral("all.csv"))));
  QCOMPARE(told, UiText(texts::Id::kRecordsExported) + QStringLiteral("4"));
  view.From()->setDate(now.date());
  QVERIFY(view.ExportTo(dir.filePath(QStringLiteral("today.csv"))));
  QCOMPARE(told, UiText(texts::Id::kRecordsExported) + QStringLiteral("3"));
}

QTEST_MAIN(TestStationWindow)
#include "test_station_window.moc"

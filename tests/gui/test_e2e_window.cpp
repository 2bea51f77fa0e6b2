// The real window against the real tracker-sim: reads and sets, log, GPS, replug, station mode,
// the records view and the test's time-out.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAbstractBarSeries>
#include <QAbstractButton>
#include <QBarCategoryAxis>
#include <QBarSet>
#include <QChart>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>
#include <QTextDocument>
#include <csignal>
#include <filesystem>
#include <fstream>

#include "app/log_pane.h"
#include "app/records_charts.h"
#include "app/records_view.h"
#include "app/satellite_view.h"
#include "app/settings.h"
#include "app/station_panel.h"
#include "app/ui_text.h"
#include "tests/gui/gui_support.h"
#include "tests/support/console_harness.h"
#include "tests/support/pty_peer.h"

namespace {

constexpr int kPatienceMs = 20000;

// Clicks a button and waits for the notice box its reply brings; its text, or "" if none came.
QString ClickForNotice(ConsoleUnderTest& c, int button) {
  const std::size_t before = c.boxes.size();
  Button(c, button)->click();
  if (!QTest::qWaitFor([&] { return c.boxes.size() > before; }, kPatienceMs)) return {};
  return c.boxes.back().text;
}

QStringList ShownIn(ConsoleUnderTest& c, const std::vector<int>& boxes) {
  QStringList shown;
  for (int id : boxes) shown << c.Shown(id);
  return shown;
}

void TypeInto(ConsoleUnderTest& c, const std::vector<int>& boxes, const QStringList& texts) {
  for (std::size_t i = 0; i < boxes.size(); ++i) {
    qobject_cast<QLineEdit*>(c.dialog->Control(boxes[i]))->setText(texts.value(int(i)));
  }
}

// The table's row for one satellite, as its cells read; empty when it is not listed.
QStringList TableRow(const QTableWidget& table, const QString& system, const QString& number) {
  for (int row = 0; row < table.rowCount(); ++row) {
    QStringList cells;
    for (int column = 0; column < table.columnCount(); ++column)
      cells << table.item(row, column)->text();
    if (cells.value(0) == system && cells.value(1) == number) return cells;
  }
  return {};
}

// The panel's field whose label reads as `id`'s text.
template <typename Widget>
Widget* Named(QWidget* panel, texts::Id id) {
  for (Widget* widget : panel->findChildren<Widget*>())
    if (widget->accessibleName() == UiText(id)) return widget;
  return nullptr;
}

}  // namespace

class TestE2eWindow : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    // Records and remembered settings go to this test's own folders.
    qputenv("XDG_DATA_HOME", m_home.filePath(QStringLiteral("data")).toUtf8());
    qputenv("XDG_CONFIG_HOME", m_home.filePath(QStringLiteral("config")).toUtf8());
    qputenv("TZ", "Asia/Shanghai");  // a local day that is not the UTC day
  }
  void everyReadAndSetRoundTripsThroughTheTracker();
  void testsLogsFollowsTheGpsAndSurvivesAReplug();
  void showsAMultiConstellationReceiver();
  void stationModeRunsAUnitToAVerdictAndARecord();
  void testResultReadsFailWhenTheTimeOutEnds();
  void recordsViewCountsFiltersAndExports();
  void namesFromDevicesAndProgramsShowAsPlainText();

 private:
  QTemporaryDir m_home;
};

void TestE2eWindow::everyReadAndSetRoundTripsThroughTheTracker() {
  // The presets differ from the simulator's defaults, so a read shows they came from it.
  const struct {
    int read;
    const char* readNotice;
    int set;  // 0: none
    const char* setNotice;
    std::vector<int> boxes;
    std::vector<std::string> options;
    QStringList preset;
    QStringList typed;
  } areas[] = {
      // clang-format off
      {1056, "版本号读取成功!", 0, "", {1050}, {"--firmware"}, {"TS-E2E-7"}, {}},
      {1033, "ip和端口读取成功!", 1034, "IP或域名,端口设置成功!", {1029, 1040},
       {"--addr", "--port"}, {"198.51.100.7", "9001"}, {"track.example.net", "9443"}},
      {1038, "imei读取成功!", 1039, "imei设置成功!", {1035}, {"--imei"}, {"861234567890123"},
       {"867530912345678"}},
      {1043, "中心号码和辅助中心号码读取成功!", 1044, "中心号码和辅助中心号码设置成功!",
       {1041, 1042}, {"--center", "--slave"}, {"13512345678", "13687654321"},
       {"13311112222", "中心"}},
      {1047, "语言和时区读取成功!", 1048, "语言和时区设置成功!", {1045, 1046},
       {"--language", "--zone"}, {"0", "11"}, {"1", "-9"}},
      {1106, "SOS读取成功!", 1107, "SOS设置成功!", {1057, 1104, 1105},
       {"--sos1", "--sos2", "--sos3"}, {"110", "119", "120"}, {"112", "911", "999"}},
      {1037, "监听号码读取成功!", 1094, "监听号码设置成功!", {1108}, {"--monitor"},
       {"13011112222"}, {"13899990000"}},
      {1101, "上报时间间隔读取成功!", 1102, "上报时间间隔设置成功!", {1109}, {"--upload"},
       {"30"}, {"120"}},
      // clang-format on
  };
  std::vector<std::string> arguments = Quiet();
  for (const auto& area : areas) {
    for (std::size_t i = 0; i < area.options.size(); ++i) {
      arguments.insert(arguments.end(), {area.options[i], area.preset[int(i)].toStdString()});
    }
  }
  ConsoleUnderTest c;
  SimProcess sim(TC_SIM_PATH, c.Path(QStringLiteral("ports")).toStdString(), arguments);
  QCOMPARE(sim.WaitForPlug(), 97);
  c.dialog->OnInitDialog();
  QTRY_COMPARE_WITH_TIMEOUT(c.Shown(1028), QStringLiteral("已连接"), kPatienceMs);
  for (const auto& area : areas) {
    TypeInto(c, area.boxes, {});
    QCOMPARE(ClickForNotice(c, area.read), QString::fromUtf8(area.readNotice));
    QCOMPARE(ShownIn(c, area.boxes), area.preset);
    if (area.set == 0) continue;
    TypeInto(c, area.boxes, area.typed);
    QCOMPARE(ClickForNotice(c, area.set), QString::fromUtf8(area.setNotice));
    TypeInto(c, area.boxes, {});
    QCOMPARE(ClickForNotice(c, area.read), QString::fromUtf8(area.readNotice));
    QCOMPARE(ShownIn(c, area.boxes), area.typed);
  }
  for (const CapturedBox& box : c.boxes) QCOMPARE(box.icon, MessageIcon::kNone);
}

void TestE2eWindow::testsLogsFollowsTheGpsAndSurvivesAReplug() {
  ConsoleUnderTest c;
  SimProcess sim(TC_SIM_PATH, c.Path(QStringLiteral("ports")).toStdString(),
                 {"--firmware", "TS-GUI-3", "--log-interval", "1", "--status-interval", "1",
                  "--fail-test", "gps"});
  QCOMPARE(sim.WaitForPlug(), 97);
  QVERIFY(c.ShowActive());
  qobject_cast<QCheckBox*>(c.dialog->Control(1099))->setChecked(true);
  c.dialog->OnInitDialog();
  QVERIFY2(c.Shown(1027).startsWith(QStringLiteral("COM97 (")), qPrintable(c.Shown(1027)));
  QCOMPARE(c.Shown(1022), QStringLiteral("打开"));

  // The armed test's result: GSM and key ticked, GPS not, so no PASS.
  QTRY_COMPARE_WITH_TIMEOUT(c.Shown(1054), QStringLiteral("[x]"), kPatienceMs);
  QCOMPARE(c.Mismatches({{1053, "[x]"}, {1055, "[ ]"}, {1058, "正在测试.."}}), QString());

  // The log pane fills with the device's lines, numbered; NMEA stays out.
  auto* pane = qobject_cast<LogPane*>(c.dialog->Control(1004));
  QTRY_VERIFY_WITH_TIMEOUT(pane->LineCount() > 4, kPatienceMs);
  const QString log = pane->PlainText();
  QVERIFY2((QLatin1Char('\n') + log).contains(QStringLiteral("\n 0\t")), qPrintable(log));
  QVERIFY2(log.contains(QStringLiteral("\tAT:connect ok!#\n")), qPrintable(log));
  QVERIFY2(log.contains(QStringLiteral("\tAT+uart:gsm,ok,gps,fail,key,ok#\n")), qPrintable(log));
  QVERIFY2(!log.contains(QStringLiteral("\t$")), "no NMEA sentence in the log");
  QVERIFY2(!log.contains(QLatin1Char('\r')) && !log.contains(QStringLiteral("\n\n")),
           "one break a line");

  // Status reports and the simulated drive's clock (its fix: the receiver log below).
  QTRY_COMPARE_WITH_TIMEOUT(c.Shown(1036), QStringLiteral("存在"), kPatienceMs);
  QTRY_VERIFY_WITH_TIMEOUT(c.Shown(1093) != QStringLiteral("0"), kPatienceMs);
  const QString firstTime = c.Shown(1093);
  QTRY_VERIFY_WITH_TIMEOUT(c.Shown(1093) != firstTime, kPatienceMs);

  // Unplugged, the window shows no device and closes the port; plugged back, it reconnects.
  qobject_cast<QCheckBox*>(c.dialog->Control(1099))->setChecked(false);
  sim.Signal(SIGUSR1);
  QTRY_COMPARE_WITH_TIMEOUT(c.Shown(1027), QStringLiteral("无"), kPatienceMs);
  QCOMPARE(c.Mismatches({{1022, "关闭"}, {1028, "正在连接.."}, {1058, "未连接到设备"}}), QString());
  QVERIFY(!c.dialog->Logic().Port().IsOpen());
  sim.Signal(SIGUSR1);
  QTRY_COMPARE_WITH_TIMEOUT(c.Shown(1028), QStringLiteral("已连接"), kPatienceMs);
  QVERIFY(c.Shown(1027).startsWith(QStringLiteral("COM97 (")));
  QCOMPARE(ClickForNotice(c, 1056), QStringLiteral("版本号读取成功!"));
}

// A multi-constellation receiver log replayed: signed coordinates, the fix, DOPs, RMC's values
// and the time to first fix, the GPS cells under the GN talker, every system in the view.
void TestE2eWindow::showsAMultiConstellationReceiver() {
  ConsoleUnderTest c;
  SimProcess sim(TC_SIM_PATH, c.Path(QStringLiteral("ports")).toStdString(),
                 {"--nmea", TC_NMEA_DIR "/neo-m8n.nmea", "--status-interval", "60"});
  QCOMPARE(sim.WaitForPlug(), 97);
  QVERIFY(c.ShowActive());
  c.dialog->OnInitDialog();
  QTRY_COMPARE_WITH_TIMEOUT(c.Shown(1028), QStringLiteral("已连接"), kPatienceMs);

  // Bend, Oregon: west is negative.
  QTRY_VERIFY_WITH_TIMEOUT(c.Shown(1091).startsWith(QStringLiteral("-121.31")), kPatienceMs);
  QVERIFY(c.Shown(1092).startsWith(QStringLiteral("44.06")));
  QCOMPARE(c.Mismatches({{1096, "定位"}, {1100, "非差分定位"}}), QString());
  QTRY_COMPARE_WITH_TIMEOUT(c.Shown(1113), QStringLiteral("2015-03-18"), kPatienceMs);
  QTRY_VERIFY_WITH_TIMEOUT(!c.Shown(1110).isEmpty() && !c.Shown(1111).isEmpty(), kPatienceMs);
  QTRY_VERIFY_WITH_TIMEOUT(!c.Shown(1112).isEmpty(), kPatienceMs);
  QVERIFY(c.dialog->Logic().FirstFixInfo().have);
  QTRY_COMPARE_WITH_TIMEOUT(c.Shown(1116),
                            QString::number(c.dialog->Logic().FirstFixInfo().seconds, 'f', 1),
                            kPatienceMs);
  // GPS satellite 4 is used and strong in every second of the log.
  const std::string& snr4 = c.dialog->State().m_snr[3];
  QTRY_VERIFY_WITH_TIMEOUT(snr4 != "0" && !snr4.empty(), kPatienceMs);

  QAbstractButton* toggle = Button(c, 1117);
  QCOMPARE(toggle->accessibleName(), QStringLiteral("卫星视图"));
  toggle->click();
  SatelliteView* view = c.dialog->SatellitePanel();
  QVERIFY(view->isVisible());
  QCOMPARE(view->Table()->accessibleName(), QStringLiteral("可见卫星"));
  QCOMPARE(view->Plot()->accessibleName(), QStringLiteral("天空图"));
  const QTableWidget& table = *view->Table();
  QTRY_COMPARE_WITH_TIMEOUT(table.rowCount(), 23, kPatienceMs);
  const QStringList glonass67 = TableRow(table, QStringLiteral("GLONASS"), QStringLiteral("67"));
  QCOMPARE(glonass67.mid(2, 2), (QStringList{QStringLiteral("62"), QStringLiteral("349")}));
  QCOMPARE(glonass67.last(), QStringLiteral("是"));
  QCOMPARE(TableRow(table, QStringLiteral("GPS"), QStringLiteral("12")).last(), QString());
  QVERIFY(view->Plot()->accessibleDescription().startsWith(QStringLiteral("可见 23 颗")));

  view->close();
  QVERIFY(!toggle->isChecked());
}

void TestE2eWindow::stationModeRunsAUnitToAVerdictAndARecord() {
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

  // Every value the engine takes, each distinct, so one handed to another's place shows.
  const struct {
    texts::Id id;
    int value;
  } spins[] = {{texts::Id::kStationTestTimeout, 47},
               {texts::Id::kStationGpsWithin, 93},
               {texts::Id::kStationGpsUsed, 5},
               {texts::Id::kStationGpsStrong, 3},
               {texts::Id::kStationGpsDbHz, 31}};
  for (const auto& spin : spins) Named<QSpinBox>(panel, spin.id)->setValue(spin.value);
  Named<QLineEdit>(panel, texts::Id::kStationName)->setText(QStringLiteral("line-3 jig 12"));
  Named<QLineEdit>(panel, texts::Id::kStationOperator)->setText(QStringLiteral("Wu"));
  panel->findChild<QCheckBox*>(QStringLiteral("stationMode"))->click();
  QVERIFY(panel->StationMode());
  const station::StationSettings handed = panel->Station().Engine().Settings();
  QCOMPARE(handed.testTimeout, std::chrono::milliseconds(47000));
  QVERIFY(!handed.gps.enabled);
  QCOMPARE(handed.gps.fixWithinSeconds, 93.0);
  QCOMPARE(handed.gps.minSatellitesUsed, 5);
  QCOMPARE(handed.gps.minStrongSignals, 3);
  QCOMPARE(handed.gps.strongSignalDbHz, 31);
  QCOMPARE(handed.profile.name, std::string("line"));
  SimProcess sim(TC_SIM_PATH, c.Path(QStringLiteral("ports")).toStdString(), Quiet());
  QCOMPARE(sim.WaitForPlug(), 97);
  c.dialog->OnInitDialog();
  QTRY_COMPARE_WITH_TIMEOUT(panel->Verdict()->text(), QStringLiteral("PASS"), kPatienceMs);
  QVERIFY2(c.boxes.empty(), "station notices open no box");
  QVERIFY(panel->ProgressList()->count() > 5);
  std::vector<records::UnitRecord> stored;
  records::StoreStatus opened;
  const auto store = records::OpenStore("", &opened);  // the station's default file
  QVERIFY2(store && store->Query({}, &stored).ok, opened.message.c_str());
  QCOMPARE(stored.size(), std::size_t{1});
  QVERIFY(panel->Verdict()->styleSheet().contains(QStringLiteral("#2e7d32")));  // on green
  QCOMPARE(panel->StatusLine()->text(), QStringLiteral("请拔出设备, 然后插入下一台"));
  QCOMPARE(QString::fromStdString(stored[0].profileName), QStringLiteral("line"));
  QCOMPARE(stored[0].station + "/" + stored[0].operatorName, std::string("line-3 jig 12/Wu"));
  QCOMPARE(stored[0].recordId, panel->Station().Engine().LastRecord().recordId);

  sim.Signal(SIGUSR1);  // unplug: the panel waits for the next unit, the verdict stays
  QTRY_COMPARE_WITH_TIMEOUT(panel->StatusLine()->text(), UiText(texts::Id::kStationWaiting),
                            kPatienceMs);
  QCOMPARE(panel->Verdict()->text(), QStringLiteral("PASS"));

  // A failed unit whose record could not be stored: FAIL on red, and the store's reason.
  panel->OnVerdict(records::UnitRecord{}, records::StoreStatus::Fail("disk full"));
  QCOMPARE(panel->Verdict()->text(), QStringLiteral("FAIL"));
  QVERIFY(panel->Verdict()->styleSheet().contains(QStringLiteral("#c62828")));
  QCOMPARE(panel->StatusLine()->text(), QStringLiteral("记录未能保存: disk full"));
}

void TestE2eWindow::testResultReadsFailWhenTheTimeOutEnds() {
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
    QTRY_COMPARE_WITH_TIMEOUT(c.Shown(1058), row.result, kPatienceMs);
    QTest::qWait(3000);  // past the time-out: a result once reached stays
    QCOMPARE(c.Shown(1058), row.result);
  }
}

void TestE2eWindow::recordsViewCountsFiltersAndExports() {
  QTemporaryDir dir;
  const std::string url = "sqlite:" + dir.filePath("r.sqlite").toStdString();
  records::StoreStatus status;
  auto store = records::OpenStore(url, &status);
  QVERIFY(store);
  // "Today" must not change under the view: a run started in the day's last minute waits.
  if (QTime::currentTime() >= QTime(23, 59))
    QTest::qWait(QTime::currentTime().msecsTo(QTime(23, 59, 59, 999)) + 1500);
  const QDateTime now = QDateTime::currentDateTime();
  const QDate today = now.date();
  const QTime last(23, 59, 59, 999);
  // Each local day's bounds have a unit just inside and one just outside.
  const struct {
    const char* imei;
    QDateTime started;
    bool passed;
  } units[] = {{"111", now, true},
               {"222", now, false},
               {"111", now, true},
               {"860000000000001", QDateTime(today, QTime(0, 0)), true},
               {"860000000000002", QDateTime(today.addDays(-1), last), true},
               {"860000000000003", QDateTime(today.addDays(-3), QTime(0, 0)), true},
               {"860000000000004", QDateTime(today.addDays(-4), last), true}};
  int n = 0;
  for (const auto& u : units) {
    records::UnitRecord r;
    r.recordId = "r" + std::to_string(n++);
    r.startedUtc = r.endedUtc =
        u.started.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ")).toStdString();
    r.imei = u.imei;
    r.passed = u.passed;
    if (u.passed) r.ttffSeconds = 30;
    if (!u.passed) r.reasons = {{"gps", "a fix within 120 s", "no fix"}};
    QVERIFY(store->Append(r).ok);
  }
  StoreWorker worker(url);
  RecordsView view(worker, nullptr, url);
  QString told;
  view.messageHook = [&](const QString& text) { told = text; };
  QTRY_VERIFY_WITH_TIMEOUT(view.Counts()->text().contains(QStringLiteral("PASS 3    FAIL 1")),
                           kPatienceMs);
  QCOMPARE(view.Table()->rowCount(), 7);
  // The charts, read back from their series: today's four tests of three units, one of them
  // failed once on its GPS; the passes fixed after 30 s.
  QTRY_VERIFY_WITH_TIMEOUT(
      view.Charts()->Yields()->text().contains(QStringLiteral("3 台 · 直通率 66.7 %")),
      kPatienceMs);
  const auto setsOf = [&](RecordsCharts::Figure figure) {
    QList<QList<qreal>> values;
    for (QAbstractSeries* series : view.Charts()->Chart(figure)->series()) {
      for (QBarSet* set : static_cast<QAbstractBarSeries*>(series)->barSets()) {
        QList<qreal> row;
        for (int i = 0; i < set->count(); ++i) row << set->at(i);
        values << row;
      }
    }
    return values;
  };
  qreal hourly = 0;
  for (const auto& set : setsOf(RecordsCharts::Figure::kHourly)) {
    for (qreal v : set) hourly += v;
  }
  QCOMPARE(hourly, 4.0);
  QCOMPARE(setsOf(RecordsCharts::Figure::kPareto), (QList<QList<qreal>>{{1}}));
  auto* paretoAxis = qobject_cast<QBarCategoryAxis*>(
      view.Charts()->Chart(RecordsCharts::Figure::kPareto)->axes(Qt::Horizontal).value(0));
  QVERIFY(paretoAxis);
  QCOMPARE(paretoAxis->categories(), QStringList{QStringLiteral("gps: a fix within 120 s")});
  QCOMPARE(setsOf(RecordsCharts::Figure::kTtff),
           (QList<QList<qreal>>{{0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0}}));
  view.ImeiFilter()->setText(QStringLiteral(" 111 "));
  view.Refresh();
  QTRY_COMPARE_WITH_TIMEOUT(view.Table()->rowCount(), 2, kPatienceMs);
  view.ImeiFilter()->clear();
  view.VerdictFilter()->setCurrentIndex(2);  // FAIL
  QTRY_COMPARE_WITH_TIMEOUT(view.Table()->rowCount(), 1, kPatienceMs);
  QCOMPARE(view.Table()->item(0, 1)->text(), QStringLiteral("222"));
  view.VerdictFilter()->setCurrentIndex(1);  // PASS
  QTRY_COMPARE_WITH_TIMEOUT(view.Table()->rowCount(), 6, kPatienceMs);

  // The ends either way round; a range's own units in the file, its neighbours' not; the
  // spreadsheet's byte order mark only when asked for, and the choice remembered.
  const struct {
    QDate from, to;
    QString count;
    std::vector<bool> exported;  // the four units on a day's bound
    bool excelMark = false;
  } ranges[] = {
      {today.addDays(-4), today, QStringLiteral("7"), {true, true, true, true}},
      {today, today, QStringLiteral("4"), {true, false, false, false}, true},
      {today.addDays(-1), today.addDays(-3), QStringLiteral("2"), {false, true, true, false}}};
  for (const auto& range : ranges) {
    view.ExcelMark()->setChecked(range.excelMark);
    view.From()->setDate(range.from);
    view.To()->setDate(range.to);
    told.clear();
    const QString csv = dir.filePath(range.count + QStringLiteral(".csv"));
    view.ExportTo(csv);
    QTRY_COMPARE_WITH_TIMEOUT(told, UiText(texts::Id::kRecordsExported) + range.count, kPatienceMs);
    const QByteArray written = ReadFile(csv);
    QCOMPARE(written.startsWith("\xEF\xBB\xBFrecord_id,"), range.excelMark);
    QCOMPARE(OpenSettingsStore().value(QStringLiteral("records/csvBom")).toBool(), range.excelMark);
    for (std::size_t i = 0; i < range.exported.size(); ++i)
      QCOMPARE(written.contains("86000000000000" + QByteArray::number(int(i) + 1)),
               bool(range.exported[i]));
  }

  // A line's server that accepts and never answers: the view opens at once, empty, and says
  // why once the store gives up.
  const int hung = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  QVERIFY(bind(hung, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
          listen(hung, 8) == 0 &&
          getsockname(hung, reinterpret_cast<sockaddr*>(&address), &length) == 0);
  const std::shared_ptr<void> closeHung(nullptr, [hung](void*) { close(hung); });
  // The charts read the same server: they wait off the UI thread too (its connect time-out is
  // 5 s; opening the view must take well under that).
  const std::string awayUrl =
      "postgresql://jig@127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/r";
  StoreWorker away(awayUrl);
  QElapsedTimer opening;
  opening.start();
  RecordsView waiting(away, nullptr, awayUrl);
  QVERIFY2(opening.elapsed() < 2000, qPrintable(QString::number(opening.elapsed())));
  waiting.messageHook = [](const QString&) {};
  QCOMPARE(waiting.Counts()->text(), QString());
  QTRY_VERIFY_WITH_TIMEOUT(
      waiting.Counts()->text().contains(QStringLiteral("cannot reach the server")), kPatienceMs);
  QTRY_VERIFY_WITH_TIMEOUT(
      waiting.Charts()->Yields()->text().contains(QStringLiteral("cannot reach")), kPatienceMs);
}

// What the operator reads of a label or tooltip: markup is rendered, plain text shown as is.
static QString Rendered(const QString& text, Qt::TextFormat format) {
  const bool markup =
      format == Qt::RichText || (format == Qt::AutoText && Qt::mightBeRichText(text));
  if (!markup) return text;
  QTextDocument document;
  document.setHtml(text);
  return document.toPlainText();
}

void TestE2eWindow::namesFromDevicesAndProgramsShowAsPlainText() {
  ConsoleUnderTest c;
  PtyPeer peer;
  // The port's node, as its link reads, holds markup: ".../<b>x</b>".
  const std::string node = c.Path(QStringLiteral("<b>x</b>")).toStdString();
  std::filesystem::create_directories(std::filesystem::path(node).parent_path());
  QVERIFY(::symlink(peer.SlavePath().c_str(), node.c_str()) == 0);
  const std::string link = c.Path(QStringLiteral("ports/COM97")).toStdString();
  QVERIFY(::symlink(node.c_str(), link.c_str()) == 0);
  c.dialog->OnInitDialog();
  QVERIFY2(c.Shown(1027).startsWith(QStringLiteral("COM97 (")), qPrintable(c.Shown(1027)));
  const QString tip = c.dialog->Control(1027)->toolTip();
  QCOMPARE(Rendered(tip, Qt::AutoText),
           QStringLiteral("virtual tracker port → ") + QString::fromStdString(node));

  // A program named "<b>x</b>" opens the port after us (root passes the exclusive flag).
  const pid_t holder = ::fork();
  if (holder == 0) {
    ::prctl(PR_SET_NAME, "<b>x</b>");
    ::close(peer.MasterFd());
    if (::open(peer.SlavePath().c_str(), O_RDWR | O_NOCTTY) >= 0) ::pause();
    ::_exit(1);
  }
  auto* problem = c.dialog->findChild<QLabel*>(QStringLiteral("portProblem"));
  QVERIFY(problem != nullptr);
  const QString named = QStringLiteral("<b>x</b> (PID %1)").arg(holder);
  QTRY_VERIFY_WITH_TIMEOUT(problem->text().endsWith(named), 6000);
  QCOMPARE(Rendered(problem->text(), problem->textFormat()),
           UiText(texts::Id::kPortAlsoHeldBy) + named);
  ::kill(holder, SIGKILL);
  ::waitpid(holder, nullptr, 0);
}

QTEST_MAIN(TestE2eWindow)
#include "test_e2e_window.moc"

// The real window against the real tracker-sim: start-up connects, a read button brings the
// value and its notice, the log pane fills, and the GPS group follows the drive. Device
// notices reach the window through its own socket notifier.

#include <QAbstractButton>
#include <QTest>
#include <csignal>

#include "app/log_pane.h"
#include "tests/gui/gui_support.h"
#include "tests/support/console_harness.h"

namespace {

constexpr int kPatienceMs = 10000;

bool HasBox(const std::vector<CapturedBox>& boxes, const QString& text) {
  for (const CapturedBox& box : boxes) {
    if (box.text == text) return true;
  }
  return false;
}

}  // namespace

class TestE2eWindow : public QObject {
  Q_OBJECT

 private slots:
  void connectsReadsLogsAndFollowsTheGps();
  void showsNoDeviceWhenTheTrackerGoesAndReconnectsWhenItComesBack();
};

void TestE2eWindow::connectsReadsLogsAndFollowsTheGps() {
  ConsoleUnderTest c;
  SimProcess sim(TC_SIM_PATH, c.Path(QStringLiteral("ports")).toStdString(),
                 {"--version", "TS-GUI-3", "--log-interval", "1", "--status-interval", "1"});
  QCOMPARE(sim.WaitForPlug(), 97);
  c.dialog->show();
  QVERIFY(QTest::qWaitForWindowExposed(c.dialog.get()));
  c.dialog->OnInitDialog();

  QVERIFY2(c.Shown(1027).startsWith(QStringLiteral("COM97 (")), qPrintable(c.Shown(1027)));
  QVERIFY(c.Shown(1027).endsWith(QStringLiteral(")")));
  QCOMPARE(c.Shown(1022), QStringLiteral("打开"));
  QCOMPARE(c.Shown(1028), QStringLiteral("已连接"));

  qobject_cast<QAbstractButton*>(c.dialog->Control(1056))->click();
  QVERIFY(QTest::qWaitFor([&] { return HasBox(c.boxes, QStringLiteral("版本号读取成功!")); },
                          kPatienceMs));
  QCOMPARE(c.Shown(1050), QStringLiteral("TS-GUI-3"));

  // The log pane fills with the device's lines: the greeting's echo, the reply, log lines.
  auto* pane = qobject_cast<LogPane*>(c.dialog->Control(1004));
  QVERIFY(pane != nullptr);
  QVERIFY(QTest::qWaitFor([&] { return pane->LineCount() > 3; }, kPatienceMs));
  const QString log = pane->PlainText();
  QVERIFY2(log.contains(QStringLiteral("\tAT:connect ok!#")), qPrintable(log));
  QVERIFY2(log.contains(QStringLiteral("\tAT+uart:ver,TS-GUI-3#")), qPrintable(log));
  QVERIFY2(!log.contains(QStringLiteral("\t$")), "no NMEA sentence in the log");

  // The GPS group follows the simulated drive.
  QVERIFY(QTest::qWaitFor([&] { return c.Shown(1093) != QStringLiteral("0"); }, kPatienceMs));
  const QString firstTime = c.Shown(1093);
  QVERIFY(QTest::qWaitFor([&] { return c.Shown(1093) != firstTime; }, kPatienceMs));
  QVERIFY(QTest::qWaitFor([&] { return c.Shown(1091).toDouble() > 1.0; }, kPatienceMs));
  QVERIFY(QTest::qWaitFor([&] { return c.Shown(1036) == QStringLiteral("存在"); }, kPatienceMs));
}

void TestE2eWindow::showsNoDeviceWhenTheTrackerGoesAndReconnectsWhenItComesBack() {
  ConsoleUnderTest c;
  SimProcess sim(TC_SIM_PATH, c.Path(QStringLiteral("ports")).toStdString(), {"--no-nmea"});
  QCOMPARE(sim.WaitForPlug(), 97);
  c.dialog->OnInitDialog();
  QCOMPARE(c.Shown(1028), QStringLiteral("已连接"));

  sim.Signal(SIGUSR1);  // unplug
  QVERIFY(QTest::qWaitFor([&] { return c.Shown(1027) == QStringLiteral("无"); }, kPatienceMs));
  QCOMPARE(c.Shown(1022), QStringLiteral("关闭"));
  QCOMPARE(c.Shown(1028), QStringLiteral("正在连接.."));
  QCOMPARE(c.Shown(1058), QStringLiteral("未连接到设备"));
  QVERIFY(!c.dialog->Logic().Port().IsOpen());

  sim.Signal(SIGUSR1);  // plug back in
  QVERIFY(QTest::qWaitFor([&] { return c.Shown(1028) == QStringLiteral("已连接"); }, kPatienceMs));
  QVERIFY(c.Shown(1027).startsWith(QStringLiteral("COM97 (")));
  QVERIFY(c.boxes.empty());
}

QTEST_MAIN(TestE2eWindow)
#include "test_e2e_window.moc"

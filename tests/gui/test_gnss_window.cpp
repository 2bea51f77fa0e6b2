// A multi-constellation receiver log replayed by tracker-sim into the real window: the GPS
// group shows signed coordinates, the fix, DOPs, RMC's values and the time to first fix, the
// GPS cells keep working under the GN talker, and the satellite view lists every system.

#include <QTableWidget>
#include <QTest>

#include "app/satellite_view.h"
#include "tests/gui/gui_support.h"
#include "tests/support/console_harness.h"

namespace {

constexpr int kPatienceMs = 10000;

// The table's row for one satellite, as its cells read; empty when it is not listed.
QStringList TableRow(const QTableWidget& table, const QString& system, const QString& number) {
  for (int row = 0; row < table.rowCount(); ++row) {
    if (table.item(row, 0)->text() != system || table.item(row, 1)->text() != number) continue;
    QStringList cells;
    for (int column = 0; column < table.columnCount(); ++column) {
      cells << table.item(row, column)->text();
    }
    return cells;
  }
  return {};
}

}  // namespace

class TestGnssWindow : public QObject {
  Q_OBJECT

 private slots:
  void showsAMultiConstellationReceiver();
};

void TestGnssWindow::showsAMultiConstellationReceiver() {
  ConsoleUnderTest c;
  SimProcess sim(TC_SIM_PATH, c.Path(QStringLiteral("ports")).toStdString(),
                 {"--nmea", TC_NMEA_DIR "/neo-m8n.nmea", "--status-interval", "60"});
  QCOMPARE(sim.WaitForPlug(), 97);
  c.dialog->show();
  QVERIFY(QTest::qWaitForWindowExposed(c.dialog.get()));
  c.dialog->OnInitDialog();
  QCOMPARE(c.Shown(1028), QStringLiteral("已连接"));

  // Bend, Oregon: west is negative.
  QVERIFY(QTest::qWaitFor([&] { return c.Shown(1091).startsWith(QStringLiteral("-121.31")); },
                          kPatienceMs));
  QVERIFY(c.Shown(1092).startsWith(QStringLiteral("44.06")));
  QCOMPARE(c.Shown(1096), QStringLiteral("定位"));
  QCOMPARE(c.Shown(1100), QStringLiteral("非差分定位"));
  QVERIFY(
      QTest::qWaitFor([&] { return c.Shown(1113) == QStringLiteral("2015-03-18"); }, kPatienceMs));
  QVERIFY(!c.Shown(1110).isEmpty() && !c.Shown(1111).isEmpty() && !c.Shown(1112).isEmpty());
  QVERIFY(c.dialog->Logic().FirstFixInfo().have);
  QCOMPARE(c.Shown(1116), QString::number(c.dialog->Logic().FirstFixInfo().seconds, 'f', 1));
  // GPS satellite 4 is used and strong in every second of the log.
  QVERIFY(QTest::qWaitFor(
      [&] { return c.dialog->State().m_snr[3] != "0" && !c.dialog->State().m_snr[3].empty(); },
      kPatienceMs));

  auto* toggle = qobject_cast<QAbstractButton*>(c.dialog->Control(1117));
  QVERIFY(toggle != nullptr);
  QCOMPARE(toggle->accessibleName(), QStringLiteral("卫星视图"));
  toggle->click();
  SatelliteView* view = c.dialog->SatellitePanel();
  QVERIFY(view->isVisible());
  QCOMPARE(view->Table()->accessibleName(), QStringLiteral("可见卫星"));
  QCOMPARE(view->Plot()->accessibleName(), QStringLiteral("天空图"));
  const QTableWidget& table = *view->Table();
  QVERIFY(QTest::qWaitFor([&] { return table.rowCount() == 23; }, kPatienceMs));
  QCOMPARE(TableRow(table, QStringLiteral("GLONASS"), QStringLiteral("67")).mid(2, 2),
           (QStringList{QStringLiteral("62"), QStringLiteral("349")}));
  QCOMPARE(TableRow(table, QStringLiteral("GLONASS"), QStringLiteral("67")).last(),
           QStringLiteral("是"));
  QCOMPARE(TableRow(table, QStringLiteral("GPS"), QStringLiteral("12")).last(), QString());
  QVERIFY(view->Plot()->accessibleDescription().startsWith(QStringLiteral("可见 23 颗")));

  view->close();
  QVERIFY(!toggle->isChecked());
}

QTEST_MAIN(TestGnssWindow)
#include "test_gnss_window.moc"

// The log pane's extras as the operator uses them: sent frames, NMEA lines, the longer time,
// the file form they keep, the hex view and the search.

#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QTest>

#include "app/log_pane.h"
#include "tests/gui/gui_support.h"

namespace {

QCheckBox* Option(ConsoleUnderTest& c, const char* name) {
  return c.dialog->findChild<QCheckBox*>(QString::fromLatin1(name));
}

}  // namespace

class TestLogExtras : public QObject {
  Q_OBJECT

 private slots:
  void extrasShowInThePaneAndReachTheFileOnlyWhenAsked_data();
  void extrasShowInThePaneAndReachTheFileOnlyWhenAsked();
  void hexViewShowsTheBytes();
  void searchFindsNextAndPreviousAndWraps();
};

void TestLogExtras::extrasShowInThePaneAndReachTheFileOnlyWhenAsked_data() {
  QTest::addColumn<bool>("extrasInFile");
  QTest::newRow("standard file") << false;
  QTest::newRow("extras in the file") << true;
}

void TestLogExtras::extrasShowInThePaneAndReachTheFileOnlyWhenAsked() {
  QFETCH(bool, extrasInFile);
  ConsoleUnderTest c;
  Option(c, "logShowNmea")->setChecked(true);
  Option(c, "logDateAndMs")->setChecked(true);
  Option(c, "logExtrasInFile")->setChecked(extrasInFile);
  Deliver(*c.dialog, DeviceFrame("before"));
  c.nextSaveFile = c.Path(QStringLiteral("log.txt"));
  qobject_cast<QAbstractButton*>(c.dialog->Control(1052))->click();
  c.dialog->Logic().SendUartCommand("imei,?");
  Deliver(*c.dialog, DeviceFrame("$GPGGA,1"));
  Deliver(*c.dialog, DeviceFrame("after"));

  LogPane* pane = c.dialog->Log();
  const logstore::LogStore& store = pane->Store();
  QCOMPARE(store.LineCount(), size_t{4});
  QVERIFY(pane->LineText(1).startsWith(QStringLiteral(" >>\t")));
  QVERIFY(pane->LineText(1).endsWith(QStringLiteral("\tAT+uart:imei,?#")));
  QCOMPARE(store.Kind(1), logstore::LineKind::kSent);
  QCOMPARE(store.Kind(2), logstore::LineKind::kNmea);
  const QRegularExpression longTime(
      QStringLiteral("^ 2\\t\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\tafter$"));
  QVERIFY2(longTime.match(pane->LineText(3)).hasMatch(), qPrintable(pane->LineText(3)));

  QFile file(*c.nextSaveFile);
  QVERIFY(file.open(QIODevice::ReadOnly));
  const QString recorded = QString::fromLatin1(file.readAll());
  const QRegularExpression shortTime(QStringLiteral("^ 0\\t\\d\\d:\\d\\d:\\d\\d\\tbefore\\r\\n"));
  QCOMPARE(recorded.contains(QStringLiteral("imei,?#")), extrasInFile);
  QCOMPARE(recorded.contains(QStringLiteral("$GPGGA")), extrasInFile);
  QCOMPARE(shortTime.match(recorded).hasMatch(), !extrasInFile);
  QCOMPARE(recorded.count(QStringLiteral("\r\n")), extrasInFile ? 4 : 2);
}

void TestLogExtras::hexViewShowsTheBytes() {
  ConsoleUnderTest c;
  Deliver(*c.dialog, DeviceFrame("\xD6\xD0"
                                 "A"));
  Option(c, "logHexView")->setChecked(true);
  QVERIFY(c.dialog->Log()->DisplayText(0).endsWith(QStringLiteral("\tD6 D0 41")));
  c.dialog->Log()->SelectAll();
  QVERIFY(c.dialog->Log()->SelectedText().endsWith(QStringLiteral("D6 D0 41")));
  Option(c, "logHexView")->setChecked(false);
  QVERIFY(c.dialog->Log()->DisplayText(0).endsWith(QStringLiteral("\t中A")));
}

void TestLogExtras::searchFindsNextAndPreviousAndWraps() {
  ConsoleUnderTest c;
  c.dialog->show();
  QVERIFY(QTest::qWaitForWindowExposed(c.dialog.get()));
  for (const char* payload : {"imei,1", "gsm", "IMEI,2", "gps"})
    Deliver(*c.dialog, DeviceFrame(payload));
  LogPane* pane = c.dialog->Log();
  QTest::keyClick(pane, Qt::Key_F, Qt::ControlModifier);
  auto* search = c.dialog->findChild<QLineEdit*>(QStringLiteral("logSearch"));
  QVERIFY(search->isVisible() && search->hasFocus());
  QTest::keyClicks(search, QStringLiteral("imei"));
  const struct {
    Qt::KeyboardModifiers modifiers;
    logstore::LineId line;
  } steps[] = {{Qt::NoModifier, 0},
               {Qt::NoModifier, 2},
               {Qt::NoModifier, 0},
               {Qt::ShiftModifier, 2},
               {Qt::ShiftModifier, 0}};
  for (const auto& step : steps) {
    QTest::keyClick(search, Qt::Key_Return, step.modifiers);
    QCOMPARE(pane->SelectedText().toLower(), QStringLiteral("imei"));
    QCOMPARE(pane->PositionAt(pane->SelectionOffsets().first).line, step.line);
  }
  search->setText(QStringLiteral("nowhere"));
  QTest::keyClick(search, Qt::Key_Return);
  QCOMPARE(c.dialog->findChild<QLabel*>(QStringLiteral("logSearchStatus"))->text(),
           QStringLiteral("找不到"));
  QTest::keyClick(search, Qt::Key_Escape);
  QVERIFY(!search->isVisible());
}

QTEST_MAIN(TestLogExtras)
#include "test_log_extras.moc"

// The traffic log as the operator uses it: lines arriving, pausing, clearing, recording to a
// file, and the pane's bound on a long shift.

#include <QAbstractButton>
#include <QFile>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTest>
#include <QTextCursor>

#include "app/log_pane.h"
#include "tests/gui/gui_support.h"

namespace {

// What the pane shows once the lines gathered during a burst are out.
QString PaneText(ConsoleUnderTest& c) {
  c.dialog->Log()->Flush();
  return c.dialog->Log()->toPlainText();
}

void Click(ConsoleUnderTest& c, int id) {
  qobject_cast<QAbstractButton*>(c.dialog->Control(id))->click();
}

QByteArray ReadFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll();
}

// " 0\t09:15:02\tpayload" with the time of day blanked.
QString WithoutTime(QString text) {
  static const QRegularExpression time(QStringLiteral("\\t\\d\\d:\\d\\d:\\d\\d\\t"));
  return text.replace(time, QStringLiteral("\tTT\t"));
}

}  // namespace

class TestLogPane : public QObject {
  Q_OBJECT

 private slots:
  void linesAppearInThePane();
  void pausedDisplayStillRecords();
  void clearDoesNotTouchTheFile();
  void recordingStartsWithThePaneText();
  void cancelledSaveChangesNothing();
  void unwritableFileIsReportedAndNotRecorded();
  void paneDropsOldestLinesAtItsBound();
  void paneKeepsSelectionAndScrollsOnlyAtTheBottom();
  void burstsAreGatheredAndALoneLineShowsAtOnce();
};

void TestLogPane::linesAppearInThePane() {
  ConsoleUnderTest c;
  Deliver(*c.dialog, DeviceFrame("GSM: CSQ 23"));
  auto two = DeviceFrame("hello");
  const auto more = DeviceFrame(gbk::FromUtf8("中文日志"));  // the tracker speaks GBK
  two.insert(two.end(), more.begin(), more.end());
  Deliver(*c.dialog, two);
  QCOMPARE(WithoutTime(PaneText(c)),
           QStringLiteral(" 0\tTT\tGSM: CSQ 23\n 1\tTT\thello\n 2\tTT\t中文日志\n"));
}

void TestLogPane::pausedDisplayStillRecords() {
  ConsoleUnderTest c;
  c.nextSaveFile = c.Path(QStringLiteral("log.txt"));
  Click(c, 1052);  // start recording
  QCOMPARE(c.Shown(1052), QStringLiteral("停止保存"));
  Deliver(*c.dialog, DeviceFrame("before"));
  Click(c, 1012);  // pause
  QCOMPARE(c.Shown(1012), QStringLiteral("开始显示"));
  Deliver(*c.dialog, DeviceFrame("while paused"));
  Click(c, 1012);  // resume
  QCOMPARE(c.Shown(1012), QStringLiteral("暂停显示"));
  Deliver(*c.dialog, DeviceFrame("after"));

  QCOMPARE(WithoutTime(PaneText(c)), QStringLiteral(" 0\tTT\tbefore\n 2\tTT\tafter\n"));
  const QByteArray file = ReadFile(*c.nextSaveFile);
  QCOMPARE(WithoutTime(QString::fromLatin1(file)),
           QStringLiteral(" 0\tTT\tbefore\r\n 1\tTT\twhile paused\r\n 2\tTT\tafter\r\n"));
}

void TestLogPane::clearDoesNotTouchTheFile() {
  ConsoleUnderTest c;
  c.nextSaveFile = c.Path(QStringLiteral("log.txt"));
  Click(c, 1052);
  Deliver(*c.dialog, DeviceFrame("one"));
  Click(c, 1011);
  QCOMPARE(PaneText(c), QString());
  Deliver(*c.dialog, DeviceFrame("two"));
  QCOMPARE(WithoutTime(QString::fromLatin1(ReadFile(*c.nextSaveFile))),
           QStringLiteral(" 0\tTT\tone\r\n 1\tTT\ttwo\r\n"));
  Click(c, 1052);  // stop: never asks for a file
  QCOMPARE(c.Shown(1052), QStringLiteral("保存到文件"));
  Deliver(*c.dialog, DeviceFrame("three"));
  QVERIFY(!ReadFile(*c.nextSaveFile).contains("three"));
}

void TestLogPane::recordingStartsWithThePaneText() {
  ConsoleUnderTest c;
  Deliver(*c.dialog, DeviceFrame(gbk::FromUtf8("中文")));
  c.nextSaveFile = c.Path(QStringLiteral("log.txt"));
  Click(c, 1052);
  Deliver(*c.dialog, DeviceFrame("next"));
  const QByteArray file = ReadFile(*c.nextSaveFile);
  // GBK bytes with CR LF line ends.
  QVERIFY(file.contains(QByteArray("\t\xD6\xD0\xCE\xC4\r\n")));
  QCOMPARE(file.count("\r\n"), 2);
  QVERIFY(file.endsWith("\tnext\r\n"));
}

void TestLogPane::cancelledSaveChangesNothing() {
  ConsoleUnderTest c;
  c.nextSaveFile.reset();
  Click(c, 1052);
  QCOMPARE(c.Shown(1052), QStringLiteral("保存到文件"));
  QVERIFY(!c.dialog->State().m_saving);
  QVERIFY(c.boxes.empty());
}

void TestLogPane::unwritableFileIsReportedAndNotRecorded() {
  ConsoleUnderTest c;
  c.nextSaveFile = c.Path(QStringLiteral("no-such-folder/log.txt"));
  Click(c, 1052);
  QCOMPARE(c.boxes.size(), size_t{1});
  QVERIFY(c.boxes[0].text.startsWith(QStringLiteral("无法保存到文件: ")));
  QVERIFY(c.boxes[0].text.contains(QStringLiteral("no-such-folder/log.txt")));
  QCOMPARE(c.Shown(1052), QStringLiteral("保存到文件"));
  QVERIFY(!c.dialog->State().m_saving);
}

void TestLogPane::paneDropsOldestLinesAtItsBound() {
  ConsoleUnderTest c;
  LogPane* pane = c.dialog->Log();
  pane->SetCharacterLimit(1000);
  for (int i = 0; i < 200; ++i) Deliver(*c.dialog, DeviceFrame("line " + std::to_string(i)));
  const QString text = PaneText(c);
  QVERIFY(text.size() <= 1000);
  QVERIFY(pane->CharacterCount() <= 1000);
  QVERIFY(text.endsWith(QStringLiteral("line 199\n")));
  QVERIFY(!text.contains(QStringLiteral("\tline 0\n")));
  // Whole lines go: the pane starts at a line's beginning.
  QVERIFY(text.startsWith(QLatin1Char(' ')));
}

void TestLogPane::paneKeepsSelectionAndScrollsOnlyAtTheBottom() {
  ConsoleUnderTest c;
  c.dialog->resize(900, 700);
  c.dialog->show();
  QVERIFY(QTest::qWaitForWindowExposed(c.dialog.get()));
  LogPane* pane = c.dialog->Log();
  for (int i = 0; i < 300; ++i) Deliver(*c.dialog, DeviceFrame("line " + std::to_string(i)));
  pane->Flush();
  QScrollBar* bar = pane->verticalScrollBar();
  QCOMPARE(bar->value(), bar->maximum());  // followed the tail

  // The operator scrolls up and selects a line: new lines neither move the view nor the
  // selection.
  QTextCursor cursor = pane->textCursor();
  cursor.setPosition(0);
  cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
  pane->setTextCursor(cursor);
  const QString selected = pane->textCursor().selectedText();
  bar->setValue(10);
  Deliver(*c.dialog, DeviceFrame("new line"));
  pane->Flush();
  QVERIFY(pane->toPlainText().endsWith(QStringLiteral("\tnew line\n")));
  QCOMPARE(bar->value(), 10);
  QCOMPARE(pane->textCursor().selectedText(), selected);
}

void TestLogPane::burstsAreGatheredAndALoneLineShowsAtOnce() {
  ConsoleUnderTest c;
  LogPane* pane = c.dialog->Log();
  Deliver(*c.dialog, DeviceFrame("first"));
  QVERIFY(pane->toPlainText().endsWith(QStringLiteral("\tfirst\n")));  // at once
  Deliver(*c.dialog, DeviceFrame("second"));
  Deliver(*c.dialog, DeviceFrame("third"));
  QVERIFY(!pane->toPlainText().contains(QStringLiteral("third")));  // gathered meanwhile
  // ... and shown without anything else happening.
  QTRY_VERIFY_WITH_TIMEOUT(
      WithoutTime(pane->toPlainText()).endsWith(QStringLiteral("\tsecond\n 2\tTT\tthird\n")), 5000);
  // Clearing drops what was gathered too.
  Deliver(*c.dialog, DeviceFrame("fourth"));
  Deliver(*c.dialog, DeviceFrame("fifth"));
  Click(c, 1011);
  pane->Flush();
  QCOMPARE(pane->toPlainText(), QString());
}

QTEST_MAIN(TestLogPane)
#include "test_log_pane.moc"

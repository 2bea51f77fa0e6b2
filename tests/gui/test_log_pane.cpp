// The traffic log as the operator uses it: lines arriving, pausing, clearing, recording to a
// file, the pane's bound, the selection and the view's place while lines come and go; its
// extras: sent frames, NMEA lines, the longer time, the file form they keep, the hex view and
// the search.

#include <QAccessible>
#include <QAccessibleTextInterface>
#include <QCheckBox>
#include <QClipboard>
#include <QLineEdit>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTest>

#include "app/log_pane.h"
#include "tests/gui/gui_support.h"

namespace {

// " 0\t09:15:02\tpayload" with the time of day blanked; bytes stay bytes.
QByteArray WithoutTime(QByteArray text) {
  static const QRegularExpression time(QStringLiteral("\\t\\d\\d:\\d\\d:\\d\\d\\t"));
  return QString::fromLatin1(text).replace(time, QStringLiteral("\tTT\t")).toLatin1();
}

QCheckBox* Option(ConsoleUnderTest& c, const char* name) {
  return c.dialog->findChild<QCheckBox*>(QString::fromLatin1(name));
}

void DeliverLines(ConsoleUnderTest& c, int count) {
  for (int i = 0; i < count; ++i) Deliver(*c.dialog, "line " + std::to_string(i));
}

}  // namespace

class TestLogPane : public QObject {
  Q_OBJECT

 private slots:
  void operatorScripts_data();
  void operatorScripts();
  void cancelledOrFailedSaveDoesNotRecord();
  void viewAndSelectionStayWhileLinesComeAndGo();
  void burstsRepaintLaterButAreThereAtOnce();
  void followsTheTailThroughBurstsAndTrimsUnlessScrolledBack();
  void textIsReadableThroughAccessibility();
  void extrasShowInThePaneAndReachTheFileOnlyWhenAsked();
  void searchFindsNextAndPreviousAndWrapsAlsoInHex();
};

// A script's steps: "rx:<payload>" a device line, "pause", "clear" and "save" the buttons (Save
// As answers with log.txt).
void TestLogPane::operatorScripts_data() {
  QTest::addColumn<QByteArrayList>("script");
  QTest::addColumn<QByteArray>("pane");  // GBK, CR LF
  QTest::addColumn<QByteArray>("file");  // empty: no file
  QTest::newRow("GBK and invalid bytes are shown and recorded as received")
      << QByteArrayList{"rx:\xD6\xD0\xCE\xC4", "rx:\x80\xFF raw", "save", "rx:next"}
      << QByteArray(" 0\tTT\t\xD6\xD0\xCE\xC4\r\n 1\tTT\t\x80\xFF raw\r\n 2\tTT\tnext\r\n")
      << QByteArray(" 0\tTT\t\xD6\xD0\xCE\xC4\r\n 1\tTT\t\x80\xFF raw\r\n 2\tTT\tnext\r\n");
  QTest::newRow("a paused display still records")
      << QByteArrayList{"save", "rx:before", "pause", "rx:paused", "pause", "rx:after"}
      << QByteArray(" 0\tTT\tbefore\r\n 2\tTT\tafter\r\n")
      << QByteArray(" 0\tTT\tbefore\r\n 1\tTT\tpaused\r\n 2\tTT\tafter\r\n");
  QTest::newRow("clearing does not touch the file")
      << QByteArrayList{"save", "rx:one", "clear", "rx:two"} << QByteArray(" 1\tTT\ttwo\r\n")
      << QByteArray(" 0\tTT\tone\r\n 1\tTT\ttwo\r\n");
  QTest::newRow("a recording started after a clear holds only later lines")
      << QByteArrayList{"rx:one", "clear", "save", "rx:two"} << QByteArray(" 1\tTT\ttwo\r\n")
      << QByteArray(" 1\tTT\ttwo\r\n");
  QTest::newRow("stopping never asks for a file and stops writing")
      << QByteArrayList{"save", "rx:one", "save", "rx:two"}
      << QByteArray(" 0\tTT\tone\r\n 1\tTT\ttwo\r\n") << QByteArray(" 0\tTT\tone\r\n");
}

void TestLogPane::operatorScripts() {
  QFETCH(QByteArrayList, script);
  QFETCH(QByteArray, pane);
  QFETCH(QByteArray, file);
  ConsoleUnderTest c;
  c.nextSaveFile = c.Path(QStringLiteral("log.txt"));
  for (const QByteArray& step : script) {
    if (step.startsWith("rx:")) {
      Deliver(*c.dialog, step.mid(3).toStdString());
    } else {
      Button(c, step == "pause" ? 1012 : step == "clear" ? 1011 : 1052)->click();
    }
  }
  QCOMPARE(WithoutTime(QByteArray::fromStdString(c.dialog->Log()->GbkText())), pane);
  QCOMPARE(WithoutTime(ReadFile(*c.nextSaveFile)), file);
  const bool recording = script.count("save") % 2 == 1;
  QCOMPARE(c.Shown(1052), recording ? QStringLiteral("停止保存") : QStringLiteral("保存到文件"));
  QCOMPARE(c.Shown(1012), script.count("pause") % 2 == 1 ? QStringLiteral("开始显示")
                                                         : QStringLiteral("暂停显示"));
}

void TestLogPane::cancelledOrFailedSaveDoesNotRecord() {
  for (const bool cancel : {true, false}) {
    ConsoleUnderTest c;
    c.nextSaveFile = cancel ? std::nullopt : std::optional(c.Path(QStringLiteral("nowhere/log")));
    Button(c, 1052)->click();
    QCOMPARE(c.Shown(1052), QStringLiteral("保存到文件"));
    QVERIFY(!c.dialog->State().m_saving);
    QCOMPARE(c.boxes.size(), cancel ? size_t{0} : size_t{1});
    if (!cancel) QVERIFY(c.boxes[0].text.startsWith(QStringLiteral("无法保存到文件: ")));
  }
}

void TestLogPane::viewAndSelectionStayWhileLinesComeAndGo() {
  ConsoleUnderTest c;
  c.dialog->resize(900, 700);
  QVERIFY(c.ShowActive());
  LogPane* pane = c.dialog->Log();
  pane->SetCharacterLimit(6000);
  DeliverLines(c, 300);  // trims along the way, whole lines at a time
  pane->Flush();
  QVERIFY(pane->PlainText().size() <= 6000 && pane->PlainText().startsWith(QLatin1Char(' ')));
  QCOMPARE(pane->CharacterCount(), pane->PlainText().size());
  QScrollBar* bar = pane->verticalScrollBar();
  QCOMPARE(bar->value(), bar->maximum());  // followed the tail
  QCOMPARE(pane->TopLine() + static_cast<quint64>(pane->VisibleRows()), quint64{300});

  // The operator scrolls up and drags over the top line.
  bar->setValue(100);
  const logstore::LineId firstBefore = pane->Store().FirstLine();
  const logstore::LineId top = pane->TopLine();
  const QString topLine = pane->LineText(top);
  QTest::mousePress(pane->viewport(), Qt::LeftButton, {}, QPoint(1, 2));
  QTest::mouseMove(pane->viewport(), QPoint(pane->viewport()->width() - 1, 2));
  QTest::mouseRelease(pane->viewport(), Qt::LeftButton, {},
                      QPoint(pane->viewport()->width() - 1, 2));
  QCOMPARE(pane->SelectedText(), topLine);

  // Lines arrive and the oldest go (not yet the selected one): view and selection stay.
  for (int i = 0; i < 60; ++i) Deliver(*c.dialog, "more");
  pane->Flush();
  QVERIFY(pane->Store().FirstLine() > firstBefore);
  QCOMPARE(pane->TopLine(), top);
  QCOMPARE(pane->SelectedText(), topLine);
  QVERIFY(bar->value() < bar->maximum());
  pane->setFocus();
  QTest::keyClick(pane, Qt::Key_C, Qt::ControlModifier);
  QCOMPARE(QGuiApplication::clipboard()->text(), topLine);

  // Back at the bottom, the view follows again.
  QTest::keyClick(pane, Qt::Key_End);
  Deliver(*c.dialog, "newest");
  pane->Flush();
  QCOMPARE(bar->value(), bar->maximum());
  QVERIFY(pane->LineText(pane->Store().EndLine() - 1).endsWith(QStringLiteral("\tnewest")));
}

void TestLogPane::burstsRepaintLaterButAreThereAtOnce() {
  ConsoleUnderTest c;
  QVERIFY(c.ShowActive());
  LogPane* pane = c.dialog->Log();
  QTest::qWait(200);  // a quiet spell
  DeliverLines(c, 200);
  QCOMPARE(pane->LineCount(), 200);  // recorded and copyable at once
  QScrollBar* bar = pane->verticalScrollBar();
  QVERIFY(bar->maximum() < 200 - pane->VisibleRows());  // the screen waits...
  QTRY_COMPARE_WITH_TIMEOUT(bar->maximum(), 200 - pane->VisibleRows(), 5000);  // ...not long
  Button(c, 1011)->click();
  QCOMPARE(pane->LineCount(), 0);
  QCOMPARE(bar->maximum(), 0);
}

// A burst far past the bound (lines ever wider, two batches between repaints, so the pane
// trims and re-measures all along), then a few slow device lines. At the bottom the newest
// line stays in view; scrolled back, the view stays on its line.
void TestLogPane::followsTheTailThroughBurstsAndTrimsUnlessScrolledBack() {
  for (const bool scrolledBack : {false, true}) {
    ConsoleUnderTest c;
    c.dialog->resize(900, 700);
    QVERIFY(c.ShowActive());
    LogPane* pane = c.dialog->Log();
    pane->SetCharacterLimit(300000);
    QScrollBar* bar = pane->verticalScrollBar();
    const auto burst = [&](int lines) {
      std::string batch;
      for (int n = 0; n < lines; ++n) {
        batch += " " + std::to_string(n) + "\t00:00:00\tburst " + std::string(n / 1000 % 150, 'x');
        batch += "\r\n";
        if (n % 500 == 499) {
          pane->AppendBatch(batch);
          batch.clear();
          if (n % 1000 == 999) QCoreApplication::processEvents();
        }
      }
    };
    burst(2000);
    pane->Flush();
    if (scrolledBack) bar->setValue(bar->maximum() / 2);
    const logstore::LineId top = pane->TopLine();
    const QString topText = pane->LineText(top);
    burst(scrolledBack ? 1000 : 200000);
    QVERIFY(scrolledBack || pane->Store().FirstLine() > top);  // trimmed past the old view
    for (int i = 0; i < 20; ++i) {
      Deliver(*c.dialog, "slow " + std::to_string(i));
      QTest::qWait(15);
    }
    pane->Flush();
    if (scrolledBack) {
      QCOMPARE(pane->TopLine(), top);
      QCOMPARE(pane->LineText(pane->TopLine()), topText);
      QVERIFY(bar->value() < bar->maximum());
    } else {
      QCOMPARE(bar->value(), bar->maximum());
      QCOMPARE(pane->TopLine() + static_cast<quint64>(pane->VisibleRows()),
               pane->Store().EndLine());
      QVERIFY(pane->LineText(pane->Store().EndLine() - 1).endsWith(QStringLiteral("\tslow 19")));
    }
  }
}

void TestLogPane::textIsReadableThroughAccessibility() {
  ConsoleUnderTest c;
  LogPane* pane = c.dialog->Log();
  Deliver(*c.dialog, "first");
  Deliver(*c.dialog, gbk::FromUtf8("第二行"));
  QAccessibleTextInterface* text = QAccessible::queryAccessibleInterface(pane)->textInterface();
  QCOMPARE(text->text(0, text->characterCount()), pane->PlainText());
  int start = 0;
  int end = 0;
  const int second = static_cast<int>(pane->PlainText().indexOf(QStringLiteral("第二行")));
  QVERIFY(text->textAtOffset(second, QAccessible::LineBoundary, &start, &end)
              .endsWith(QStringLiteral("\t第二行\n")));
  QCOMPARE(end, text->characterCount());
  text->setSelection(0, second, second + 3);
  QCOMPARE(pane->SelectedText(), QStringLiteral("第二行"));
  text->selection(0, &start, &end);
  QCOMPARE(std::pair(start, end), std::pair(second, second + 3));
}

// Both ways the file may be kept: the standard form, or with the extras.
void TestLogPane::extrasShowInThePaneAndReachTheFileOnlyWhenAsked() {
  for (const bool extrasInFile : {false, true}) {
    ConsoleUnderTest c;
    Option(c, "logShowNmea")->setChecked(true);
    Option(c, "logDateAndMs")->setChecked(true);
    Option(c, "logExtrasInFile")->setChecked(extrasInFile);
    Deliver(*c.dialog, "before");
    c.nextSaveFile = c.Path(QStringLiteral("log.txt"));
    Button(c, 1052)->click();
    c.dialog->Logic().SendUartCommand("imei,?");
    Deliver(*c.dialog, "$GPGGA,1");
    Deliver(*c.dialog, "after");

    LogPane* pane = c.dialog->Log();
    QCOMPARE(pane->LineCount(), 4);
    QVERIFY(pane->LineText(1).startsWith(QStringLiteral(" >>\t")));
    QVERIFY(pane->LineText(1).endsWith(QStringLiteral("\tAT+uart:imei,?#")));
    const QRegularExpression longTime(
        QStringLiteral("^ 2\\t\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\tafter$"));
    QVERIFY2(longTime.match(pane->LineText(3)).hasMatch(), qPrintable(pane->LineText(3)));

    const QString recorded = QString::fromLatin1(ReadFile(*c.nextSaveFile));
    const QRegularExpression shortTime(QStringLiteral("^ 0\\t\\d\\d:\\d\\d:\\d\\d\\tbefore\\r\\n"));
    QCOMPARE(recorded.contains(QStringLiteral("imei,?#")), extrasInFile);
    QCOMPARE(recorded.contains(QStringLiteral("$GPGGA")), extrasInFile);
    QCOMPARE(shortTime.match(recorded).hasMatch(), !extrasInFile);
    QCOMPARE(recorded.count(QStringLiteral("\r\n")), extrasInFile ? 4 : 2);
  }
}

void TestLogPane::searchFindsNextAndPreviousAndWrapsAlsoInHex() {
  ConsoleUnderTest c;
  QVERIFY(c.ShowActive());
  for (const char* payload : {"imei,1", "gsm", "IMEI,2", "gps", "\xD6\xD0\x41"})
    Deliver(*c.dialog, payload);
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

  // The hex view shows the bytes, and the search looks at what it shows.
  Option(c, "logHexView")->setChecked(true);
  QVERIFY(pane->DisplayText(4).endsWith(QStringLiteral("\tD6 D0 41")));
  search->setText(QStringLiteral("d0 4"));
  QTest::keyClick(search, Qt::Key_Return);
  QCOMPARE(pane->SelectedText(), QStringLiteral("D0 4"));
  Option(c, "logHexView")->setChecked(false);
  QVERIFY(pane->DisplayText(4).endsWith(QStringLiteral("\t中A")));
  QTest::keyClick(search, Qt::Key_Escape);
  QVERIFY(!search->isVisible());
}

QTEST_MAIN(TestLogPane)
#include "test_log_pane.moc"

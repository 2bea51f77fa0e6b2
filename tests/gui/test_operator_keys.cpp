// The window for the keyboard and in two languages: where the focus starts, the Exit question
// while recording, the Tab chain, the Alt keys, and switching the interface language (the
// members, and so the wire and the log file, keep their Chinese bytes).

#include <QMenu>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTest>
#include <QTranslator>

#include "app/language.h"
#include "app/settings.h"
#include "app/ui_text.h"
#include "tests/gui/gui_support.h"

namespace {

QAbstractButton* Button(ConsoleUnderTest& c, int id) {
  return qobject_cast<QAbstractButton*>(c.dialog->Control(id));
}

void ShowActive(ConsoleUnderTest& c) {
  c.dialog->show();
  c.dialog->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(c.dialog.get()));
}

}  // namespace

class TestOperatorKeys : public QObject {
  Q_OBJECT

 private slots:
  // Settings go to a scratch folder, also when the test is run by hand.
  void initTestCase() {
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_settings.path());
  }
  void exitAsksOnlyWhileRecording();
  void tabReachesEveryFieldInReadingOrder();
  void altKeysPressTheirButtons_data();
  void altKeysPressTheirButtons();
  void languageSwitchesAtRunTimeAndKeepsTheMembers();
  void everySystemTextHasItsEnglish();
  void languageComesFromCommandLineSavedChoiceOrLocale();

 private:
  QTemporaryDir m_settings;
};

void TestOperatorKeys::exitAsksOnlyWhileRecording() {
  const struct {
    const char* name;
    bool recording, closeBox, answer, ends;
  } rows[] = {
      {"idle, exit", false, false, false, true},
      {"recording, exit, no", true, false, false, false},
      {"recording, exit, yes", true, false, true, true},
      {"recording, close box, no", true, true, false, false},
      {"idle, close box", false, true, false, true},
  };
  for (const auto& row : rows) {
    ConsoleUnderTest c;
    c.dialog->show();
    int asked = 0;
    c.dialog->confirmExitHook = [&](const QString&) { return ++asked, row.answer; };
    if (row.recording) {
      c.nextSaveFile = c.Path(QStringLiteral("log.txt"));
      Button(c, 1052)->click();
    }
    row.closeBox ? void(c.dialog->close()) : Button(c, 1005)->click();
    QVERIFY2(asked == (row.recording ? 1 : 0), row.name);
    QVERIFY2(c.dialog->Dispatcher().QuitRequested() == row.ends, row.name);
    QVERIFY2(c.dialog->isVisible() != row.ends, row.name);
  }
}

void TestOperatorKeys::tabReachesEveryFieldInReadingOrder() {
  ConsoleUnderTest c;
  ShowActive(c);
  // The focus starts on a harmless field: Space there does nothing.
  QCOMPARE(QApplication::focusWidget(), c.dialog->Control(1029));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
  QVERIFY(!c.dialog->Dispatcher().QuitRequested());
  c.dialog->Control(1027)->setFocus();
  QList<QWidget*> visited;
  do {
    visited << QApplication::focusWidget();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  } while (QApplication::focusWidget() != c.dialog->Control(1027) && visited.size() < 300);
  for (QLineEdit* field : c.dialog->findChildren<QLineEdit*>()) {
    if (!field->isVisibleTo(c.dialog.get())) continue;
    QVERIFY2(visited.contains(field), qPrintable(field->objectName()));
  }
  // Status, its buttons, parameters row by row, test, GPS, signal cells, then the log; the
  // log's options come before its buttons.
  const int landmarks[] = {1027, 1036, 1005, 1050, 1029, 1035, 1108, 1003,
                           1099, 1091, 1100, 1059, 1090, 1004, 1052, 1011};
  qsizetype last = -1;
  for (const int id : landmarks) {
    QVERIFY2(visited.indexOf(c.dialog->Control(id)) > last, qPrintable(QString::number(id)));
    last = visited.indexOf(c.dialog->Control(id));
  }
  auto* hexView = c.dialog->findChild<QWidget*>(QStringLiteral("logHexView"));
  QVERIFY(visited.indexOf(hexView) > visited.indexOf(c.dialog->Control(1004)));
  QVERIFY(visited.indexOf(hexView) < visited.indexOf(c.dialog->Control(1052)));
}

void TestOperatorKeys::altKeysPressTheirButtons_data() {
  QTest::addColumn<int>("focus");
  QTest::addColumn<int>("key");
  QTest::addColumn<int>("pressed");  // 0: none
  QTest::newRow("Alt+R in the IMEI row") << 1035 << int(Qt::Key_R) << 1038;
  QTest::newRow("Alt+S beside the zone") << 1046 << int(Qt::Key_S) << 1048;
  QTest::newRow("Alt+R in a nested box") << 1045 << int(Qt::Key_R) << 1047;
  QTest::newRow("Alt+S on the address") << 1029 << int(Qt::Key_S) << 1034;
  QTest::newRow("Alt+R on the command row") << 1003 << int(Qt::Key_R) << 0;
  QTest::newRow("Alt+N sends") << 1035 << int(Qt::Key_N) << 1009;
  QTest::newRow("Alt+P pauses") << 1035 << int(Qt::Key_P) << 1012;
}

void TestOperatorKeys::altKeysPressTheirButtons() {
  QFETCH(int, focus);
  QFETCH(int, key);
  QFETCH(int, pressed);
  ConsoleUnderTest c;
  ShowActive(c);
  QList<int> clicked;
  for (QAbstractButton* button : c.dialog->findChildren<QAbstractButton*>()) {
    connect(button, &QAbstractButton::clicked, button,
            [&clicked, button] { clicked << button->property("controlId").toInt(); });
  }
  c.dialog->Control(focus)->setFocus();
  // Twice: a caption rewritten by the first press must keep its key. A button's own key
  // clicks it after a short animation.
  for (int round = 0; round < 2; ++round) {
    QTest::keyClick(QApplication::focusWidget(), static_cast<Qt::Key>(key), Qt::AltModifier);
    if (pressed != 0) QTRY_COMPARE(clicked.size(), round + 1);
  }
  if (pressed == 0) QTest::qWait(300);
  const QList<int> expected = pressed == 0 ? QList<int>() : QList<int>{pressed, pressed};
  QCOMPARE(clicked, expected);
}

void TestOperatorKeys::languageSwitchesAtRunTimeAndKeepsTheMembers() {
  ConsoleUnderTest c;
  ShowActive(c);
  // The menu's English entry switches and remembers the choice.
  QTimer::singleShot(0, [] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    QMenu* languages = menu->actions().last()->menu();
    languages->actions().last()->trigger();
    menu->close();
  });
  c.dialog->ShowWindowMenu(c.dialog->mapToGlobal(QPoint(5, 5)));
  QCoreApplication::sendPostedEvents(nullptr, QEvent::LanguageChange);
  QCOMPARE(AppSettings().Language(), QStringLiteral("en"));

  const struct {
    UiLanguage language;
    const char* exitCaption;
    const char* portState;
    const char* pauseCaption;
    const char* yes;
  } rows[] = {
      {UiLanguage::kEnglish, "E&xit", "Closed", "&Pause display", "&Yes"},
      {UiLanguage::kChinese, "退出", "关闭", "暂停显示", "是(&Y)"},
  };
  for (const auto& row : rows) {
    QVERIFY(ApplyLanguage(row.language));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LanguageChange);
    QCOMPARE(c.Shown(1005), QString::fromUtf8(row.exitCaption));
    QCOMPARE(c.Shown(1022), QString::fromUtf8(row.portState));
    QCOMPARE(c.Shown(1012), QString::fromUtf8(row.pauseCaption));
    QMessageBox box(QMessageBox::Question, QString(), QString(),
                    QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(box.button(QMessageBox::Yes)->text(), QString::fromUtf8(row.yes));
    // What the logic compares and sends stays in Chinese, also after a read-back.
    c.dialog->UpdateData(true);
    QCOMPARE(c.dialog->State().m_portState, gbk::FromUtf8("关闭"));
    QCOMPARE(c.dialog->State().m_pauseCaption, gbk::FromUtf8("暂停显示"));
  }
}

void TestOperatorKeys::everySystemTextHasItsEnglish() {
  QTranslator english;
  QVERIFY(english.load(QStringLiteral(":/i18n/tracker-console_en.qm")));
  QStringList missing;
  for (int i = 0; i < static_cast<int>(texts::Id::kCount); ++i) {
    const auto id = static_cast<texts::Id>(i);
    if (english.translate("texts", texts::Utf8(id), TextName(id)).isEmpty()) {
      missing << QString::fromLatin1(TextName(id));
    }
  }
  QVERIFY2(missing.isEmpty(), qPrintable(missing.join(QLatin1Char(' '))));
}

void TestOperatorKeys::languageComesFromCommandLineSavedChoiceOrLocale() {
  const struct {
    const char* commandLine;
    const char* saved;
    const char* locale;
    UiLanguage chosen;
  } rows[] = {
      {"en", "zh", "zh_CN", UiLanguage::kEnglish}, {"zh", "en", "en_US", UiLanguage::kChinese},
      {"", "en", "zh_CN", UiLanguage::kEnglish},   {"", "", "en_GB", UiLanguage::kEnglish},
      {"", "", "C", UiLanguage::kChinese},         {"", "", "zh_TW", UiLanguage::kChinese},
  };
  for (const auto& row : rows) {
    QVERIFY2(ChooseLanguage(row.commandLine, QString::fromLatin1(row.saved),
                            QString::fromLatin1(row.locale)) == row.chosen,
             row.locale);
  }
}

QTEST_MAIN(TestOperatorKeys)
#include "test_operator_keys.moc"

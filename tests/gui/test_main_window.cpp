// The main window as the operator meets it: texts and accessible names, boxes, the data
// exchange, the keyboard and the interface language.

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QTest>
#include <QTranslator>
#include <functional>

#include "app/language.h"
#include "app/log_pane.h"
#include "app/settings.h"
#include "app/snr_cell.h"
#include "app/ui_text.h"
#include "tests/gui/gui_support.h"

namespace {

// What the next modal window (a message box or the About box) showed; it is closed as soon
// as it opens.
struct ShownBox {
  QString caption, text, button;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
};

void CloseNextModal(ShownBox* seen) {
  QTimer::singleShot(0, [seen] {
    QWidget* modal = QApplication::activeModalWidget();
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      *seen = {box->windowTitle(), box->text(), box->button(QMessageBox::Ok)->text(), box->icon()};
      box->button(QMessageBox::Ok)->click();
    } else if (modal != nullptr) {
      seen->caption = modal->windowTitle();
      seen->text = modal->findChild<QLabel*>(QStringLiteral("aboutText"))->text();
      modal->findChild<QAbstractButton*>(QStringLiteral("aboutOk"))->click();
    }
  });
}

}  // namespace

class TestMainWindow : public QObject {
  Q_OBJECT

 private slots:
  // Settings go to a scratch folder, also when the test is run by hand.
  void initTestCase() {
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_settings.path());
  }
  void opensWithEveryGroupFirstTextAndAccessibleName();
  void aboutOpensFromButtonF1AndContextMenu();
  void messageBoxesShowTextCaptionAndIcon();
  void signalCellBarFollowsTheValue();
  void enterAndEscapeAreFiltered();
  void dataExchangeCarriesGbkBothWays();
  void typedTextSurvivesRefreshesTheOperatorDidNotCause_data();
  void typedTextSurvivesRefreshesTheOperatorDidNotCause();
  void accessibleActionsDoWhatAClickDoes();
  void noticesOfABurstAreAllInTheOneBox();
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

void TestMainWindow::opensWithEveryGroupFirstTextAndAccessibleName() {
  ConsoleUnderTest c;
  c.dialog->show();
  QCOMPARE(c.dialog->windowTitle(), QStringLiteral("瓦伦托配置工具V1.9"));

  QStringList groups;
  for (auto* box : c.dialog->findChildren<QGroupBox*>()) groups << box->title();
  for (const char* title : {"状态", "参数配置", "生产测试", "GPS信息", "调试信息"}) {
    QVERIFY2(groups.contains(QString::fromUtf8(title)), title);
  }

  QCOMPARE(c.Mismatches({
               {1022, "关闭"},       {1027, ""},         {1028, ""},         {1058, "未连接到设备"},
               {1052, "保存到文件"}, {1012, "暂停显示"}, {1011, "清空显示"}, {1051, "IP:"},
               {1005, "退出"},       {1006, "关于"},     {1008, "清空"},     {1009, "发送"},
               {1056, "读取"},       {1034, "设置"},     {1049, "[ ]"},      {1099, "[ ]"},
               {1054, "[ ]"},        {1055, "[ ]"},      {1053, "[ ]"},      {1098, "[ ]"},
               {1059, "0"},          {1090, "0"},        {1091, "0"},        {1092, "0"},
               {1093, "0"},          {1095, "0"},        {1097, "0"},        {1096, "未定位"},
               {1100, "未定位"},     {1003, ""},         {1035, ""},         {1030, ""},
           }),
           QString());
  // The result boxes are the device's to tick, not the operator's.
  QVERIFY(!c.dialog->Control(1054)->isEnabled());
  QVERIFY(QAccessible::queryAccessibleInterface(c.dialog->Control(1004))->state().readOnly);

  const struct {
    int id;
    const char* name;
  } names[] = {
      {1027, "当前串口:"}, {1022, "串口状态:"}, {1028, "通信状态:"}, {1030, "GSM信号:"},
      {1035, "IMEI号:"},   {1029, "IP:"},       {1040, "PORT:"},     {1003, "指令发送:"},
      {1058, "测试结果:"}, {1091, "经度:"},     {1096, "定位状态:"}, {1059, "01"},
      {1090, "32"},        {1009, "发送"},      {1012, "暂停显示"},  {1098, "GPS数据更新状态"},
      {1054, "1.GSM"},     {1053, "3.按键"},    {1099, "开启测试"},
  };
  for (const auto& row : names) {
    QCOMPARE(c.dialog->Control(row.id)->accessibleName(), QString::fromUtf8(row.name));
  }
  // The address edit is announced by whatever its label says now.
  c.dialog->State().m_addrLabel = gbk::FromUtf8("URL:");
  c.dialog->UpdateData(false);
  QCOMPARE(c.dialog->Control(1029)->accessibleName(), QStringLiteral("URL:"));
  // Two buttons share a caption; their row tells them apart.
  QCOMPARE(c.dialog->Control(1038)->accessibleDescription(), QStringLiteral("IMEI号:"));

  // Started without any port: no device, and no box about it.
  c.dialog->OnInitDialog();
  QCOMPARE(
      c.Mismatches({{1022, "关闭"}, {1027, "无"}, {1028, "正在连接.."}, {1058, "未连接到设备"}}),
      QString());
  QCOMPARE(c.dialog->Log()->CharacterLimit(), qsizetype{52428800});
  QVERIFY(c.boxes.empty());
}

void TestMainWindow::aboutOpensFromButtonF1AndContextMenu() {
  ConsoleUnderTest c;
  QVERIFY(c.ShowActive());
  const std::function<void()> ways[] = {
      [&] { QTest::keyClick(c.dialog->Control(1003), Qt::Key_F1); },
      [&] { Button(c, 1006)->click(); },
      [&] { c.dialog->OnSysCommand(0x13); },  // low bits are the system's own
  };
  for (const auto& open : ways) {
    ShownBox seen;
    c.dialog->Control(1003)->setFocus();
    CloseNextModal(&seen);
    open();
    QCOMPARE(seen.caption, QStringLiteral("关于瓦伦托配置工具"));
    QCOMPARE(seen.text, QStringLiteral("瓦伦托配置工具 V1.9_180421 版"));
  }
  ShownBox seen;
  CloseNextModal(&seen);
  c.dialog->OnSysCommand(0xF060);  // another system command opens nothing
  QVERIFY(seen.caption.isEmpty());
}

void TestMainWindow::messageBoxesShowTextCaptionAndIcon() {
  ConsoleUnderTest c;
  c.dialog->messageBoxHook = nullptr;
  QVERIFY(c.ShowActive());
  const struct {
    MessageIcon icon;
    QMessageBox::Icon shown;
  } rows[] = {{MessageIcon::kNone, QMessageBox::NoIcon},
              {MessageIcon::kExclamation, QMessageBox::Warning},
              {MessageIcon::kError, QMessageBox::Critical}};
  for (const auto& row : rows) {
    ShownBox seen;
    CloseNextModal(&seen);
    c.dialog->MessageBox(gbk::FromUtf8("串口"), row.icon, gbk::FromUtf8("标题"));
    QCOMPARE(seen.icon, row.shown);
    QCOMPARE(seen.text, QStringLiteral("串口"));
    QCOMPARE(seen.caption, QStringLiteral("标题"));
    QCOMPARE(seen.button, QStringLiteral("确定"));
  }
  // A press without a tracker: the guard's own words, under the window's title.
  ShownBox seen;
  CloseNextModal(&seen);
  Button(c, 1056)->click();
  QCOMPARE(seen.text, QStringLiteral("尚未连接到设备,请重新插拔USB!"));
  QCOMPARE(seen.caption, QStringLiteral("瓦伦托配置工具V1.9"));
  QCOMPARE(seen.icon, QMessageBox::NoIcon);
}

void TestMainWindow::signalCellBarFollowsTheValue() {
  SnrCell cell(1);
  cell.resize(30, 120);
  const int barBottom = cell.height() - 4 - cell.fontMetrics().height();
  const QColor red(0xd9, 0x53, 0x4f), amber(0xf0, 0xad, 0x4e), green(0x5c, 0xb8, 0x5c);
  const struct {
    const char* value;
    QColor bottom;  // invalid: no bar
    bool full;
  } rows[] = {{"0", {}, false},     {"abc", {}, false},   {"1", red, false},
              {"19", red, false},   {"20", amber, false}, {"31", amber, false},
              {"32", green, false}, {"50", green, true},  {"99", green, true}};
  for (const auto& row : rows) {
    cell.setText(QString::fromLatin1(row.value));
    const QImage image = cell.grab().toImage();
    const QColor bottom = image.pixelColor(5, barBottom);
    if (row.bottom.isValid()) {
      QCOMPARE(bottom, row.bottom);
    } else {
      QVERIFY2(bottom != red && bottom != amber && bottom != green, row.value);
    }
    QCOMPARE(image.pixelColor(5, 3) == row.bottom, row.full);
  }
}

void TestMainWindow::enterAndEscapeAreFiltered() {
  ConsoleUnderTest c;
  QVERIFY(c.ShowActive());
  // Enter in the IMEI box runs the IMEI set: not connected, so the guard speaks.
  QWidget* imei = c.dialog->Control(1035);
  imei->setFocus();
  QTest::keyClick(imei, Qt::Key_Return);
  QCOMPARE(c.boxes.size(), size_t{1});
  QCOMPARE(c.boxes[0].text, QStringLiteral("尚未连接到设备,请重新插拔USB!"));
  // Enter elsewhere, on a button included, does nothing; Esc does not close the window.
  QWidget* readVersion = c.dialog->Control(1056);
  readVersion->setFocus();
  QTest::keyClick(readVersion, Qt::Key_Return);
  QTest::keyClick(c.dialog->Control(1003), Qt::Key_Enter);
  QTest::keyClick(c.dialog->Control(1003), Qt::Key_Escape);
  QCOMPARE(c.boxes.size(), size_t{1});
  QVERIFY(c.dialog->isVisible());
  QVERIFY(!c.dialog->Dispatcher().QuitRequested());
}

void TestMainWindow::dataExchangeCarriesGbkBothWays() {
  ConsoleUnderTest c;
  DialogState& s = c.dialog->State();
  // Typed text arrives as Unicode; what the member holds is GBK.
  qobject_cast<QLineEdit*>(c.dialog->Control(1041))->setText(QStringLiteral("中心13800138000"));
  qobject_cast<QCheckBox*>(c.dialog->Control(1099))->setChecked(true);
  c.dialog->UpdateData(true);
  QCOMPARE(s.m_centerNumber, gbk::FromUtf8("中心13800138000"));
  QCOMPARE(s.m_centerNumber.size(), size_t{15});  // two GBK characters of two bytes each
  QVERIFY(s.m_testEnabled);

  s.m_version = gbk::FromUtf8("V1.2 版本");
  s.m_gsmOk = true;
  s.m_pauseCaption = gbk::FromUtf8("开始显示");
  s.m_snr[0] = "41";
  s.m_snr[31] = "7";
  c.dialog->UpdateData(false);
  QCOMPARE(c.Mismatches({{1059, "41"}, {1060, "0"}, {1090, "7"}}), QString());
  QCOMPARE(c.Mismatches({{1050, "V1.2 版本"}, {1054, "[x]"}, {1012, "开始显示"}}), QString());

  // Bytes that are no GBK survive a round trip.
  const std::string garbage = std::string("AB\xFF\x80", 4) + "C";
  s.m_imei = garbage;
  c.dialog->UpdateData(false);
  c.dialog->UpdateData(true);
  QCOMPARE(s.m_imei, garbage);

  // Clear empties the command box and its member, and leaves the other boxes as typed.
  QTest::keyClicks(c.dialog->Control(1003), QStringLiteral("POWEROFF"));
  QTest::keyClicks(c.dialog->Control(1041), QStringLiteral("5"));
  Button(c, 1008)->click();
  QCOMPARE(c.Shown(1003), QString());
  QCOMPARE(s.m_sendText, std::string());
  QCOMPARE(c.Shown(1041), QStringLiteral("中心138001380005"));
  QVERIFY(c.boxes.empty());
}

void TestMainWindow::typedTextSurvivesRefreshesTheOperatorDidNotCause_data() {
  QTest::addColumn<QByteArray>("device");  // a device line; empty: the test's time-out
  QTest::addColumn<bool>("typeFirst");     // typed before the refresh, or while it waits
  QTest::addColumn<int>("refreshed");      // the control the refresh fills
  QTest::addColumn<QString>("shows");
  QTest::newRow("the test's time-out") << QByteArray() << true << 1058 << "FAIL";
  QTest::newRow("a status report")
      << QByteArray("AT+uart:gsm,20,agps,3,gps,5,sim,1#") << true << 1030 << "20";
  QTest::newRow("a position")
      << QByteArray("$GPGGA,084512.00,3130.5210,N,12126.8843,E,2,07,1.1,12.5,M,8.4,M,,*6E") << true
      << 1093 << "08:45:12";
  QTest::newRow("typed while the screen's refresh waits")
      << QByteArray("AT+uart:gsm,21,agps,3,gps,5,sim,1#") << false << 1030 << "21";
  QTest::newRow("a read the operator asked for overwrites")
      << QByteArray("AT+uart:imei,861234567890123#") << true << 1035 << "861234567890123";
}

void TestMainWindow::typedTextSurvivesRefreshesTheOperatorDidNotCause() {
  QFETCH(QByteArray, device);
  QFETCH(bool, typeFirst);
  QFETCH(int, refreshed);
  QFETCH(QString, shows);
  // What was typed stays, unless the refresh is the IMEI read the operator asked for.
  const QString imeiBox = refreshed == 1035 ? shows : QStringLiteral("8612");
  ConsoleUnderTest c(300);
  c.dialog->show();
  DialogState& s = c.dialog->State();
  s.m_linkState = T(kLinkConnected);
  s.m_testResult = T(kTesting);
  c.dialog->UpdateData(false);
  const auto type = [&] { QTest::keyClicks(c.dialog->Control(1035), QStringLiteral("8612")); };
  if (typeFirst) type();
  if (device.isEmpty()) {
    c.dialog->Logic().StartFactoryTest(300);
  } else {
    Deliver(*c.dialog, device.toStdString());
  }
  if (!typeFirst) type();
  QTRY_COMPARE_WITH_TIMEOUT(c.Shown(refreshed), shows, 5000);
  QCOMPARE(c.Shown(1035), imeiBox);
  c.dialog->UpdateData(true);  // the next exchange takes what the box shows
  QCOMPARE(s.m_imei, imeiBox.toStdString());
}

// The actions a screen reader offers (AT-SPI's Toggle and Press) do what a click does: the
// test is armed and sent, unticking stops its time-out, a read goes out, the domain switches.
void TestMainWindow::accessibleActionsDoWhatAClickDoes() {
  ConsoleUnderTest c(400);
  c.dialog->show();
  DialogState& s = c.dialog->State();
  s.m_linkState = T(kLinkConnected);
  s.m_testResult = T(kTesting);
  c.dialog->UpdateData(false);
  const auto act = [&](int id, const QString& action) {
    QAccessibleActionInterface* actions =
        QAccessible::queryAccessibleInterface(c.dialog->Control(id))->actionInterface();
    QVERIFY2(actions->actionNames().contains(action), qPrintable(QString::number(id)));
    actions->doAction(action);
  };
  const auto sent = [&](const QString& frame) {
    return c.dialog->Log()->PlainText().count(QStringLiteral("\t") + frame + QStringLiteral("\n"));
  };
  const QString toggle = QAccessibleActionInterface::toggleAction();
  act(1099, toggle);
  QCOMPARE(c.Shown(1099), QStringLiteral("[x]"));
  QVERIFY(s.m_testEnabled);
  QCOMPARE(sent(QStringLiteral("AT+uart:factory_test#")), 1);

  act(1099, toggle);  // unticked before the time-out: the result stays open
  QVERIFY(!s.m_testEnabled);
  QTest::qWait(700);
  QCOMPARE(c.Shown(1058), QStringLiteral("正在测试.."));

  act(1099, toggle);
  QCOMPARE(sent(QStringLiteral("AT+uart:factory_test#")), 2);
  QTRY_COMPARE_WITH_TIMEOUT(c.Shown(1058), QStringLiteral("FAIL"), 5000);

  act(1056, QAccessibleActionInterface::pressAction());
  QTRY_COMPARE_WITH_TIMEOUT(sent(QStringLiteral("AT+uart:ver,?#")), 1, 5000);
  act(1049, toggle);
  QCOMPARE(c.Shown(1051), QStringLiteral("URL:"));
  QVERIFY(s.m_useDomain);
  QVERIFY(c.boxes.empty());
}

// Replies in a burst, each with its notice: all of them in the one box, newest last, a repeat
// counted instead of listed twice, at most eight; closing the box starts the list afresh.
void TestMainWindow::noticesOfABurstAreAllInTheOneBox() {
  ConsoleUnderTest c;
  c.dialog->messageBoxHook = nullptr;
  c.dialog->show();
  const struct {
    const char* reply;
    const char* notice;
  } replies[] = {
      {"monitor,ok", "监听号码设置成功!"},          {"upload,30", "上报时间间隔读取成功!"},
      {"imei,861234567890123", "imei读取成功!"},    {"ver,V1", "版本号读取成功!"},
      {"language,1,zone,8", "语言和时区读取成功!"}, {"upload,ok", "上报时间间隔设置成功!"},
      {"sos1,ok,sos2,ok,sos3,ok", "SOS设置成功!"},  {"monitor,138", "监听号码读取成功!"},
      {"sos1,1,sos2,2,sos3,3", "SOS读取成功!"},
  };
  const auto deliver = [&](int from, int to) {
    for (int i = from; i < to; ++i)
      Deliver(*c.dialog, std::string("AT+uart:") + replies[i].reply + "#");
  };
  const auto listed = [&](std::initializer_list<int> rows, int repeated = -1) {
    QStringList lines;
    for (const int i : rows) {
      lines << QString::fromUtf8(replies[i].notice) +
                   (i == repeated ? QStringLiteral(" (×2)") : QString());
    }
    return lines.join(QLatin1Char('\n'));
  };
  QMessageBox* box = nullptr;
  const auto shown = [&] {
    box = c.dialog->findChild<QMessageBox*>(QStringLiteral("noticeBox"));
    return box != nullptr && box->isVisible() ? box->text() : QString();
  };
  deliver(0, 5);
  QTRY_COMPARE_WITH_TIMEOUT(shown(), listed({0, 1, 2, 3, 4}), 5000);
  deliver(0, 1);
  QTRY_COMPARE_WITH_TIMEOUT(shown(), listed({1, 2, 3, 4, 0}, 0), 5000);
  deliver(5, 8);
  QTRY_COMPARE_WITH_TIMEOUT(shown(), listed({1, 2, 3, 4, 0, 5, 6, 7}, 0), 5000);
  deliver(8, 9);
  QTRY_COMPARE_WITH_TIMEOUT(shown(), listed({2, 3, 4, 0, 5, 6, 7, 8}, 0), 5000);
  QCOMPARE(c.dialog->findChildren<QMessageBox*>().size(), 1);
  box->button(QMessageBox::Ok)->click();
  deliver(3, 4);
  QTRY_COMPARE_WITH_TIMEOUT(shown(), listed({3}), 5000);
}

void TestMainWindow::exitAsksOnlyWhileRecording() {
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

void TestMainWindow::tabReachesEveryFieldInReadingOrder() {
  ConsoleUnderTest c;
  QVERIFY(c.ShowActive());
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

void TestMainWindow::altKeysPressTheirButtons_data() {
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

void TestMainWindow::altKeysPressTheirButtons() {
  QFETCH(int, focus);
  QFETCH(int, key);
  QFETCH(int, pressed);
  ConsoleUnderTest c;
  QVERIFY(c.ShowActive());
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

void TestMainWindow::languageSwitchesAtRunTimeAndKeepsTheMembers() {
  ConsoleUnderTest c;
  QVERIFY(c.ShowActive());
  // The context menu carries the About entry; its English entry switches and remembers.
  QString aboutEntry;
  QTimer::singleShot(0, [&aboutEntry] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    aboutEntry = menu->actions().value(0)->text();
    menu->actions().last()->menu()->actions().last()->trigger();
    menu->close();
  });
  QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                          c.dialog->mapToGlobal(QPoint(5, 5)));
  QApplication::sendEvent(c.dialog.get(), &event);
  QCOMPARE(aboutEntry, QStringLiteral("关于VARENTO(&A)..."));
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
    QCOMPARE(
        c.Mismatches({{1005, row.exitCaption}, {1022, row.portState}, {1012, row.pauseCaption}}),
        QString());
    QMessageBox box(QMessageBox::Question, QString(), QString(),
                    QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(box.button(QMessageBox::Yes)->text(), QString::fromUtf8(row.yes));
    // What the logic compares and sends stays in Chinese, also after a read-back.
    c.dialog->UpdateData(true);
    QCOMPARE(c.dialog->State().m_portState, gbk::FromUtf8("关闭"));
    QCOMPARE(c.dialog->State().m_pauseCaption, gbk::FromUtf8("暂停显示"));
  }
}

void TestMainWindow::everySystemTextHasItsEnglish() {
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

void TestMainWindow::languageComesFromCommandLineSavedChoiceOrLocale() {
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

QTEST_MAIN(TestMainWindow)
#include "test_main_window.moc"

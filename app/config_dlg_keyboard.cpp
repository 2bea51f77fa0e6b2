// The window for the operator's hands and eyes: the Tab order, shortcut keys, tooltips with
// each field's format, the exit question, and the interface language.

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QActionGroup>
#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>
#include <QStyle>
#include <algorithm>
#include <iterator>

#include "app/config_dlg.h"
#include "app/control_ids.h"
#include "app/language.h"
#include "app/settings.h"
#include "app/station_panel.h"
#include "app/ui_text.h"

namespace {

constexpr char kTextIdProperty[] = "systemTextId";
constexpr char kShortcutProperty[] = "shortcutKey";

using Tid = texts::Id;

// Reading order: the status column and its buttons, the parameters row by row, the test,
// the GPS values and cells, the log and its buttons.
constexpr int kTabOrder[] = {
    kPortName, kPortState, kLinkState, kGsmSignal, kGpsCount, kAgpsCount, kSimState, kExit, kAbout,
    kVersion, kReadVersion, kDomain, kServerAddr, kServerPort, kReadAddr, kSetAddr, kImei,
    kReadImei, kSetImei, kCenterNumber, kSlaveNumber, kReadNumbers, kSetNumbers, kLanguage, kZone,
    kReadLanguage, kSetLanguage, kSos1, kSos2, kSos3, kReadSos, kSetSos, kMonitorNumber,
    kReadMonitor, kSetMonitor, kUploadInterval, kReadUpload, kSetUpload, kSendText, kSend,
    kClearCommand, kStartTest, kTestResult, kLongitude, kLatitude, kGpsTime, kSatsUsed, kFixState,
    kAltitude, kFixType,
    // the 32 signal cells follow kFixType (SetTabOrder), then:
    kLog, kSave, kPause, kClearDisplay};

// Alt+letter for the buttons whose caption is unique. The Chinese captions stay as they are;
// the English ones underline the same letter.
const struct {
  int id;
  Qt::Key key;
} kShortcuts[] = {
    {kExit, Qt::Key_X}, {kAbout, Qt::Key_A},        {kDomain, Qt::Key_D},
    {kSend, Qt::Key_N}, {kClearCommand, Qt::Key_C}, {kStartTest, Qt::Key_T},
    {kSave, Qt::Key_F}, {kPause, Qt::Key_P},        {kClearDisplay, Qt::Key_L},
};

constexpr int kReadButtons[] = {kReadVersion,  kReadAddr, kReadImei,    kReadNumbers,
                                kReadLanguage, kReadSos,  kReadMonitor, kReadUpload};
constexpr int kSetButtons[] = {kSetAddr, kSetImei,    kSetNumbers, kSetLanguage,
                               kSetSos,  kSetMonitor, kSetUpload};

const struct {
  int id;
  Tid tip;
} kTooltips[] = {
    {kServerAddr, Tid::kTipServerAddr},
    {kServerPort, Tid::kTipServerPort},
    {kImei, Tid::kTipImei},
    {kCenterNumber, Tid::kTipPhone},
    {kSlaveNumber, Tid::kTipPhone},
    {kSos1, Tid::kTipPhone},
    {kSos2, Tid::kTipPhone},
    {kSos3, Tid::kTipPhone},
    {kMonitorNumber, Tid::kTipPhone},
    {kLanguage, Tid::kTipLanguage},
    {kZone, Tid::kTipZone},
    {kUploadInterval, Tid::kTipUpload},
    {kSendText, Tid::kTipSendText},
    {kDomain, Tid::kTipDomain},
    {kStartTest, Tid::kTipStartTest},
    {kVersion, Tid::kTipVersion},
    {kGsmSignal, Tid::kTipDeviceCount},
    {kGpsCount, Tid::kTipDeviceCount},
    {kAgpsCount, Tid::kTipDeviceCount},
    {kLongitude, Tid::kTipDegrees},
    {kLatitude, Tid::kTipDegrees},
    {kGpsTime, Tid::kTipGpsTime},
    {kAltitude, Tid::kTipAltitude},
    {kHdop, Tid::kTipDop},
    {kVdop, Tid::kTipDop},
    {kPdop, Tid::kTipDop},
    {kGpsDate, Tid::kTipGpsDate},
};

// Members that hold the system's state texts; everything else shows device data as it came.
constexpr int kTranslatedBindings[] = {kPortState, kPortName,  kLinkState, kTestResult, kSave,
                                       kPause,     kAddrLabel, kSimState,  kFixState,   kFixType};

// The state texts each display may show: it is made wide enough for the widest of them.
const struct {
  int id;
  std::initializer_list<Tid> shows;
} kDisplayTexts[] = {
    {kTestResult, {Tid::kNotConnected, Tid::kTesting, Tid::kPass}},
    {kLinkState, {Tid::kLinkConnected, Tid::kLinkConnecting, Tid::kWaitingForDevice}},
    {kFixState, {Tid::kNoFix, Tid::kFixed}},
    {kFixType, {Tid::kNoFix, Tid::kFixNonDifferential, Tid::kFixDifferential, Tid::kFixInvalid}},
    {kSimState, {Tid::kSimPresent, Tid::kSimAbsent}},
};

template <typename Range>
bool Contains(const Range& range, int id) {
  return std::find(std::begin(range), std::end(range), id) != std::end(range);
}

QString WithoutMnemonic(QString text) {
  return text.remove(QLatin1Char('&'));
}

QString ShortcutHint(const QKeySequence& key) {
  return QStringLiteral(" (%1)").arg(key.toString(QKeySequence::NativeText));
}

// The row of a grid layout that holds `widget`, directly or in a nested layout; -1 if none.
int RowOf(QGridLayout* grid, QWidget* widget) {
  for (int i = 0; i < grid->count(); ++i) {
    QLayoutItem* item = grid->itemAt(i);
    const bool here = item->widget() == widget ||
                      (item->layout() != nullptr && item->layout()->indexOf(widget) >= 0);
    if (!here) continue;
    int row = 0;
    int column = 0;
    int rowSpan = 0;
    int columnSpan = 0;
    grid->getItemPosition(i, &row, &column, &rowSpan, &columnSpan);
    return rowSpan == 1 ? row : -1;
  }
  return -1;
}

QString VisibleText(QWidget* widget) {
  if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
  if (auto* button = qobject_cast<QAbstractButton*>(widget)) return button->text();
  if (auto* group = qobject_cast<QGroupBox*>(widget)) return group->title();
  return {};
}

// The inputs of `group` that have no control id (the log's search and options), in the order
// they were laid out, which is their reading order.
void AppendUnnamedInputs(QWidget* group, std::vector<QWidget*>& chain) {
  for (QWidget* widget : group->findChildren<QWidget*>()) {
    const bool takesTab = (widget->focusPolicy() & Qt::TabFocus) != 0;
    const bool inside = widget->parentWidget() != nullptr &&
                        (qobject_cast<QAbstractScrollArea*>(widget->parentWidget()) ||
                         qobject_cast<QLineEdit*>(widget->parentWidget()));
    if (takesTab && !inside && !widget->property("controlId").isValid()) chain.push_back(widget);
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Keyboard

void CConfigDlg::SetTabOrder() {
  std::vector<QWidget*> chain;
  for (const int id : kTabOrder) {
    if (id == kLog) {
      for (int sat = 0; sat < 32; ++sat) chain.push_back(Control(kSnrFirst + sat));
      // The station's controls sit between the GPS group and the log.
      if (m_station != nullptr) AppendUnnamedInputs(m_station, chain);
    }
    if (QWidget* widget = Control(id)) chain.push_back(widget);
    if (id == kPortName && m_portChoice != nullptr) chain.push_back(m_portChoice);
    if (id == kLog) AppendUnnamedInputs(Control(kLog)->parentWidget(), chain);
  }
  // The displays are read-only but reachable, so the keyboard and screen readers get them.
  for (QWidget* widget : chain) {
    if (widget->focusPolicy() == Qt::NoFocus || widget->focusPolicy() == Qt::ClickFocus) {
      widget->setFocusPolicy(Qt::StrongFocus);
    }
  }
  for (size_t i = 1; i < chain.size(); ++i) setTabOrder(chain[i - 1], chain[i]);
}

void CConfigDlg::InstallShortcuts() {
  for (const auto& [id, key] : kShortcuts) {
    auto* button = qobject_cast<QAbstractButton*>(Control(id));
    if (button == nullptr) continue;
    button->setProperty(kShortcutProperty, QKeySequence(Qt::ALT | key));
    button->setShortcut(QKeySequence(Qt::ALT | key));
  }
  // Read and set act on the row the focus is in, as there is one pair per row.
  auto* read = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_R), this);
  connect(read, &QShortcut::activated, this, [this] { ClickRowButton(false); });
  auto* set = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_S), this);
  connect(set, &QShortcut::activated, this, [this] { ClickRowButton(true); });
  auto* menu = new QShortcut(QKeySequence(Qt::Key_F10), this);
  connect(menu, &QShortcut::activated, this, [this] { ShowWindowMenu(mapToGlobal(QPoint())); });
}

void CConfigDlg::ClickRowButton(bool set) {
  QWidget* focus = focusWidget();
  auto* group = focus != nullptr ? qobject_cast<QGroupBox*>(focus->parentWidget()) : nullptr;
  auto* grid = group != nullptr ? qobject_cast<QGridLayout*>(group->layout()) : nullptr;
  if (grid == nullptr) return;
  const int row = RowOf(grid, focus);
  if (row < 0) return;
  for (int column = 0; column < grid->columnCount(); ++column) {
    QLayoutItem* item = grid->itemAtPosition(row, column);
    auto* button = item != nullptr ? qobject_cast<QAbstractButton*>(item->widget()) : nullptr;
    if (button == nullptr) continue;
    const int id = button->property("controlId").toInt();
    if (set ? Contains(kSetButtons, id) : Contains(kReadButtons, id)) {
      button->click();
      return;
    }
  }
}

void CConfigDlg::SetButtonCaption(QAbstractButton* button, const QString& caption) {
  // Setting the text resets the shortcut to the caption's mnemonic: the key is put back. The
  // read and set buttons share captions, so they keep none (Alt+R and Alt+S serve them).
  button->setText(caption);
  button->setAccessibleName(WithoutMnemonic(caption));
  const int id = button->property("controlId").toInt();
  const QVariant key = button->property(kShortcutProperty);
  if (key.isValid()) {
    button->setShortcut(key.value<QKeySequence>());
  } else if (Contains(kReadButtons, id) || Contains(kSetButtons, id)) {
    button->setShortcut(QKeySequence());
  }
}

void CConfigDlg::ApplyTooltips() {
  auto tipOf = [](int id) -> QString {
    for (const auto& [tipId, tip] : kTooltips) {
      if (tipId == id) return UiText(tip);
    }
    return {};
  };
  for (const auto& row : kTooltips) Control(row.id)->setToolTip(tipOf(row.id));
  for (int sat = 0; sat < 32; ++sat) Control(kSnrFirst + sat)->setToolTip(UiText(Tid::kTipSnr));
  const QString altR = ShortcutHint(QKeySequence(Qt::ALT | Qt::Key_R));
  const QString altS = ShortcutHint(QKeySequence(Qt::ALT | Qt::Key_S));
  for (const int id : kReadButtons) Control(id)->setToolTip(UiText(Tid::kTipRead) + altR);
  for (const int id : kSetButtons) Control(id)->setToolTip(UiText(Tid::kTipSet) + altS);
  // A button with a key says so; its caption stands in for a missing description.
  for (const auto& [id, key] : kShortcuts) {
    auto* button = qobject_cast<QAbstractButton*>(Control(id));
    if (button == nullptr) continue;
    const QString what = tipOf(id).isEmpty() ? WithoutMnemonic(button->text()) : tipOf(id);
    button->setToolTip(what + ShortcutHint(QKeySequence(Qt::ALT | key)));
  }
}

// ---------------------------------------------------------------------------------------
// Exit

bool CConfigDlg::IsBusyForExit() const {
  const bool sequenceRunning =
      m_station != nullptr && m_station->StationMode() && m_station->Station().Engine().Running();
  return m_state.m_saving || sequenceRunning;
}

bool CConfigDlg::ConfirmExit() {
  if (!IsBusyForExit()) return true;
  const QString question = UiText(Tid::kConfirmExitBusy);
  if (confirmExitHook) return confirmExitHook(question);
  return QMessageBox::question(this, UiText(Tid::kConfirmExitCaption), question,
                               QMessageBox::Yes | QMessageBox::No,
                               QMessageBox::No) == QMessageBox::Yes;
}

// ---------------------------------------------------------------------------------------
// Languages

void CConfigDlg::TagTranslatableTexts() {
  // Every caption that is a system text remembers which one, so a language change can
  // re-translate it, whoever built the control.
  std::map<QString, int> ids;
  for (int i = 0; i < static_cast<int>(Tid::kCount); ++i) {
    ids.emplace(UiText(static_cast<Tid>(i)), i);
  }
  for (QWidget* widget : findChildren<QWidget*>()) {
    const auto it = ids.find(VisibleText(widget));
    if (it != ids.end() && !VisibleText(widget).isEmpty()) {
      widget->setProperty(kTextIdProperty, it->second);
    }
  }
  for (Binding& binding : m_bindings)
    binding.translated = Contains(kTranslatedBindings, binding.id);
}

void CConfigDlg::Retranslate() {
  setWindowTitle(UiText(Tid::kAppTitle));
  for (QWidget* widget : findChildren<QWidget*>()) {
    const QVariant id = widget->property(kTextIdProperty);
    if (!id.isValid()) continue;
    const QString text = UiText(static_cast<Tid>(id.toInt()));
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
      SetButtonCaption(button, text);
    } else if (auto* label = qobject_cast<QLabel*>(widget)) {
      label->setText(text);
      if (QWidget* buddy = label->buddy()) buddy->setAccessibleName(WithoutMnemonic(text));
    } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
      group->setTitle(text);
    }
  }
  // The members stay as they are; only what the controls show is translated again.
  for (Binding& binding : m_bindings) {
    if (!binding.translated || !binding.cached) continue;
    binding.shown = DisplayText(binding.shownGbk);
    WriteControlText(binding.id, binding.shown);
  }
  ApplyTooltips();
  FitDisplayWidths();
}

void CConfigDlg::FitDisplayWidths() {
  for (const auto& [id, shows] : kDisplayTexts) {
    QWidget* display = Control(id);
    int widest = 0;
    for (const Tid text : shows) {
      widest = std::max(widest, display->fontMetrics().horizontalAdvance(UiText(text)));
    }
    // The frame and the edit's own text margins on both sides.
    display->setMinimumWidth(widest +
                             4 * display->style()->pixelMetric(QStyle::PM_DefaultFrameWidth) + 8);
  }
}

void CConfigDlg::changeEvent(QEvent* event) {
  if (event->type() == QEvent::LanguageChange) Retranslate();
  QDialog::changeEvent(event);
}

void CConfigDlg::AddLanguageMenu(QMenu& menu) {
  QMenu* languages = menu.addMenu(UiText(Tid::kMenuLanguage));
  auto* group = new QActionGroup(languages);
  const std::pair<UiLanguage, Tid> choices[] = {{UiLanguage::kChinese, Tid::kLanguageChinese},
                                                {UiLanguage::kEnglish, Tid::kLanguageEnglish}};
  for (const auto& [language, name] : choices) {
    QAction* action = languages->addAction(UiText(name));
    action->setCheckable(true);
    action->setChecked(CurrentLanguage() == language);
    group->addAction(action);
    connect(action, &QAction::triggered, this, [chosen = language] {
      if (ApplyLanguage(chosen)) AppSettings().SetLanguage(LanguageCode(chosen));
    });
  }
}

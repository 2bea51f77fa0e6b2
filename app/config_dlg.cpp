#include "app/config_dlg.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScopedValueRollback>
#include <QScreen>
#include <QScrollArea>
#include <QSettings>
#include <QShortcut>
#include <QSocketNotifier>
#include <QVBoxLayout>
#include <algorithm>

#include "app/about_box.h"
#include "app/control_ids.h"
#include "app/log_pane.h"
#include "app/satellite_view.h"
#include "app/settings.h"
#include "app/snr_cell.h"
#include "app/station_panel.h"
#include "app/ui_text.h"
#include "platform/gbk.h"

namespace {

constexpr int kAboutCommand = 0x10;
constexpr qsizetype kLogCharacterLimit = 52428800;
// During a flood the controls are refreshed once a frame of a 60 Hz screen, no more often.
constexpr qint64 kFrameMilliseconds = 16;
// The notice box lists at most this many texts; older ones leave it.
constexpr std::size_t kMostNoticesInBox = 8;

QString ObjectName(int id) {
  return QStringLiteral("idc_%1").arg(id);
}

// A tooltip is shown as markup whenever it looks like markup; device and process names must
// show as they are, so they go in escaped, inside a paragraph that keeps their spaces.
QString PlainToolTip(const QString& text) {
  if (text.isEmpty()) return text;
  return QStringLiteral("<p style='white-space:pre'>%1</p>").arg(text.toHtmlEscaped());
}

// The pinned port is the one thing of the connection the console remembers between runs.
const QString kPinnedPortKey = QStringLiteral("connection/pinnedPort");

QSettings ConnectionSettings() {
  return OpenSettingsStore();
}

// "COM65 (ttyACM0) · USB 1a86:7523 · serial A1B2": number, node and USB identity.
QString PortChoiceText(const ports::PortEntry& entry) {
  QString text = QString::fromStdString(entry.portName);
  if (!entry.usbVendorId.empty()) {
    text += QStringLiteral(" · USB %1:%2")
                .arg(QString::fromStdString(entry.usbVendorId),
                     QString::fromStdString(entry.usbProductId));
  }
  if (!entry.usbProduct.empty())
    text += QStringLiteral(" · ") + QString::fromStdString(entry.usbProduct);
  if (!entry.usbSerial.empty()) {
    text += QStringLiteral(" · serial ") + QString::fromStdString(entry.usbSerial);
  }
  return text;
}

}  // namespace

// The window lives in a static library: its icon resource must be registered by hand.
static void InitAppResources() {
  Q_INIT_RESOURCE(resources);
}

CConfigDlg::CConfigDlg(ConsoleEnvironment environment, QWidget* parent)
    : QDialog(parent), m_logic(m_state, *this, m_ui, std::move(environment)) {
  InitAppResources();
  setWindowTitle(UiText(texts::Id::kAppTitle));
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setWindowIcon(QIcon(QStringLiteral(":/icons/tracker-console.svg")));
  m_logic.SetPinnedPort(ConnectionSettings().value(kPinnedPortKey).toString().toStdString());
  BuildWindow();
  BindControls();
  TagTranslatableTexts();
  SetTabOrder();
  InstallShortcuts();
  ApplyTooltips();
  FitDisplayWidths();
  m_noticeTimer.setTimerType(Qt::PreciseTimer);
  connect(&m_noticeTimer, &QTimer::timeout, this, [this] { m_logic.NoticeTimerProc(); });
  m_testTimer.setSingleShot(true);
  connect(&m_testTimer, &QTimer::timeout, this, [this] { m_logic.OnTestTimerProc(); });
  m_refreshTimer.setSingleShot(true);
  m_refreshTimer.setTimerType(Qt::PreciseTimer);
  connect(&m_refreshTimer, &QTimer::timeout, this, &CConfigDlg::FlushRefresh);
  connect(&m_portWatchTimer, &QTimer::timeout, this, [this] { m_logic.OnPortWatchTimer(); });
  auto* help = new QShortcut(QKeySequence::HelpContents, this);
  connect(help, &QShortcut::activated, this, &CConfigDlg::OnAbout);
  qApp->installEventFilter(this);
  UpdateData(false);
  FitToScreen();
  // Space or Enter at start-up must not end the program or send anything.
  Control(kServerAddr)->setFocus(Qt::OtherFocusReason);
}

void CConfigDlg::FitToScreen() {
  // Room for the log pane to show a useful number of lines at first sight, within the screen;
  // on a small screen the content scrolls instead of leaving controls off screen.
  QSize wanted = m_content->sizeHint().expandedTo(QSize(1280, 900));
  if (const QScreen* screen = this->screen()) wanted = wanted.boundedTo(screen->availableSize());
  resize(wanted);
}

CConfigDlg::~CConfigDlg() {
  qApp->removeEventFilter(this);
  // The station observes the logic: it goes while the logic is still there.
  delete m_station;
  m_station = nullptr;
  m_ui.RequestQuit();
}

// ---------------------------------------------------------------------------------------
// Building the window

void CConfigDlg::Register(int id, QWidget* widget) {
  widget->setObjectName(ObjectName(id));
  widget->setProperty("controlId", id);
  m_controls[id] = widget;
}

QWidget* CConfigDlg::Control(int id) const {
  const auto it = m_controls.find(id);
  return it == m_controls.end() ? nullptr : it->second;
}

QLineEdit* CConfigDlg::AddEdit(int id, bool readOnly) {
  auto* edit = new QLineEdit(this);
  edit->setReadOnly(readOnly);
  if (readOnly) {
    // Sunken, read-only and still readable by assistive tools and copyable.
    edit->setFrame(true);
    QPalette palette = edit->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Window));
    edit->setPalette(palette);
    // Opaque: a new value repaints the field alone, not the group box behind it.
    edit->setAutoFillBackground(true);
  }
  Register(id, edit);
  return edit;
}

QAbstractButton* CConfigDlg::AddButton(int id, const QString& caption,
                                       void (ConfigLogic::*handler)(), const QString& row) {
  auto* button = new QPushButton(caption, this);
  button->setAutoDefault(false);
  button->setAccessibleName(caption);
  if (!row.isEmpty()) button->setAccessibleDescription(row);
  connect(button, &QPushButton::clicked, this, [this, handler] { (m_logic.*handler)(); });
  Register(id, button);
  return button;
}

QAbstractButton* CConfigDlg::AddWindowButton(int id, const QString& caption,
                                             void (CConfigDlg::*handler)()) {
  auto* button = new QPushButton(caption, this);
  button->setAutoDefault(false);
  button->setAccessibleName(caption);
  connect(button, &QPushButton::clicked, this, [this, handler] { (this->*handler)(); });
  Register(id, button);
  return button;
}

QCheckBox* CConfigDlg::AddCheck(int id, const QString& caption) {
  auto* check = new QCheckBox(caption, this);
  check->setAccessibleName(caption);
  Register(id, check);
  return check;
}

QLabel* CConfigDlg::AddLabel(const QString& text, QWidget* buddy) {
  auto* label = new QLabel(text, this);
  if (buddy != nullptr) {
    label->setBuddy(buddy);
    buddy->setAccessibleName(text);
  }
  return label;
}

void CConfigDlg::BuildWindow() {
  auto* top = new QHBoxLayout;
  auto* left = new QVBoxLayout;
  left->addWidget(BuildStatusGroup());
  auto* exitRow = new QHBoxLayout;
  exitRow->addWidget(AddWindowButton(kExit, UiText(texts::Id::kButtonExit), &CConfigDlg::OnExit));
  exitRow->addWidget(
      AddWindowButton(kAbout, UiText(texts::Id::kButtonAbout), &CConfigDlg::OnAbout));
  left->addLayout(exitRow);
  top->addLayout(left, 0);
  top->addWidget(BuildParamsGroup(), 1);

  auto* middle = new QHBoxLayout;
  middle->addWidget(BuildTestGroup(), 0);
  middle->addWidget(BuildGpsGroup(), 1);

  m_content = new QWidget(this);
  m_content->setObjectName(QStringLiteral("content"));
  auto* content = new QVBoxLayout(m_content);
  content->addLayout(top, 0);
  content->addLayout(middle, 0);
  m_station = new StationPanel(m_logic, m_state, *this, m_content);
  content->addWidget(m_station, 0);
  content->addWidget(BuildDebugGroup(), 1);
  // A small screen (a line-side panel PC, a laptop at 200 %) scrolls the window's content.
  auto* scroll = new QScrollArea(this);
  scroll->setObjectName(QStringLiteral("contentScroll"));
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setWidgetResizable(true);
  scroll->setWidget(m_content);
  auto* root = new QVBoxLayout(this);
  root->setContentsMargins(0, 0, 0, 0);
  root->addWidget(scroll);
}

QGroupBox* CConfigDlg::BuildStatusGroup() {
  auto* group = new QGroupBox(UiText(texts::Id::kGroupStatus), this);
  auto* grid = new QGridLayout(group);
  const std::pair<texts::Id, int> rows[] = {
      {texts::Id::kLabelPortName, kPortName},   {texts::Id::kLabelPortState, kPortState},
      {texts::Id::kLabelLinkState, kLinkState}, {texts::Id::kLabelGsmSignal, kGsmSignal},
      {texts::Id::kLabelGpsCount, kGpsCount},   {texts::Id::kLabelAgpsCount, kAgpsCount},
      {texts::Id::kLabelSim, kSimState},
  };
  int row = 0;
  for (const auto& [label, id] : rows) {
    QLineEdit* display = AddDisplay(id);
    display->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("COM127 (ttyACM31)")));
    grid->addWidget(AddLabel(UiText(label), display), row, 0);
    grid->addWidget(display, row, 1);
    ++row;
  }
  QComboBox* choice = BuildPortChoice();
  grid->addWidget(AddLabel(UiText(texts::Id::kLabelPortChoice), choice), row, 0);
  grid->addWidget(choice, row, 1);
  ++row;
  // Why a listed port could not be used: said here, never in a box, so the scan stays quiet.
  m_portProblem = new QLabel(group);
  m_portProblem->setWordWrap(true);
  m_portProblem->setObjectName(QStringLiteral("portProblem"));
  // Names of processes and devices come from anyone: never markup.
  m_portProblem->setTextFormat(Qt::PlainText);
  m_portProblem->setStyleSheet(QStringLiteral("color: #b94a48;"));
  m_portProblem->setTextInteractionFlags(Qt::TextSelectableByMouse);
  m_portProblem->hide();
  grid->addWidget(m_portProblem, row, 0, 1, 2);
  grid->setRowStretch(row + 1, 1);
  return group;
}

// Automatic (the scan chooses) or one port, remembered by its stable name.
QComboBox* CConfigDlg::BuildPortChoice() {
  m_portChoice = new QComboBox(this);
  m_portChoice->setObjectName(QStringLiteral("portChoice"));
  m_portChoice->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  // Narrow in the status column (the window must fit 1024 pixels); the list opens as wide as
  // its longest entry, and the tooltip repeats the chosen one whole.
  m_portChoice->setMinimumContentsLength(6);
  connect(m_portChoice, &QComboBox::activated, this, &CConfigDlg::OnPortChosen);
  PortListChanged();
  return m_portChoice;
}

void CConfigDlg::PortListChanged() {
  if (m_portChoice == nullptr) return;
  const QSignalBlocker quiet(m_portChoice);
  m_portChoice->clear();
  m_portChoice->addItem(UiText(texts::Id::kPortChoiceAutomatic), QString());
  for (const ports::PortEntry& entry : m_logic.LastPortList()) {
    m_portChoice->addItem(PortChoiceText(entry), QString::fromStdString(entry.stableName));
  }
  const QString pinned = QString::fromStdString(m_logic.PinnedPort());
  int index = m_portChoice->findData(pinned);
  if (index < 0) {
    // Pinned but not plugged in: still shown, so the operator sees what the console waits for.
    m_portChoice->addItem(pinned + UiText(texts::Id::kPortChoiceAbsent), pinned);
    index = m_portChoice->count() - 1;
  }
  m_portChoice->setCurrentIndex(index);
  m_portChoice->setToolTip(PlainToolTip(m_portChoice->currentText()));
  m_portChoice->view()->setMinimumWidth(m_portChoice->view()->sizeHintForColumn(0) + 24);
}

void CConfigDlg::OnPortChosen(int index) {
  const QString stableName = m_portChoice->itemData(index).toString();
  if (stableName.toStdString() == m_logic.PinnedPort()) return;
  m_logic.SetPinnedPort(stableName.toStdString());
  QSettings settings = ConnectionSettings();
  if (stableName.isEmpty()) {
    settings.remove(kPinnedPortKey);
  } else {
    settings.setValue(kPinnedPortKey, stableName);
  }
  m_logic.ScanAndConnect();
}

QGroupBox* CConfigDlg::BuildParamsGroup() {
  auto* group = new QGroupBox(UiText(texts::Id::kGroupParams), this);
  auto* grid = new QGridLayout(group);
  const QString read = UiText(texts::Id::kButtonRead);
  const QString set = UiText(texts::Id::kButtonSet);
  constexpr int kReadCol = 6;
  constexpr int kSetCol = 7;
  auto readSet = [&](int row, int readId, void (ConfigLogic::*onRead)(), int setId,
                     void (ConfigLogic::*onSet)(), const QString& rowName) {
    grid->addWidget(AddButton(readId, read, onRead, rowName), row, kReadCol);
    if (setId != 0) grid->addWidget(AddButton(setId, set, onSet, rowName), row, kSetCol);
  };
  auto labelled = [&](int row, int col, texts::Id label, int id, int span) {
    QLineEdit* edit = AddEdit(id, false);
    grid->addWidget(AddLabel(UiText(label), edit), row, col);
    grid->addWidget(edit, row, col + 1, 1, span);
    return edit;
  };

  int row = 0;
  QLineEdit* version = AddEdit(kVersion, true);
  grid->addWidget(AddLabel(UiText(texts::Id::kLabelVersion), version), row, 0);
  grid->addWidget(version, row, 1, 1, 5);
  readSet(row, kReadVersion, &ConfigLogic::OnReadVersion, 0, nullptr,
          UiText(texts::Id::kLabelVersion));

  ++row;
  auto* domainBox = new QHBoxLayout;
  QCheckBox* domain = AddCheck(kDomain, UiText(texts::Id::kCheckDomain));
  // Toggled, not clicked: an assistive tool's toggle action must do what a click does.
  connect(domain, &QCheckBox::toggled, this, [this] {
    if (!m_writingControl) m_logic.OnDomainCheck();
  });
  QLineEdit* addr = AddEdit(kServerAddr, false);
  auto* addrLabel = AddLabel(UiText(texts::Id::kAddrLabelIp), addr);
  Register(kAddrLabel, addrLabel);
  domainBox->addWidget(domain);
  domainBox->addWidget(addrLabel);
  grid->addLayout(domainBox, row, 0);
  grid->addWidget(addr, row, 1, 1, 3);
  QLineEdit* port = AddEdit(kServerPort, false);
  grid->addWidget(AddLabel(UiText(texts::Id::kLabelPort), port), row, 4);
  grid->addWidget(port, row, 5);
  readSet(row, kReadAddr, &ConfigLogic::OnReadAddress, kSetAddr, &ConfigLogic::OnSetAddress,
          UiText(texts::Id::kAddrLabelIp));

  ++row;
  labelled(row, 0, texts::Id::kLabelImei, kImei, 5);
  readSet(row, kReadImei, &ConfigLogic::OnReadImei, kSetImei, &ConfigLogic::OnSetImei,
          UiText(texts::Id::kLabelImei));

  ++row;
  labelled(row, 0, texts::Id::kLabelCenterNumber, kCenterNumber, 1);
  labelled(row, 2, texts::Id::kLabelSlaveNumber, kSlaveNumber, 3);
  readSet(row, kReadNumbers, &ConfigLogic::OnReadNumbers, kSetNumbers, &ConfigLogic::OnSetNumbers,
          UiText(texts::Id::kLabelCenterNumber));

  ++row;
  QLineEdit* language = AddEdit(kLanguage, false);
  auto* languageBox = new QHBoxLayout;
  languageBox->addWidget(language, 1);
  languageBox->addWidget(new QLabel(UiText(texts::Id::kLanguageHint), this));
  grid->addWidget(AddLabel(UiText(texts::Id::kLabelLanguage), language), row, 0);
  grid->addLayout(languageBox, row, 1);
  labelled(row, 2, texts::Id::kLabelZone, kZone, 3);
  readSet(row, kReadLanguage, &ConfigLogic::OnReadLanguage, kSetLanguage,
          &ConfigLogic::OnSetLanguage, UiText(texts::Id::kLabelLanguage));

  ++row;
  labelled(row, 0, texts::Id::kLabelSos1, kSos1, 1);
  labelled(row, 2, texts::Id::kLabelSos2, kSos2, 1);
  labelled(row, 4, texts::Id::kLabelSos3, kSos3, 1);
  readSet(row, kReadSos, &ConfigLogic::OnReadSos, kSetSos, &ConfigLogic::OnSetSos,
          QStringLiteral("SOS"));

  ++row;
  labelled(row, 0, texts::Id::kLabelMonitor, kMonitorNumber, 5);
  readSet(row, kReadMonitor, &ConfigLogic::OnReadMonitor, kSetMonitor, &ConfigLogic::OnSetMonitor,
          UiText(texts::Id::kLabelMonitor));

  ++row;
  labelled(row, 0, texts::Id::kLabelUpload, kUploadInterval, 5);
  readSet(row, kReadUpload, &ConfigLogic::OnReadUpload, kSetUpload, &ConfigLogic::OnSetUpload,
          UiText(texts::Id::kLabelUpload));

  ++row;
  labelled(row, 0, texts::Id::kLabelSendCommand, kSendText, 5);
  grid->addWidget(AddButton(kSend, UiText(texts::Id::kButtonSend), &ConfigLogic::OnSend), row,
                  kReadCol);
  grid->addWidget(
      AddWindowButton(kClearCommand, UiText(texts::Id::kButtonClear), &CConfigDlg::OnClearCommand),
      row, kSetCol);

  auto* hint = new QLabel(UiText(texts::Id::kCommandHint), this);
  hint->setAlignment(Qt::AlignTop | Qt::AlignLeft);
  hint->setTextInteractionFlags(Qt::TextSelectableByMouse);
  grid->addWidget(hint, 0, 8, row, 1);
  grid->setColumnStretch(1, 2);
  grid->setColumnStretch(3, 1);
  grid->setColumnStretch(5, 1);
  return group;
}

QGroupBox* CConfigDlg::BuildTestGroup() {
  auto* group = new QGroupBox(UiText(texts::Id::kGroupTest), this);
  auto* grid = new QGridLayout(group);
  QCheckBox* start = AddCheck(kStartTest, UiText(texts::Id::kCheckStartTest));
  connect(start, &QCheckBox::toggled, this, [this] {
    if (!m_writingControl) m_logic.OnStartTest();
  });
  grid->addWidget(start, 0, 0, 1, 2);
  const std::pair<int, texts::Id> results[] = {
      {kGsmOk, texts::Id::kTestGsm}, {kGpsOk, texts::Id::kTestGps}, {kKeyOk, texts::Id::kTestKey}};
  int row = 1;
  for (const auto& [id, label] : results) {
    QCheckBox* box = AddCheck(id, QString());
    box->setEnabled(false);
    grid->addWidget(box, row, 0);
    grid->addWidget(AddLabel(UiText(label), box), row, 1);
    ++row;
  }
  QLineEdit* result = AddDisplay(kTestResult);
  grid->addWidget(AddLabel(UiText(texts::Id::kLabelTestResult), result), row, 0, 1, 2);
  grid->addWidget(result, row, 2);
  grid->setColumnStretch(2, 1);
  return group;
}

QGroupBox* CConfigDlg::BuildGpsGroup() {
  auto* group = new QGroupBox(UiText(texts::Id::kGroupGps), this);
  auto* layout = new QVBoxLayout(group);
  auto* values = new QGridLayout;
  const std::pair<texts::Id, int> cells[] = {
      {texts::Id::kLabelLongitude, kLongitude}, {texts::Id::kLabelLatitude, kLatitude},
      {texts::Id::kLabelGpsTime, kGpsTime},     {texts::Id::kLabelSatsUsed, kSatsUsed},
      {texts::Id::kLabelFixState, kFixState},   {texts::Id::kLabelAltitude, kAltitude},
      {texts::Id::kLabelFixType, kFixType},
  };
  int index = 0;
  for (const auto& [label, id] : cells) {
    QLineEdit* display = AddDisplay(id);
    const int row = index / 4;
    const int col = (index % 4) * 2;
    values->addWidget(AddLabel(UiText(label), display), row, col);
    values->addWidget(display, row, col + 1);
    ++index;
  }
  m_indicator = new QRadioButton(UiText(texts::Id::kGpsIndicator), this);
  m_indicator->setAutoExclusive(false);
  // An indicator, not an input: the parser sets it, clicks do not.
  m_indicator->setAttribute(Qt::WA_TransparentForMouseEvents);
  m_indicator->setFocusPolicy(Qt::NoFocus);
  m_indicator->setAutoFillBackground(true);  // its blink repaints it alone
  m_indicator->setAccessibleName(UiText(texts::Id::kGpsIndicator));
  Register(kIndicator, m_indicator);
  values->addWidget(m_indicator, 1, 6, 1, 2);
  BuildGnssRow(values, 2);
  layout->addLayout(values);

  auto* signal = new QGridLayout;
  signal->setHorizontalSpacing(2);
  signal->setVerticalSpacing(0);
  signal->addWidget(new QLabel(UiText(texts::Id::kLabelSignal), this), 1, 0);
  for (int sat = 1; sat <= 32; ++sat) {
    auto* header = new QLabel(QStringLiteral("%1").arg(sat, 2, 10, QLatin1Char('0')), this);
    header->setAlignment(Qt::AlignCenter);
    auto* cell = new SnrCell(sat, this);
    header->setBuddy(cell);
    Register(kSnrFirst + sat - 1, cell);
    signal->addWidget(header, 0, sat);
    signal->addWidget(cell, 1, sat);
  }
  layout->addLayout(signal);
  return group;
}

// DOPs, date, speed, course and time to first fix in two more rows of the values' grid, and
// the button that opens every satellite in view beside the window (the group has no width to
// spare for it): the window stays within 1024 pixels.
void CConfigDlg::BuildGnssRow(QGridLayout* grid, int firstRow) {
  const std::pair<texts::Id, int> cells[] = {
      {texts::Id::kLabelHdop, kHdop},   {texts::Id::kLabelVdop, kVdop},
      {texts::Id::kLabelPdop, kPdop},   {texts::Id::kLabelGpsDate, kGpsDate},
      {texts::Id::kLabelSpeed, kSpeed}, {texts::Id::kLabelCourse, kCourse},
      {texts::Id::kLabelTtff, kTtff},
  };
  int index = 0;
  for (const auto& [label, id] : cells) {
    QLineEdit* display = AddDisplay(id);
    display->setMinimumWidth(fontMetrics().horizontalAdvance(
        id == kGpsDate ? QStringLiteral("0000-00-00  ") : QStringLiteral("00000.0")));
    grid->addWidget(AddLabel(UiText(label), display), firstRow + index / 4, (index % 4) * 2);
    grid->addWidget(display, firstRow + index / 4, (index % 4) * 2 + 1);
    ++index;
  }
  auto* toggle = new QPushButton(UiText(texts::Id::kButtonSatelliteView), this);
  toggle->setCheckable(true);
  toggle->setAutoDefault(false);
  toggle->setAccessibleName(UiText(texts::Id::kButtonSatelliteView));
  Register(kSatelliteViewButton, toggle);
  m_satelliteView = new SatelliteView(this);
  m_satelliteView->onClosed = [toggle] { toggle->setChecked(false); };
  connect(toggle, &QPushButton::toggled, this, [this](bool open) {
    if (open) {
      m_satelliteView->OpenBeside(this);
    } else {
      m_satelliteView->hide();
    }
  });
  grid->addWidget(toggle, firstRow + 1, 6, 1, 2);
}

QGroupBox* CConfigDlg::BuildDebugGroup() {
  auto* group = new QGroupBox(UiText(texts::Id::kGroupDebug), this);
  auto* layout = new QVBoxLayout(group);
  m_log = new LogPane(this);
  m_log->setAccessibleName(UiText(texts::Id::kGroupDebug));
  m_log->setMinimumHeight(fontMetrics().lineSpacing() * 8);
  Register(kLog, m_log);
  layout->addWidget(m_log, 1);
  layout->addWidget(BuildLogSearch());
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(BuildLogOptions());
  buttons->addStretch(1);
  buttons->addWidget(AddButton(kSave, UiText(texts::Id::kSaveToFile), &ConfigLogic::OnSaveToFile));
  buttons->addWidget(
      AddButton(kPause, UiText(texts::Id::kPauseDisplay), &ConfigLogic::OnPauseDisplay));
  buttons->addWidget(AddButton(kClearDisplay, UiText(texts::Id::kButtonClearDisplay),
                               &ConfigLogic::OnClearDisplay));
  layout->addLayout(buttons);
  return group;
}

QWidget* CConfigDlg::BuildLogOptions() {
  auto* box = new QWidget(this);
  auto* row = new QHBoxLayout(box);
  row->setContentsMargins(0, 0, 0, 0);
  auto add = [&](QCheckBox*& check, texts::Id caption, const char* name) {
    check = new QCheckBox(UiText(caption), box);
    check->setObjectName(QString::fromLatin1(name));
    check->setAccessibleName(UiText(caption));
    connect(check, &QCheckBox::toggled, this, &CConfigDlg::ApplyLogOptions);
    row->addWidget(check);
  };
  add(m_showNmea, texts::Id::kLogShowNmea, "logShowNmea");
  add(m_dateAndMs, texts::Id::kLogDateAndMs, "logDateAndMs");
  add(m_extrasInFile, texts::Id::kLogExtrasInFile, "logExtrasInFile");
  add(m_hexView, texts::Id::kLogHexView, "logHexView");
  return box;
}

QWidget* CConfigDlg::BuildLogSearch() {
  m_searchRow = new QWidget(this);
  auto* row = new QHBoxLayout(m_searchRow);
  row->setContentsMargins(0, 0, 0, 0);
  m_searchEdit = new QLineEdit(m_searchRow);
  m_searchEdit->setObjectName(QStringLiteral("logSearch"));
  m_searchEdit->setClearButtonEnabled(true);
  row->addWidget(AddLabel(UiText(texts::Id::kLogFindLabel), m_searchEdit));
  row->addWidget(m_searchEdit, 1);
  auto button = [&](texts::Id caption, bool forward) {
    auto* b = new QPushButton(UiText(caption), m_searchRow);
    b->setAutoDefault(false);
    b->setAccessibleName(UiText(caption));
    connect(b, &QPushButton::clicked, this, [this, forward] { FindInLog(forward); });
    row->addWidget(b);
  };
  button(texts::Id::kLogFindPrevious, false);
  button(texts::Id::kLogFindNext, true);
  m_searchStatus = new QLabel(m_searchRow);
  m_searchStatus->setObjectName(QStringLiteral("logSearchStatus"));
  row->addWidget(m_searchStatus);
  connect(m_searchEdit, &QLineEdit::textChanged, this, [this](const QString& term) {
    m_log->SetSearchTerm(term);
    m_searchStatus->clear();
  });
  m_searchRow->hide();
  auto shortcut = [this](QKeySequence::StandardKey key, auto handler) {
    auto* s = new QShortcut(QKeySequence(key), this);
    connect(s, &QShortcut::activated, this, handler);
  };
  shortcut(QKeySequence::Find, [this] { ShowLogSearch(); });
  shortcut(QKeySequence::FindNext, [this] { FindInLog(true); });
  shortcut(QKeySequence::FindPrevious, [this] { FindInLog(false); });
  return m_searchRow;
}

void CConfigDlg::ShowLogSearch() {
  m_searchRow->show();
  m_searchEdit->setFocus(Qt::ShortcutFocusReason);
  m_searchEdit->selectAll();
}

void CConfigDlg::FindInLog(bool forward) {
  if (m_searchEdit->text().isEmpty()) {
    ShowLogSearch();
    return;
  }
  const bool found = m_log->Find(forward);
  m_searchStatus->setText(found ? QString() : UiText(texts::Id::kLogNotFound));
}

// Enter finds the next match (Shift+Enter the previous), Esc closes the search row.
bool CConfigDlg::HandleSearchKey(QObject* watched, int key, Qt::KeyboardModifiers modifiers) {
  if (watched != m_searchEdit) return false;
  if (key == Qt::Key_Return || key == Qt::Key_Enter) {
    FindInLog(!(modifiers & Qt::ShiftModifier));
    return true;
  }
  if (key == Qt::Key_Escape) {
    m_searchEdit->clear();
    m_searchRow->hide();
    m_log->setFocus();
    return true;
  }
  return false;
}

void CConfigDlg::ApplyLogOptions() {
  loglines::LogOptions options;
  options.showNmea = m_showNmea->isChecked();
  options.dateAndMilliseconds = m_dateAndMs->isChecked();
  options.extrasInFile = m_extrasInFile->isChecked();
  m_logic.SetLogOptions(options);
  m_log->SetHexView(m_hexView->isChecked());
}

void CConfigDlg::SetLogOptions(const loglines::LogOptions& options) {
  m_showNmea->setChecked(options.showNmea);
  m_dateAndMs->setChecked(options.dateAndMilliseconds);
  m_extrasInFile->setChecked(options.extrasInFile);
  ApplyLogOptions();
}

bool CConfigDlg::LogHexView() const {
  return m_hexView->isChecked();
}

void CConfigDlg::SetLogHexView(bool on) {
  m_hexView->setChecked(on);
}

void CConfigDlg::BindControls() {
  DialogState& s = m_state;
  auto text = [this](int id, std::string& member) {
    Binding binding;
    binding.id = id;
    binding.text = &member;
    m_bindings.push_back(binding);
  };
  auto flag = [this](int id, bool& member) {
    Binding binding;
    binding.id = id;
    binding.flag = &member;
    m_bindings.push_back(binding);
  };
  // In the order of one data-exchange pass.
  text(kSendText, s.m_sendText);
  text(kServerAddr, s.m_serverAddr);
  text(kImei, s.m_imei);
  text(kVersion, s.m_version);
  text(kServerPort, s.m_serverPort);
  flag(kDomain, s.m_useDomain);
  flag(kStartTest, s.m_testEnabled);
  flag(kGsmOk, s.m_gsmOk);
  flag(kGpsOk, s.m_gpsOk);
  flag(kKeyOk, s.m_keyOk);
  text(kPortState, s.m_portState);
  for (int i = 0; i < 32; ++i) text(kSnrFirst + i, s.m_snr[static_cast<size_t>(i)]);
  text(kLongitude, s.m_longitude);
  text(kLatitude, s.m_latitude);
  text(kGpsTime, s.m_gpsTime);
  text(kSatsUsed, s.m_satsUsed);
  text(kFixState, s.m_fixState);
  text(kFixType, s.m_fixType);
  text(kAltitude, s.m_altitude);
  text(kHdop, s.m_hdop);
  text(kVdop, s.m_vdop);
  text(kPdop, s.m_pdop);
  text(kGpsDate, s.m_gpsDate);
  text(kSpeed, s.m_speed);
  text(kCourse, s.m_course);
  text(kTtff, s.m_ttff);
  text(kPortName, s.m_portName);
  text(kAddrLabel, s.m_addrLabel);
  text(kPause, s.m_pauseCaption);
  text(kLinkState, s.m_linkState);
  text(kTestResult, s.m_testResult);
  text(kSave, s.m_saveCaption);
  text(kCenterNumber, s.m_centerNumber);
  text(kLanguage, s.m_language);
  text(kMonitorNumber, s.m_monitorNumber);
  text(kUploadInterval, s.m_uploadInterval);
  text(kSos1, s.m_sos1);
  text(kSos2, s.m_sos2);
  text(kSos3, s.m_sos3);
  text(kSlaveNumber, s.m_slaveNumber);
  text(kZone, s.m_zone);
  text(kGsmSignal, s.m_gsmSignal);
  text(kGpsCount, s.m_gpsCount);
  text(kAgpsCount, s.m_agpsCount);
  text(kSimState, s.m_simState);
  WatchEdits();
}

void CConfigDlg::WatchEdits() {
  for (std::size_t i = 0; i < m_bindings.size(); ++i) {
    auto* edit = qobject_cast<QLineEdit*>(Control(m_bindings[i].id));
    if (edit == nullptr || m_bindings[i].text == nullptr) continue;
    m_bindings[i].edit = edit;
    // Any change the exchange did not make itself: the operator typed, pasted, or a test set it.
    connect(edit, &QLineEdit::textChanged, this, [this, i] {
      if (!m_writingControl) m_bindings[i].edited = true;
    });
  }
}

// ---------------------------------------------------------------------------------------
// Data exchange

QString CConfigDlg::ReadControlText(int id) const {
  QWidget* widget = Control(id);
  if (auto* edit = qobject_cast<QLineEdit*>(widget)) return edit->text();
  if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
  if (auto* button = qobject_cast<QAbstractButton*>(widget)) return button->text();
  return {};
}

void CConfigDlg::WriteControlText(int id, const QString& text) {
  QWidget* widget = Control(id);
  if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
    const QScopedValueRollback<bool> writing(m_writingControl, true);
    edit->setText(text);
    edit->setCursorPosition(0);
  } else if (auto* label = qobject_cast<QLabel*>(widget)) {
    label->setText(text);
    // The edit this label names is announced by the new label.
    if (QWidget* buddy = label->buddy()) buddy->setAccessibleName(text);
  } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
    SetButtonCaption(button, text);
  }
}

// Controls to member. A control nobody changed since the last exchange shows (or is about to
// show) the member as exchanged then: no need to read it back.
void CConfigDlg::TakeText(Binding& binding) {
  const bool changedHere = binding.edit != nullptr && binding.edited;
  if (binding.exchanged && !changedHere) {
    if (*binding.text != binding.exchangedGbk) *binding.text = binding.exchangedGbk;
    return;
  }
  binding.edited = false;
  const QString now = ReadControlText(binding.id);
  // Unchanged since we wrote it: keep the exact bytes, even ones GBK-to-Unicode could not
  // carry back (device garbage in a field must not turn into '?').
  if (!binding.cached || now != binding.shown) {
    binding.shownGbk = gbk::FromUtf8(now.toStdString());
    binding.shown = now;
    binding.cached = true;
  }
  *binding.text = binding.shownGbk;
  binding.exchangedGbk = binding.shownGbk;
  binding.exchanged = true;
}

void CConfigDlg::ExchangeText(Binding& binding, bool saveAndValidate) {
  if (saveAndValidate) {
    TakeText(binding);
    return;
  }
  const bool memberChanged = !binding.exchanged || *binding.text != binding.exchangedGbk;
  // What the operator typed since the last exchange stays, unless the member itself changed
  // meanwhile (a value read on the operator's request).
  if (!memberChanged) return;
  binding.edited = false;
  binding.exchangedGbk = *binding.text;
  binding.exchanged = true;
}

// Member to control, at most once a frame: converts and writes only what changed, and never
// into an edit box the operator is typing in.
void CConfigDlg::ShowText(Binding& binding) {
  if (binding.edited || !binding.exchanged) return;
  if (!binding.cached || binding.exchangedGbk != binding.shownGbk) {
    binding.shown = binding.translated ? DisplayText(binding.exchangedGbk)
                                       : QString::fromStdString(gbk::ToUtf8(binding.exchangedGbk));
    binding.shownGbk = binding.exchangedGbk;
    binding.cached = true;
  }
  if (ReadControlText(binding.id) != binding.shown) WriteControlText(binding.id, binding.shown);
}

void CConfigDlg::ExchangeFlag(Binding& binding, bool saveAndValidate) {
  auto* check = qobject_cast<QAbstractButton*>(Control(binding.id));
  if (check == nullptr) return;
  if (saveAndValidate) {
    *binding.flag = check->isChecked();
  } else if (check->isChecked() != *binding.flag) {
    const QScopedValueRollback<bool> writing(m_writingControl, true);
    check->setChecked(*binding.flag);
  }
}

void CConfigDlg::UpdateData(bool saveAndValidate) {
  if (!saveAndValidate && m_receiveDepth > 0) {
    // One exchange at the chunk's end serves every refresh asked for during it: the operator
    // cannot type meanwhile, and a flood asks for many.
    m_exchangePending = true;
    return;
  }
  if (m_exchangePending) ExchangeToControls();
  for (Binding& binding : m_bindings) {
    if (binding.text != nullptr) {
      ExchangeText(binding, saveAndValidate);
    } else {
      ExchangeFlag(binding, saveAndValidate);
    }
  }
  if (!saveAndValidate) ScheduleRefresh();
}

void CConfigDlg::ExchangeToControls() {
  m_exchangePending = false;
  for (Binding& binding : m_bindings) {
    if (binding.text != nullptr) {
      ExchangeText(binding, false);
    } else {
      ExchangeFlag(binding, false);
    }
  }
  ScheduleRefresh();
}

void CConfigDlg::ReceiveEnded() {
  if (m_receiveDepth == 1 && m_exchangePending) ExchangeToControls();
  --m_receiveDepth;
}

// Inside a received chunk the screen waits for the frame's refresh; anywhere else (a button,
// a timer, the scan) it follows at once.
void CConfigDlg::ScheduleRefresh() {
  if (m_receiveDepth <= 0) {
    FlushRefresh();
  } else if (!m_refreshTimer.isActive()) {
    // The frame's refresh: a frame after the last one, at once when that is long ago.
    const qint64 since = m_lastRefresh.isValid() ? m_lastRefresh.elapsed() : kFrameMilliseconds;
    m_refreshTimer.start(
        static_cast<int>(std::clamp<qint64>(kFrameMilliseconds - since, 0, kFrameMilliseconds)));
  }
}

void CConfigDlg::FlushRefresh() {
  m_refreshTimer.stop();
  m_lastRefresh.start();
  for (Binding& binding : m_bindings) {
    if (binding.text != nullptr) ShowText(binding);
  }
  if (m_indicator->isChecked() != m_indicatorOn) m_indicator->setChecked(m_indicatorOn);
  m_satelliteView->SetSatellites(m_state.m_satellites);
  ShowWaitingNotices();
}

// ---------------------------------------------------------------------------------------
// Start-up, window commands, shut-down

void CConfigDlg::OnInitDialog() {
  m_log->SetCharacterLimit(kLogCharacterLimit);
  m_logic.OnInitDialog();
  WatchDeviceNotices();
}

void CConfigDlg::WatchDeviceNotices() {
  const int fd = m_logic.DeviceNoticeFd();
  if (fd < 0 || m_noticeNotifier != nullptr) return;
  m_noticeNotifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
  connect(m_noticeNotifier, &QSocketNotifier::activated, this,
          [this] { m_logic.OnDeviceNoticesReadable(); });
}

void CConfigDlg::OnSysCommand(unsigned nID) {
  if ((nID & 0xFFF0U) == kAboutCommand) OnAbout();
}

void CConfigDlg::OnAbout() {
  CAboutBox about(this);
  about.exec();
}

void CConfigDlg::OnClearCommand() {
  m_logic.OnClearCommand();
}

void CConfigDlg::OnExit() {
  if (!ConfirmExit()) return;
  m_logic.OnExit();
  RequestQuit();
}

void CConfigDlg::RequestQuit() {
  m_ui.RequestQuit();
  hide();
  QCoreApplication::quit();
}

void CConfigDlg::reject() {
  if (ConfirmExit()) RequestQuit();
}

void CConfigDlg::closeEvent(QCloseEvent* event) {
  if (!m_ui.QuitRequested() && !ConfirmExit()) {
    event->ignore();
    return;
  }
  RequestQuit();
  event->accept();
}

void CConfigDlg::contextMenuEvent(QContextMenuEvent* event) {
  ShowWindowMenu(event->globalPos());
}

void CConfigDlg::ShowWindowMenu(const QPoint& globalPos) {
  // Linux window managers give an application no system menu of its own; the About entry
  // lives in the window's context menu instead (F10 opens it from the keyboard).
  QMenu menu(this);
  QAction* about = menu.addAction(UiText(texts::Id::kAboutMenuItem));
  connect(about, &QAction::triggered, this, [this] { OnSysCommand(kAboutCommand); });
  menu.addSeparator();
  AddLanguageMenu(menu);
  menu.exec(globalPos);
}

bool CConfigDlg::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress) return QDialog::eventFilter(watched, event);
  auto* widget = qobject_cast<QWidget*>(watched);
  if (widget == nullptr || widget->window() != this) return QDialog::eventFilter(watched, event);
  const auto* keyEvent = static_cast<QKeyEvent*>(event);
  const int key = keyEvent->key();
  if (HandleSearchKey(watched, key, keyEvent->modifiers())) return true;
  if (key == Qt::Key_Return || key == Qt::Key_Enter) {
    // Enter in the IMEI box sets the IMEI; anywhere else in the window it does nothing (no
    // default button), and Esc never closes the window.
    if (widget == Control(kImei)) m_logic.OnSetImei();
    return true;
  }
  if (key == Qt::Key_Escape) return true;
  return QDialog::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------------------
// DialogSurface

void CConfigDlg::MessageBox(const std::string& gbkText, MessageIcon icon,
                            const std::string& gbkCaption) {
  FlushRefresh();
  const QString text = QString::fromStdString(gbk::ToUtf8(gbkText));
  const QString caption = QString::fromStdString(gbk::ToUtf8(gbkCaption));
  if (messageBoxHook) {
    messageBoxHook(text, icon, caption);
    return;
  }
  QMessageBox::Icon qtIcon = QMessageBox::NoIcon;
  if (icon == MessageIcon::kExclamation) qtIcon = QMessageBox::Warning;
  if (icon == MessageIcon::kError) qtIcon = QMessageBox::Critical;
  QMessageBox box(qtIcon, caption, text, QMessageBox::Ok, isVisible() ? this : nullptr);
  box.button(QMessageBox::Ok)->setText(UiText(texts::Id::kOk));
  box.exec();
}

// Not modal: Exit and the close box keep working while it is open, and a chatty tracker
// adds to its list instead of piling boxes on the screen. Closing it empties the list.
void CConfigDlg::ShowNotice(const std::string& gbkText, const std::string& gbkCaption) {
  m_waitingNotices.emplace_back(QString::fromStdString(gbk::ToUtf8(gbkText)),
                                QString::fromStdString(gbk::ToUtf8(gbkCaption)));
  // A notice opens with the fields it speaks of showing their new values: during a flood with
  // the frame's refresh, else now.
  if (!m_refreshTimer.isActive()) FlushRefresh();
}

void CConfigDlg::ShowWaitingNotices() {
  if (m_waitingNotices.empty()) return;
  std::vector<std::pair<QString, QString>> notices;
  notices.swap(m_waitingNotices);
  if (messageBoxHook) {
    for (const auto& [text, caption] : notices) messageBoxHook(text, MessageIcon::kNone, caption);
    return;
  }
  if (m_noticeBox == nullptr) {
    m_noticeBox = new QMessageBox(QMessageBox::NoIcon, QString(), QString(), QMessageBox::Ok, this);
    m_noticeBox->setObjectName(QStringLiteral("noticeBox"));
    m_noticeBox->setWindowModality(Qt::NonModal);
    m_noticeBox->button(QMessageBox::Ok)->setText(UiText(texts::Id::kOk));
    connect(m_noticeBox, &QDialog::finished, this, [this] { m_notices.clear(); });
  }
  for (const auto& notice : notices) AddNotice(notice.first);
  m_noticeBox->setWindowTitle(notices.back().second);
  m_noticeBox->setText(NoticeBoxText());
  m_noticeBox->show();
  m_noticeBox->raise();
  m_noticeBox->activateWindow();
}

// Newest last; a text already listed moves to the end with its count raised.
void CConfigDlg::AddNotice(const QString& text) {
  int count = 1;
  const auto same = std::find_if(m_notices.begin(), m_notices.end(),
                                 [&text](const auto& notice) { return notice.first == text; });
  if (same != m_notices.end()) {
    count += same->second;
    m_notices.erase(same);
  }
  m_notices.emplace_back(text, count);
  if (m_notices.size() > kMostNoticesInBox) m_notices.erase(m_notices.begin());
}

QString CConfigDlg::NoticeBoxText() const {
  QStringList lines;
  for (const auto& [text, count] : m_notices) {
    lines << (count > 1 ? QStringLiteral("%1 (×%2)").arg(text).arg(count) : text);
  }
  return lines.join(QLatin1Char('\n'));
}

void CConfigDlg::StartNoticeTimer(int milliseconds) {
  m_noticeTimer.start(milliseconds);
}

void CConfigDlg::KillNoticeTimer() {
  m_noticeTimer.stop();
}

void CConfigDlg::StartTestTimer(int milliseconds) {
  m_testTimer.start(milliseconds);
}

void CConfigDlg::StartPortWatchTimer(int milliseconds) {
  m_portWatchTimer.start(milliseconds);
}

void CConfigDlg::KillTestTimer() {
  m_testTimer.stop();
}

void CConfigDlg::ShowStatusLine(const std::string& gbkText) {
  m_station->ShowStatusLine(QString::fromStdString(gbk::ToUtf8(gbkText)));
}

void CConfigDlg::AppendToLogPane(const std::string& gbkText) {
  m_log->AppendBatch(gbkText);
}

void CConfigDlg::AppendSentToLogPane(const std::string& gbkLine) {
  m_log->AppendBatch(gbkLine, logstore::LineKind::kSent);
}

std::string CConfigDlg::LogPaneText() {
  // The bytes as they came, so a recording holds what the device sent, even bytes that are
  // not GBK.
  return m_log->GbkText();
}

void CConfigDlg::ClearLogPane() {
  m_log->ClearAll();
}

void CConfigDlg::SetUpdateIndicator(bool on) {
  m_indicatorOn = on;
  ScheduleRefresh();
}

std::optional<std::string> CConfigDlg::AskLogFileName() {
  std::optional<QString> chosen;
  if (saveFileHook) {
    chosen = saveFileHook();
  } else {
    QFileDialog dialog(this);
    AppSettings settings;
    if (!settings.LastFolder().isEmpty()) dialog.setDirectory(settings.LastFolder());
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("txt"));
    dialog.setNameFilter(UiText(texts::Id::kTxtFilter));
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
      chosen = dialog.selectedFiles().constFirst();
      settings.SetLastFolder(dialog.directory().absolutePath());
    }
  }
  if (!chosen || chosen->isEmpty()) return std::nullopt;
  return QFile::encodeName(*chosen).toStdString();
}

void CConfigDlg::ShowPortProblem(const std::string& gbkText) {
  m_portProblem->setText(QString::fromStdString(gbk::ToUtf8(gbkText)));
  m_portProblem->setVisible(!gbkText.empty());
}

void CConfigDlg::ShowPortDetails(const std::string& utf8Text) {
  QWidget* portName = Control(kPortName);
  portName->setToolTip(PlainToolTip(QString::fromStdString(utf8Text)));
  portName->setAccessibleDescription(QString::fromStdString(utf8Text));
}

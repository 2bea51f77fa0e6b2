#pragma once
// CConfigDlg: the console's one main window. It lays out the five groups with their controls
// (each known by its control id), binds them to DialogState with UpdateData, routes every
// control to its handler in ConfigLogic, and implements DialogSurface for it.

#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "app/qt_ui_dispatcher.h"
#include "device/config_logic.h"
#include "device/dialog_state.h"
#include "device/dialog_surface.h"

class QAbstractButton;
class QCheckBox;
class QGridLayout;
class QComboBox;
class QMessageBox;
class QGroupBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QMenu;
class QRadioButton;
class QSocketNotifier;
class LogPane;
class SatelliteView;
class StationPanel;

class CConfigDlg final : public QDialog, public DialogSurface {
  Q_OBJECT
 public:
  explicit CConfigDlg(ConsoleEnvironment environment = {}, QWidget* parent = nullptr);
  ~CConfigDlg() override;

  // The dialog's initialisation after it is shown: icon, log limit, then the logic's start-up
  // (device notices, port count, first scan).
  void OnInitDialog();

  // Handlers of this window.
  void OnSysCommand(unsigned nID);
  void OnAbout();
  void OnExit();
  void OnClearCommand();
  void OnPortData(const RxSlot& slot, int portNumber) { m_logic.OnPortData(slot, portNumber); }

  // DialogSurface
  void UpdateData(bool saveAndValidate) override;
  void MessageBox(const std::string& gbkText, MessageIcon icon,
                  const std::string& gbkCaption) override;
  void StartNoticeTimer(int milliseconds) override;
  void KillNoticeTimer() override;
  void AppendToLogPane(const std::string& gbkText) override;
  void AppendSentToLogPane(const std::string& gbkLine) override;
  std::string LogPaneText() override;
  void ClearLogPane() override;
  void SetUpdateIndicator(bool on) override;
  std::optional<std::string> AskLogFileName() override;
  void ShowPortProblem(const std::string& gbkText) override;
  void ShowPortDetails(const std::string& utf8Text) override;
  void ShowNotice(const std::string& gbkText, const std::string& gbkCaption) override;
  void PortListChanged() override;
  void ShowStatusLine(const std::string& gbkText) override;
  void StartTestTimer(int milliseconds) override;
  void KillTestTimer() override;
  void ReceiveStarted() override { ++m_receiveDepth; }
  void ReceiveEnded() override;

  // Brings every control up to its member now (a refresh during a received chunk waits for
  // the next frame).
  void FlushRefresh();
  void StartPortWatchTimer(int milliseconds) override;

  // The widget of a control id (nullptr if none).
  [[nodiscard]] QWidget* Control(int id) const;
  [[nodiscard]] DialogState& State() { return m_state; }
  [[nodiscard]] ConfigLogic& Logic() { return m_logic; }
  [[nodiscard]] LogPane* Log() const { return m_log; }
  [[nodiscard]] QtUiDispatcher& Dispatcher() { return m_ui; }
  [[nodiscard]] QLabel* PortProblemLabel() const { return m_portProblem; }
  [[nodiscard]] QComboBox* PortChoice() const { return m_portChoice; }
  [[nodiscard]] SatelliteView* SatellitePanel() const { return m_satelliteView; }
  [[nodiscard]] StationPanel* Station() const { return m_station; }

  // Tests replace the modal parts: a box is reported instead of shown, the Save As answer is
  // scripted. Without hooks the real dialogs open.
  std::function<void(const QString& text, MessageIcon icon, const QString& caption)> messageBoxHook;
  std::function<std::optional<QString>()> saveFileHook;

  // The log pane's options as the operator set them (for remembering them between runs).
  [[nodiscard]] loglines::LogOptions LogOptions() const { return m_logic.LogOptions(); }
  void SetLogOptions(const loglines::LogOptions& options);
  [[nodiscard]] bool LogHexView() const;
  void SetLogHexView(bool on);
  // Ctrl+F: the search row under the log, with the focus in it.
  void ShowLogSearch();

  // Ends the program by any path (Exit, close box, SIGTERM): nested waits return at once.
  void RequestQuit();

  // Whether ending now would interrupt work (a recording, a station sequence): Exit and the
  // close box then ask first. SIGTERM never asks.
  [[nodiscard]] bool IsBusyForExit() const;
  // Tests answer the exit question instead of a box (true: exit).
  std::function<bool(const QString& question)> confirmExitHook;

  // The window menu (About, interface language), at a screen position.
  void ShowWindowMenu(const QPoint& globalPos);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void changeEvent(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  struct Binding {
    int id = 0;
    std::string* text = nullptr;  // a text control
    bool* flag = nullptr;         // a check box
    // What the control showed when last exchanged, to skip needless conversions and to
    // leave the operator's cursor alone when nothing changed.
    QString shown;
    std::string shownGbk;
    bool cached = false;
    bool translated = false;    // shows system texts: translated for display only
    QLineEdit* edit = nullptr;  // an edit box, watched for changes we did not make
    bool edited = false;
    // The member as of the last exchange: what the control shows, or will show at the next
    // frame.
    std::string exchangedGbk;
    bool exchanged = false;
  };

  void BuildWindow();
  QGroupBox* BuildStatusGroup();
  QGroupBox* BuildParamsGroup();
  QGroupBox* BuildTestGroup();
  QGroupBox* BuildGpsGroup();
  void BuildGnssRow(QGridLayout* grid, int firstRow);
  QGroupBox* BuildDebugGroup();
  QWidget* BuildLogOptions();
  QWidget* BuildLogSearch();
  void ApplyLogOptions();
  void FindInLog(bool forward);
  bool HandleSearchKey(QObject* watched, int key, Qt::KeyboardModifiers modifiers);
  void BindControls();
  void FitToScreen();

  // Keyboard, tooltips and languages (config_dlg_keyboard.cpp).
  void SetTabOrder();
  void InstallShortcuts();
  void ApplyTooltips();
  void ClickRowButton(bool set);
  void SetButtonCaption(QAbstractButton* button, const QString& caption);
  bool ConfirmExit();
  void TagTranslatableTexts();
  void Retranslate();
  void FitDisplayWidths();
  void AddLanguageMenu(QMenu& menu);
  void WatchEdits();

  QLineEdit* AddEdit(int id, bool readOnly);
  QLineEdit* AddDisplay(int id) { return AddEdit(id, true); }
  QAbstractButton* AddButton(int id, const QString& caption, void (ConfigLogic::*handler)(),
                             const QString& row = {});
  QAbstractButton* AddWindowButton(int id, const QString& caption, void (CConfigDlg::*handler)());
  QCheckBox* AddCheck(int id, const QString& caption);
  QLabel* AddLabel(const QString& text, QWidget* buddy);
  void Register(int id, QWidget* widget);

  QString ReadControlText(int id) const;
  void WriteControlText(int id, const QString& text);
  void ExchangeText(Binding& binding, bool saveAndValidate);
  void ExchangeFlag(Binding& binding, bool saveAndValidate);
  void TakeText(Binding& binding);
  void ShowText(Binding& binding);
  void ScheduleRefresh();
  void ExchangeToControls();
  void ShowWaitingNotices();
  void AddNotice(const QString& text);
  [[nodiscard]] QString NoticeBoxText() const;
  void WatchDeviceNotices();
  QComboBox* BuildPortChoice();
  void OnPortChosen(int index);

  DialogState m_state;
  QtUiDispatcher m_ui;
  std::map<int, QWidget*> m_controls;
  std::vector<Binding> m_bindings;
  QWidget* m_content = nullptr;  // everything, inside the window's scroll area
  LogPane* m_log = nullptr;
  QRadioButton* m_indicator = nullptr;
  QLabel* m_portProblem = nullptr;
  QComboBox* m_portChoice = nullptr;
  // The one notice box: a newer notice is added to it instead of stacking a second box. Its
  // texts, oldest first, each with how often it came while the box was open.
  QMessageBox* m_noticeBox = nullptr;
  std::vector<std::pair<QString, int>> m_notices;
  std::vector<std::pair<QString, QString>> m_waitingNotices;  // text and caption, for the frame
  bool m_writingControl = false;
  QCheckBox* m_showNmea = nullptr;
  QCheckBox* m_dateAndMs = nullptr;
  QCheckBox* m_extrasInFile = nullptr;
  QCheckBox* m_hexView = nullptr;
  QWidget* m_searchRow = nullptr;
  QLineEdit* m_searchEdit = nullptr;
  QLabel* m_searchStatus = nullptr;
  SatelliteView* m_satelliteView = nullptr;
  QTimer m_noticeTimer;
  QTimer m_testTimer;
  // Refreshes during received chunks reach the screen together, once a frame.
  QTimer m_refreshTimer;
  QElapsedTimer m_lastRefresh;
  int m_receiveDepth = 0;
  bool m_exchangePending = false;  // a refresh asked for during the chunk
  bool m_indicatorOn = false;
  QTimer m_portWatchTimer;
  StationPanel* m_station = nullptr;
  QSocketNotifier* m_noticeNotifier = nullptr;
  // Last: destroyed first, so the port's monitor thread is stopped while everything it may
  // reach (this window, the dispatcher) still exists.
  ConfigLogic m_logic;
};

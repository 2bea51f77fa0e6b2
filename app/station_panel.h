#pragma once
// The production station in the window: the mode switch (off by default: the console is then
// exactly as without it), the station's profile, station and operator names, the sequence's
// progress step by step, and the verdict, large, as text and colour.

#include <QGroupBox>
#include <QTimer>
#include <memory>
#include <string>

#include "app/store_worker.h"
#include "device/config_logic.h"
#include "records/record_store.h"
#include "station/console_station.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSpinBox;
class QWidget;

class StationPanel final : public QGroupBox, public station::StationListener {
  Q_OBJECT
 public:
  // `surface` is the window, for the data exchange when a profile is saved from or loaded into
  // the fields. The store is opened from `storeUrl` when first needed ("" the default file).
  StationPanel(ConfigLogic& logic, DialogState& state, DialogSurface& surface, QWidget* parent,
               std::string storeUrl = {});
  ~StationPanel() override;

  // Turns station mode on or off. The record store opens on its own thread; when it cannot,
  // the operator is told why and station mode goes off again.
  bool SetStationMode(bool on);
  [[nodiscard]] bool StationMode() const;
  // Picks the station's profile file; false (with the reason shown) when it is refused.
  bool PickProfile(const QString& path);
  bool SaveFieldsAsProfile(const QString& path);
  bool LoadProfileIntoFields(const QString& path);
  void ShowStatusLine(const QString& text);

  [[nodiscard]] QLabel* Verdict() const { return verdict_; }
  [[nodiscard]] QListWidget* ProgressList() const { return progress_; }
  [[nodiscard]] QLabel* StatusLine() const { return status_; }
  [[nodiscard]] StoreWorker& Records() { return *records_; }
  [[nodiscard]] station::ConsoleStation& Station() { return *station_; }

  // Tests replace the modal parts: the message instead of a box, the file dialog's answer.
  std::function<void(const QString& text)> messageHook;
  std::function<QString(bool save)> fileHook;

  // station::StationListener
  void OnProgress(const station::Progress& progress) override;
  void OnVerdict(const records::UnitRecord& record, const records::StoreStatus& saved) override;
  // The verdict as shown once its record is kept (or could not be).
  void ShowRecorded(const records::UnitRecord& record, const records::StoreStatus& saved);

 private:
  void Build();
  void Tell(const QString& text);
  QString AskFile(bool save);
  void ApplySettings();
  void Remember() const;
  void ShowVerdict(const QString& text, const QString& colour);
  QWidget* BuildCriteria();
  void RestoreCriteria();

  ConfigLogic& logic_;
  DialogState& state_;
  DialogSurface& surface_;
  std::string storeUrl_;
  std::unique_ptr<StoreWorker> records_;
  std::unique_ptr<station::ConsoleStation> station_;
  station::Profile profile_;
  QString profilePath_;
  QTimer tick_;

  QCheckBox* mode_ = nullptr;
  QWidget* body_ = nullptr;
  QLineEdit* profileName_ = nullptr;
  QLineEdit* stationName_ = nullptr;
  QLineEdit* operatorName_ = nullptr;
  QListWidget* progress_ = nullptr;
  QLabel* verdict_ = nullptr;
  QLabel* reasons_ = nullptr;
  QLabel* status_ = nullptr;
  QSpinBox* testTimeout_ = nullptr;
  QCheckBox* gpsCheck_ = nullptr;
  QSpinBox* gpsWithin_ = nullptr;
  QSpinBox* gpsUsed_ = nullptr;
  QSpinBox* gpsStrong_ = nullptr;
  QSpinBox* gpsDbHz_ = nullptr;
};

#include "app/station_panel.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QVBoxLayout>

#include "app/records_view.h"
#include "app/settings.h"
#include "app/ui_text.h"

namespace {

QSettings Settings() {
  return OpenSettingsStore();
}

QString U(const std::string& utf8) {
  return QString::fromStdString(utf8);
}

constexpr int kTickMilliseconds = 100;

}  // namespace

StationPanel::StationPanel(ConfigLogic& logic, DialogState& state, DialogSurface& surface,
                           QWidget* parent, std::string storeUrl)
    : QGroupBox(UiText(texts::Id::kStationGroup), parent),
      logic_(logic),
      state_(state),
      surface_(surface),
      storeUrl_(std::move(storeUrl)),
      records_(std::make_unique<StoreWorker>(storeUrl_)) {
  Build();
  RestoreCriteria();
  QSettings settings = Settings();
  stationName_->setText(settings.value(QStringLiteral("station/name")).toString());
  operatorName_->setText(settings.value(QStringLiteral("station/operator")).toString());
  const QString remembered = settings.value(QStringLiteral("station/profile")).toString();
  // A remembered profile that is gone or now refused is not chosen; the operator picks again.
  if (!remembered.isEmpty()) {
    std::string error;
    station::Profile profile;
    if (station::LoadProfile(QFile::encodeName(remembered).toStdString(), &profile, &error)) {
      profile_ = profile;
      profilePath_ = remembered;
      profileName_->setText(U(profile.name));
    }
  }
  connect(&tick_, &QTimer::timeout, this, [this] {
    if (station_) station_->Tick();
  });
}

StationPanel::~StationPanel() {
  tick_.stop();
  station_.reset();  // leaves the logic without observer
  records_.reset();  // writes what is still queued
}

void StationPanel::Build() {
  auto* root = new QVBoxLayout(this);
  mode_ = new QCheckBox(UiText(texts::Id::kStationMode), this);
  mode_->setObjectName(QStringLiteral("stationMode"));
  mode_->setAccessibleName(mode_->text());
  // Toggled, not clicked: an assistive tool's toggle action must do what a click does.
  connect(mode_, &QCheckBox::toggled, this, [this](bool on) { SetStationMode(on); });
  auto* top = new QHBoxLayout;
  top->addWidget(mode_);
  auto* records = new QPushButton(UiText(texts::Id::kStationRecords), this);
  records->setAutoDefault(false);
  records->setObjectName(QStringLiteral("stationRecords"));
  connect(records, &QPushButton::clicked, this, [this] {
    RecordsView view(*records_, this, storeUrl_);
    view.exec();
  });
  top->addStretch(1);
  top->addWidget(records);
  root->addLayout(top);

  body_ = new QWidget(this);
  auto* grid = new QGridLayout(body_);
  grid->setContentsMargins(0, 0, 0, 0);
  auto addEdit = [&](texts::Id label, int row, int col, bool readOnly) {
    auto* edit = new QLineEdit(body_);
    edit->setReadOnly(readOnly);
    auto* caption = new QLabel(UiText(label), body_);
    caption->setBuddy(edit);
    edit->setAccessibleName(caption->text());
    grid->addWidget(caption, row, col);
    grid->addWidget(edit, row, col + 1);
    return edit;
  };
  profileName_ = addEdit(texts::Id::kStationProfile, 0, 0, true);
  profileName_->setPlaceholderText(UiText(texts::Id::kStationNoProfile));
  stationName_ = addEdit(texts::Id::kStationName, 1, 0, false);
  operatorName_ = addEdit(texts::Id::kStationOperator, 2, 0, false);
  for (QLineEdit* edit : {stationName_, operatorName_}) {
    connect(edit, &QLineEdit::editingFinished, this, [this] {
      Remember();
      ApplySettings();
    });
  }
  auto button = [&](texts::Id caption, int row, int col, auto onClick) {
    auto* b = new QPushButton(UiText(caption), body_);
    b->setAutoDefault(false);
    b->setAccessibleName(b->text());
    connect(b, &QPushButton::clicked, this, onClick);
    grid->addWidget(b, row, col);
  };
  button(texts::Id::kStationPickProfile, 0, 2, [this] {
    if (const QString path = AskFile(false); !path.isEmpty()) PickProfile(path);
  });
  button(texts::Id::kStationSaveProfile, 1, 2, [this] {
    if (const QString path = AskFile(true); !path.isEmpty()) SaveFieldsAsProfile(path);
  });
  button(texts::Id::kStationLoadProfile, 2, 2, [this] {
    if (const QString path = AskFile(false); !path.isEmpty()) LoadProfileIntoFields(path);
  });

  progress_ = new QListWidget(body_);
  progress_->setObjectName(QStringLiteral("stationProgress"));
  progress_->setAccessibleName(UiText(texts::Id::kStationProgress));
  progress_->setMaximumHeight(fontMetrics().lineSpacing() * 10);
  grid->addWidget(progress_, 0, 3, 3, 1);
  verdict_ = new QLabel(UiText(texts::Id::kStationWaiting), body_);
  verdict_->setObjectName(QStringLiteral("stationVerdict"));
  verdict_->setAccessibleName(UiText(texts::Id::kStationVerdict));
  verdict_->setAlignment(Qt::AlignCenter);
  verdict_->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("FAIL")) * 5);
  grid->addWidget(verdict_, 0, 4, 2, 1);
  reasons_ = new QLabel(body_);
  reasons_->setWordWrap(true);
  reasons_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  grid->addWidget(reasons_, 2, 4);
  grid->setColumnStretch(3, 2);
  grid->setColumnStretch(4, 1);
  grid->addWidget(BuildCriteria(), 3, 0, 1, 5);
  status_ = new QLabel(body_);
  status_->setObjectName(QStringLiteral("stationStatus"));
  status_->setTextFormat(Qt::PlainText);  // it names other programs and devices
  status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  grid->addWidget(status_, 4, 0, 1, 5);
  root->addWidget(body_);
  body_->hide();
  ShowVerdict(UiText(texts::Id::kStationWaiting), {});
}

bool StationPanel::StationMode() const {
  return station_ && station_->Enabled();
}

bool StationPanel::SetStationMode(bool on) {
  if (on) {
    // The store opens on its thread; one that cannot turns station mode off again.
    records_->Post(this, [this](records::RecordStore* store, const records::StoreStatus& opened) {
      return std::function<void()>([this, ok = store != nullptr, opened] {
        if (!ok) {
          Tell(UiText(texts::Id::kStationStoreFailed) + U(opened.message));
          SetStationMode(false);
        } else if (!opened.message.empty()) {
          ShowStatusLine(U(opened.message));
        }
      });
    });
  }
  if (on && !station_) {
    // The records are written here, on the store's thread, not by the engine on this one.
    station_ = std::make_unique<station::ConsoleStation>(logic_, state_, nullptr, this);
  }
  mode_->setChecked(on);
  body_->setVisible(on);
  if (on) {
    ApplySettings();
    progress_->clear();
    ShowVerdict(UiText(texts::Id::kStationWaiting), {});
    tick_.start(kTickMilliseconds);
  } else {
    tick_.stop();
  }
  if (station_) station_->SetEnabled(on);
  return true;
}

// The factory test's time-out and the GPS criteria: a row of their own.
QWidget* StationPanel::BuildCriteria() {
  auto* row = new QWidget(body_);
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  auto spin = [&](texts::Id caption, int low, int high, QSpinBox** out) {
    auto* box = new QSpinBox(row);
    box->setRange(low, high);
    auto* label = new QLabel(UiText(caption), row);
    label->setBuddy(box);
    box->setAccessibleName(label->text());
    layout->addWidget(label);
    layout->addWidget(box);
    connect(box, &QSpinBox::editingFinished, this, [this] {
      Remember();
      ApplySettings();
    });
    *out = box;
  };
  spin(texts::Id::kStationTestTimeout, 5, 3600, &testTimeout_);
  gpsCheck_ = new QCheckBox(UiText(texts::Id::kStationGpsCheck), row);
  gpsCheck_->setAccessibleName(gpsCheck_->text());
  connect(gpsCheck_, &QCheckBox::toggled, this, [this] {
    Remember();
    ApplySettings();
  });
  layout->addSpacing(fontMetrics().averageCharWidth() * 3);
  layout->addWidget(gpsCheck_);
  spin(texts::Id::kStationGpsWithin, 1, 3600, &gpsWithin_);
  spin(texts::Id::kStationGpsUsed, 0, 32, &gpsUsed_);
  spin(texts::Id::kStationGpsStrong, 0, 32, &gpsStrong_);
  spin(texts::Id::kStationGpsDbHz, 0, 99, &gpsDbHz_);
  layout->addStretch(1);
  return row;
}

void StationPanel::RestoreCriteria() {
  const station::StationSettings defaults;
  QSettings settings = Settings();
  auto value = [&](const char* key, int fallback) {
    return settings.value(QLatin1String(key), fallback).toInt();
  };
  testTimeout_->setValue(
      value("station/testTimeoutSeconds", static_cast<int>(defaults.testTimeout.count() / 1000)));
  {
    const QSignalBlocker restoring(gpsCheck_);  // not a change of the operator's to remember
    gpsCheck_->setChecked(settings.value(QStringLiteral("station/gpsCheck"), false).toBool());
  }
  gpsWithin_->setValue(
      value("station/gpsFixWithinSeconds", static_cast<int>(defaults.gps.fixWithinSeconds)));
  gpsUsed_->setValue(value("station/gpsMinUsed", defaults.gps.minSatellitesUsed));
  gpsStrong_->setValue(value("station/gpsMinStrong", defaults.gps.minStrongSignals));
  gpsDbHz_->setValue(value("station/gpsStrongDbHz", defaults.gps.strongSignalDbHz));
}

void StationPanel::ApplySettings() {
  if (!station_) return;
  station::StationSettings settings = station_->Engine().Settings();
  settings.testTimeout = std::chrono::seconds(testTimeout_->value());
  settings.gps = {gpsCheck_->isChecked(), static_cast<double>(gpsWithin_->value()),
                  gpsUsed_->value(), gpsStrong_->value(), gpsDbHz_->value()};
  settings.profile = profile_;
  settings.station = stationName_->text().toStdString();
  settings.operatorName = operatorName_->text().toStdString();
  station_->Engine().SetSettings(settings);
}

void StationPanel::Remember() const {
  QSettings settings = Settings();
  settings.setValue(QStringLiteral("station/name"), stationName_->text());
  settings.setValue(QStringLiteral("station/operator"), operatorName_->text());
  settings.setValue(QStringLiteral("station/profile"), profilePath_);
  settings.setValue(QStringLiteral("station/testTimeoutSeconds"), testTimeout_->value());
  settings.setValue(QStringLiteral("station/gpsCheck"), gpsCheck_->isChecked());
  settings.setValue(QStringLiteral("station/gpsFixWithinSeconds"), gpsWithin_->value());
  settings.setValue(QStringLiteral("station/gpsMinUsed"), gpsUsed_->value());
  settings.setValue(QStringLiteral("station/gpsMinStrong"), gpsStrong_->value());
  settings.setValue(QStringLiteral("station/gpsStrongDbHz"), gpsDbHz_->value());
}

bool StationPanel::PickProfile(const QString& path) {
  station::Profile profile;
  std::string error;
  if (!station::LoadProfile(QFile::encodeName(path).toStdString(), &profile, &error)) {
    Tell(UiText(texts::Id::kStationProfileRefused) + U(error));
    return false;
  }
  profile_ = profile;
  profilePath_ = path;
  profileName_->setText(U(profile.name));
  Remember();
  ApplySettings();
  return true;
}

bool StationPanel::SaveFieldsAsProfile(const QString& path) {
  surface_.UpdateData(true);
  station::Profile profile;
  std::string error;
  if (!station::ProfileFromFields(state_, &profile, &error) ||
      !station::SaveProfile(QFile::encodeName(path).toStdString(), profile, &error)) {
    Tell(UiText(texts::Id::kStationProfileNotSaved) + U(error));
    return false;
  }
  return true;
}

bool StationPanel::LoadProfileIntoFields(const QString& path) {
  station::Profile profile;
  std::string error;
  if (!station::LoadProfile(QFile::encodeName(path).toStdString(), &profile, &error)) {
    Tell(UiText(texts::Id::kStationProfileRefused) + U(error));
    return false;
  }
  surface_.UpdateData(true);
  station::ApplyToFields(profile, &state_);
  surface_.UpdateData(false);
  return true;
}

void StationPanel::ShowStatusLine(const QString& text) {
  status_->setText(text);
}

void StationPanel::OnProgress(const station::Progress& progress) {
  if (progress.step == station::Step::kIdentify && progress.detail == "started") {
    progress_->clear();
    reasons_->clear();
    ShowVerdict(UiText(texts::Id::kStationTesting), QStringLiteral("#f0ad4e"));
  }
  const QString line = QStringLiteral("%1 s  %2: %3")
                           .arg(static_cast<double>(progress.elapsed.count()) / 1000.0, 6, 'f', 1)
                           .arg(U(std::string(station::StepName(progress.step))))
                           .arg(U(progress.detail));
  auto* item = new QListWidgetItem(line, progress_);
  if (progress.problem) item->setForeground(QColor(0xb9, 0x4a, 0x48));
  progress_->scrollToBottom();
  if (progress.step == station::Step::kIdle && !station_->Engine().LastRecord().recordId.empty()) {
    ShowStatusLine(UiText(texts::Id::kStationWaiting));
  }
}

void StationPanel::OnVerdict(const records::UnitRecord& record, const records::StoreStatus& saved) {
  if (!saved.ok) {
    ShowRecorded(record, saved);
    return;
  }
  // The verdict shows once its record is kept.
  records_->Post(
      this, [this, record](records::RecordStore* store, const records::StoreStatus& opened) {
        const records::StoreStatus status = store != nullptr ? store->Append(record) : opened;
        return std::function<void()>([this, record, status] { ShowRecorded(record, status); });
      });
}

void StationPanel::ShowRecorded(const records::UnitRecord& record,
                                const records::StoreStatus& saved) {
  ShowVerdict(record.passed ? QStringLiteral("PASS") : QStringLiteral("FAIL"),
              record.passed ? QStringLiteral("#2e7d32") : QStringLiteral("#c62828"));
  QStringList lines;
  for (const auto& reason : record.reasons) {
    lines
        << QStringLiteral("%1: %2 / %3").arg(U(reason.step), U(reason.expected), U(reason.actual));
  }
  reasons_->setText(lines.join(QLatin1Char('\n')));
  // A line's store may say where the record went (waiting in the spool, the spool sent).
  const QString where = saved.message.empty() ? QString() : QStringLiteral("  ") + U(saved.message);
  ShowStatusLine(saved.ok ? UiText(texts::Id::kStationUnplugNext) + where
                          : UiText(texts::Id::kStationRecordFailed) + U(saved.message));
}

void StationPanel::ShowVerdict(const QString& text, const QString& colour) {
  verdict_->setText(text);
  QFont font = this->font();  // the panel's: the verdict's own grows with every call
  font.setPointSize(std::max(QFontInfo(font).pointSize(), 9) * 3);
  font.setBold(true);
  verdict_->setFont(font);
  verdict_->setStyleSheet(colour.isEmpty() ? QString()
                                           : QStringLiteral("color: white; background: %1;"
                                                            " padding: 8px;")
                                                 .arg(colour));
}

void StationPanel::Tell(const QString& text) {
  if (messageHook) {
    messageHook(text);
    return;
  }
  QMessageBox::warning(this, UiText(texts::Id::kAppTitle), text);
}

QString StationPanel::AskFile(bool save) {
  if (fileHook) return fileHook(save);
  const QString filter = UiText(texts::Id::kStationProfileFilter);
  return save ? QFileDialog::getSaveFileName(this, {}, profilePath_, filter)
              : QFileDialog::getOpenFileName(this, {}, profilePath_, filter);
}

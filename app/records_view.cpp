#include "app/records_view.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDateTime>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QTimeZone>
#include <QVBoxLayout>

#include "app/records_charts.h"
#include "app/settings.h"
#include "app/store_worker.h"
#include "app/ui_text.h"
#include "records/csv_export.h"

namespace {

const QString kExcelMarkKey = QStringLiteral("records/csvBom");

constexpr std::size_t kLastUnits = 500;

QString U(const std::string& utf8) {
  return QString::fromStdString(utf8);
}

QString ReasonsText(const records::UnitRecord& record) {
  QStringList parts;
  for (const auto& r : record.reasons) {
    parts << QStringLiteral("%1: %2 / %3").arg(U(r.step), U(r.expected), U(r.actual));
  }
  return parts.join(QStringLiteral("; "));
}

}  // namespace

std::string UtcBoundOfLocalDay(const QDate& date) {
  const QDateTime local(date, QTime(0, 0), QTimeZone::systemTimeZone());
  return local.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ")).toStdString();
}

RecordsView::RecordsView(StoreWorker& worker, QWidget* parent, const std::string& storeUrl)
    : QDialog(parent), worker_(worker) {
  setWindowTitle(UiText(texts::Id::kRecordsTitle));
  auto* root = new QVBoxLayout(this);
  counts_ = new QLabel(this);
  counts_->setObjectName(QStringLiteral("recordsCounts"));
  QFont big = counts_->font();
  big.setBold(true);
  counts_->setFont(big);
  root->addWidget(counts_);

  auto* filters = new QHBoxLayout;
  auto label = [&](texts::Id id, QWidget* buddy) {
    auto* l = new QLabel(UiText(id), this);
    l->setBuddy(buddy);
    buddy->setAccessibleName(l->text());
    filters->addWidget(l);
    filters->addWidget(buddy);
  };
  imei_ = new QLineEdit(this);
  label(texts::Id::kRecordsImei, imei_);
  verdict_ = new QComboBox(this);
  verdict_->addItems(
      {UiText(texts::Id::kRecordsAll), QStringLiteral("PASS"), QStringLiteral("FAIL")});
  label(texts::Id::kRecordsVerdict, verdict_);
  from_ = new QDateEdit(QDate::currentDate(), this);
  to_ = new QDateEdit(QDate::currentDate(), this);
  for (QDateEdit* edit : {from_, to_}) {
    edit->setCalendarPopup(true);
    edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
  }
  label(texts::Id::kRecordsFrom, from_);
  label(texts::Id::kRecordsTo, to_);
  auto* refresh = new QPushButton(UiText(texts::Id::kRecordsRefresh), this);
  auto* exportButton = new QPushButton(UiText(texts::Id::kRecordsExport), this);
  for (QPushButton* b : {refresh, exportButton}) {
    b->setAutoDefault(false);
    filters->addWidget(b);
  }
  // A spreadsheet on Windows reads a CSV without the mark in the local code page, and the
  // Chinese names turn to noise; other readers may choke on it, so it is the operator's choice.
  excelMark_ = new QCheckBox(UiText(texts::Id::kRecordsExcelMark), this);
  excelMark_->setChecked(OpenSettingsStore().value(kExcelMarkKey, false).toBool());
  connect(excelMark_, &QCheckBox::toggled, this,
          [](bool on) { OpenSettingsStore().setValue(kExcelMarkKey, on); });
  filters->addWidget(excelMark_);
  root->addLayout(filters);

  table_ = new QTableWidget(this);
  const QStringList columns = UiText(texts::Id::kRecordsColumns).split(QLatin1Char('|'));
  table_->setColumnCount(static_cast<int>(columns.size()));
  table_->setHorizontalHeaderLabels(columns);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->horizontalHeader()->setStretchLastSection(true);
  root->addWidget(table_, 1);
  charts_ = new RecordsCharts(storeUrl, this);
  root->addWidget(charts_, 2);

  connect(refresh, &QPushButton::clicked, this, &RecordsView::Refresh);
  connect(imei_, &QLineEdit::returnPressed, this, &RecordsView::Refresh);
  connect(verdict_, &QComboBox::currentIndexChanged, this, &RecordsView::Refresh);
  connect(exportButton, &QPushButton::clicked, this, [this] {
    const QString path = QFileDialog::getSaveFileName(this, {}, QStringLiteral("records.csv"),
                                                      UiText(texts::Id::kRecordsCsvFilter));
    if (!path.isEmpty()) ExportTo(path);
  });
  resize(1100, 720);
  Refresh();
}

void RecordsView::Refresh() {
  charts_->Refresh();
  const QDate today = QDate::currentDate();
  const std::string from = UtcBoundOfLocalDay(today);
  const std::string to = UtcBoundOfLocalDay(today.addDays(1));
  records::RecordFilter filter;
  filter.imei = imei_->text().trimmed().toStdString();
  if (verdict_->currentIndex() > 0) filter.passed = verdict_->currentIndex() == 1;
  filter.limit = kLastUnits;
  worker_.Post(this, [this, from, to, filter](records::RecordStore* store,
                                              const records::StoreStatus& opened) {
    records::DayCounts counts;
    std::vector<records::UnitRecord> found;
    records::StoreStatus counted = opened, queried = opened;
    if (store != nullptr) {
      counted = store->Count(from, to, &counts);
      queried = store->Query(filter, &found);
    }
    return [this, counted, counts, queried, found] { Show(counted, counts, queried, found); };
  });
}

void RecordsView::Show(const records::StoreStatus& counted, const records::DayCounts& counts,
                       const records::StoreStatus& queried,
                       const std::vector<records::UnitRecord>& found) {
  counts_->setText(
      counted.ok ? UiText(texts::Id::kRecordsToday) +
                       QStringLiteral("PASS %1    FAIL %2").arg(counts.passed).arg(counts.failed)
                 : U(counted.message));
  if (!queried.ok) Tell(U(queried.message));
  table_->setRowCount(static_cast<int>(found.size()));
  for (int row = 0; row < static_cast<int>(found.size()); ++row) {
    const auto& r = found[static_cast<std::size_t>(row)];
    const QString cells[] = {
        U(r.startedUtc),   U(r.imei),
        U(r.firmware),     r.passed ? QStringLiteral("PASS") : QStringLiteral("FAIL"),
        ReasonsText(r),    U(r.station),
        U(r.operatorName), U(r.port)};
    for (int col = 0; col < static_cast<int>(std::size(cells)); ++col) {
      auto* item = new QTableWidgetItem(cells[col]);
      if (col == 3)
        item->setForeground(r.passed ? QColor(0x2e, 0x7d, 0x32) : QColor(0xc6, 0x28, 0x28));
      table_->setItem(row, col, item);
    }
  }
}

void RecordsView::ExportTo(const QString& path) {
  records::RecordFilter filter;
  filter.fromUtc = UtcBoundOfLocalDay(std::min(from_->date(), to_->date()));
  filter.toUtc = UtcBoundOfLocalDay(std::max(from_->date(), to_->date()).addDays(1));
  const std::string file = QFile::encodeName(path).toStdString();
  const bool mark = excelMark_->isChecked();
  worker_.Post(this, [this, filter, file, mark](records::RecordStore* store,
                                                const records::StoreStatus& opened) {
    std::size_t written = 0;
    const records::StoreStatus status =
        store != nullptr ? records::ExportCsv(*store, filter, file, &written, mark) : opened;
    return [this, status, written] {
      Tell(status.ok ? UiText(texts::Id::kRecordsExported) + QString::number(written)
                     : UiText(texts::Id::kRecordsExportFailed) + U(status.message));
    };
  });
}

void RecordsView::Tell(const QString& text) {
  if (messageHook) {
    messageHook(text);
    return;
  }
  QMessageBox::information(this, windowTitle(), text);
}

#pragma once
// The station's records: today's PASS and FAIL counts, the last units (filtered by IMEI or
// verdict), and a date range exported as CSV.

#include <QDialog>
#include <string>

#include "records/record_store.h"

class StoreWorker;

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QTableWidget;
class RecordsCharts;

class RecordsView final : public QDialog {
  Q_OBJECT
 public:
  // The store is read on `worker`'s thread; the view fills in as the answers come. `storeUrl`:
  // where the charts read the same store (empty: the station's own).
  RecordsView(StoreWorker& worker, QWidget* parent, const std::string& storeUrl = {});

  void Refresh();
  // Writes the records of the chosen dates (local days, both included) to `path`; the operator
  // is told how it went once it is done.
  void ExportTo(const QString& path);

  [[nodiscard]] QLabel* Counts() const { return counts_; }
  [[nodiscard]] QTableWidget* Table() const { return table_; }
  [[nodiscard]] QLineEdit* ImeiFilter() const { return imei_; }
  [[nodiscard]] QComboBox* VerdictFilter() const { return verdict_; }
  [[nodiscard]] QDateEdit* From() const { return from_; }
  [[nodiscard]] QDateEdit* To() const { return to_; }
  [[nodiscard]] RecordsCharts* Charts() const { return charts_; }
  // Whether an export starts with the UTF-8 byte order mark; remembered between runs.
  [[nodiscard]] QCheckBox* ExcelMark() const { return excelMark_; }

  std::function<void(const QString& text)> messageHook;

 private:
  void Tell(const QString& text);
  void Show(const records::StoreStatus& counted, const records::DayCounts& counts,
            const records::StoreStatus& queried, const std::vector<records::UnitRecord>& found);

  StoreWorker& worker_;
  QLabel* counts_ = nullptr;
  QLineEdit* imei_ = nullptr;
  QComboBox* verdict_ = nullptr;
  QTableWidget* table_ = nullptr;
  QDateEdit* from_ = nullptr;
  QDateEdit* to_ = nullptr;
  RecordsCharts* charts_ = nullptr;
  QCheckBox* excelMark_ = nullptr;
};

// Local midnight of `date` as an ISO 8601 UTC bound, the form records keep their times in.
std::string UtcBoundOfLocalDay(const class QDate& date);

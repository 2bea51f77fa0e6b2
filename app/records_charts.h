#pragma once
// The records view's charts: today's units per hour and station, the yields, the failure
// Pareto and the GPS distributions, from the same records/ figures the line's board shows.

#include <QWidget>
#include <memory>
#include <string>

#include "records/line_figures.h"

class QChart;
class QLabel;

class RecordsCharts final : public QWidget {
  Q_OBJECT
 public:
  enum class Figure { kHourly, kPareto, kTtff, kSatellites, kSignal };

  // `storeUrl` as the station was given it; empty: the station's own store.
  RecordsCharts(std::string storeUrl, QWidget* parent);
  ~RecordsCharts() override;

  // Reads the figures again; the store's message in place of the yields when it cannot.
  void Refresh();

  [[nodiscard]] QChart* Chart(Figure figure) const;
  [[nodiscard]] QLabel* Yields() const { return yields_; }

 private:
  void ShowHourly(const std::vector<records::HourCount>& hours);
  void ShowPareto(const records::Pareto& pareto);
  void ShowHistogram(Figure figure, const records::Histogram& histogram);

  std::string url_;
  std::unique_ptr<records::FigureReader> reader_;
  QLabel* yields_ = nullptr;
  QChart* charts_[5] = {};
};

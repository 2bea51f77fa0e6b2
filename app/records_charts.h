#pragma once
// The records view's charts: today's units per hour and station, the yields, the failure
// Pareto and the GPS distributions, from the same records/ figures the line's board shows.

#include <QWidget>
#include <memory>
#include <string>
#include <thread>

#include "records/line_figures.h"

class QChart;
class QLabel;

class RecordsCharts final : public QWidget {
  Q_OBJECT
 public:
  enum class Figure { kHourly, kPareto, kTtff, kSatellites, kSignal };
  struct Figures;  // what one read gives

  // `storeUrl` as the station was given it; empty: the station's own store.
  RecordsCharts(std::string storeUrl, QWidget* parent);
  ~RecordsCharts() override;

  // Reads the figures again on a thread of its own (a line's server that is away or hung must
  // not freeze the window) and shows them once read; the store's message in place of the
  // yields when it cannot. A refresh asked for during a read follows it.
  //
  // Threading contract: every member but the reader belongs to the UI thread; the reader
  // belongs to the read in flight, and there is at most one. The destructor waits for it
  // (bounded by the store's time-outs).
  void Refresh();

  [[nodiscard]] QChart* Chart(Figure figure) const;
  [[nodiscard]] QLabel* Yields() const { return yields_; }

 private:
  void StartRead();
  void ShowFigures(const Figures& figures);
  void ShowHourly(const std::vector<records::HourCount>& hours);
  void ShowPareto(const records::Pareto& pareto);
  void ShowHistogram(Figure figure, const records::Histogram& histogram);

  std::string url_;
  std::unique_ptr<records::FigureReader> reader_;  // the read in flight only
  std::thread read_;
  bool reading_ = false;
  bool readAgain_ = false;
  QLabel* yields_ = nullptr;
  QChart* charts_[5] = {};
};

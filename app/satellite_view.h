#pragma once
// Every satellite in view, beside the main window: a sky plot (elevation and azimuth) and a
// table (system, number, elevation, azimuth, signal, used). A non-modal companion window that
// the GPS group's "卫星视图" button opens and closes.

#include <QWidget>
#include <functional>
#include <vector>

#include "gps/satellites.h"

class QTableWidget;

class SkyPlot final : public QWidget {
 public:
  explicit SkyPlot(QWidget* parent = nullptr);
  void SetSatellites(const std::vector<gps::SatelliteInView>& satellites);
  [[nodiscard]] QSize sizeHint() const override { return {320, 320}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::vector<gps::SatelliteInView> m_satellites;
};

class SatelliteView final : public QWidget {
 public:
  explicit SatelliteView(QWidget* owner);

  // Shows these satellites (unchanged lists cost nothing).
  void SetSatellites(const std::vector<gps::SatelliteInView>& satellites);
  // Opens beside `owner` where the screen has room, else over its right edge.
  void OpenBeside(const QWidget* owner);

  [[nodiscard]] QTableWidget* Table() const { return m_table; }
  [[nodiscard]] SkyPlot* Plot() const { return m_plot; }

  // Called when the operator closes the window.
  std::function<void()> onClosed;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void FillTable();

  std::vector<gps::SatelliteInView> m_satellites;
  bool m_shownStale = false;  // the list changed while the window was closed
  SkyPlot* m_plot = nullptr;
  QTableWidget* m_table = nullptr;
};

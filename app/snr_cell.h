#pragma once
// One satellite's signal cell: its value as text (what the data exchange reads and writes,
// and what a screen reader reads) over a bar whose height shows the strength at a glance.

#include <QLineEdit>

class SnrCell final : public QLineEdit {
  Q_OBJECT
 public:
  explicit SnrCell(int satellite, QWidget* parent = nullptr);

  // The value at which the bar is full (dB-Hz); receivers rarely report more.
  static constexpr int kFullScale = 50;

  [[nodiscard]] QSize sizeHint() const override;
  [[nodiscard]] QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

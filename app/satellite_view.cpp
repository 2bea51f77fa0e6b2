#include "app/satellite_view.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPainter>
#include <QScreen>
#include <QTableWidget>
#include <algorithm>
#include <cmath>
#include <numbers>

#include "app/ui_text.h"

namespace {

QString SystemName(gps::Constellation constellation) {
  if (constellation == gps::Constellation::kBeidou) return UiText(texts::Id::kSystemBeidou);
  return QString::fromLatin1(gps::ConstellationName(constellation));
}

QColor SystemColour(gps::Constellation constellation) {
  switch (constellation) {
    case gps::Constellation::kGps:
      return {0x1f, 0x77, 0xb4};
    case gps::Constellation::kGlonass:
      return {0xd6, 0x27, 0x28};
    case gps::Constellation::kGalileo:
      return {0x2c, 0xa0, 0x2c};
    case gps::Constellation::kBeidou:
      return {0xff, 0x7f, 0x0e};
    case gps::Constellation::kQzss:
      return {0x94, 0x67, 0xbd};
    case gps::Constellation::kSbas:
      break;
  }
  return {0x7f, 0x7f, 0x7f};
}

// -1 (not known) shows as nothing.
QString Known(int value) {
  return value < 0 ? QString() : QString::number(value);
}

QString Summary(const std::vector<gps::SatelliteInView>& satellites) {
  const auto used = std::count_if(satellites.begin(), satellites.end(),
                                  [](const gps::SatelliteInView& s) { return s.used; });
  return UiText(texts::Id::kSkySummary).arg(satellites.size()).arg(used);
}

}  // namespace

SkyPlot::SkyPlot(QWidget* parent) : QWidget(parent) {
  setAccessibleName(UiText(texts::Id::kSkyPlot));
  setMinimumSize(200, 200);
  SetSatellites({});
}

void SkyPlot::SetSatellites(const std::vector<gps::SatelliteInView>& satellites) {
  m_satellites = satellites;
  setAccessibleDescription(Summary(satellites));
  update();
}

void SkyPlot::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QFontMetrics metrics = fontMetrics();
  const double margin = metrics.height() * 1.5;
  const double radius = std::max(10.0, std::min(width(), height()) / 2.0 - margin);
  const QPointF centre(width() / 2.0, height() / 2.0);

  // Horizon, 30 and 60 degrees of elevation, and the four directions.
  painter.setPen(QPen(palette().color(QPalette::Mid), 1));
  for (const double ring : {1.0, 2.0 / 3.0, 1.0 / 3.0}) {
    painter.drawEllipse(centre, radius * ring, radius * ring);
  }
  painter.drawLine(centre - QPointF(radius, 0), centre + QPointF(radius, 0));
  painter.drawLine(centre - QPointF(0, radius), centre + QPointF(0, radius));
  painter.setPen(palette().color(QPalette::WindowText));
  const double label = radius + metrics.height() * 0.7;
  const std::pair<QString, QPointF> directions[] = {{QStringLiteral("N"), {0, -label}},
                                                    {QStringLiteral("E"), {label, 0}},
                                                    {QStringLiteral("S"), {0, label}},
                                                    {QStringLiteral("W"), {-label, 0}}};
  for (const auto& [text, offset] : directions) {
    const QPointF at = centre + offset;
    painter.drawText(QRectF(at.x() - 10, at.y() - 10, 20, 20), Qt::AlignCenter, text);
  }

  // Which colour is which system, for the systems in view.
  std::vector<gps::Constellation> systems;
  for (const gps::SatelliteInView& s : m_satellites) {
    if (std::find(systems.begin(), systems.end(), s.constellation) == systems.end()) {
      systems.push_back(s.constellation);
    }
  }
  double legendY = metrics.height();
  for (const gps::Constellation system : systems) {
    painter.setPen(SystemColour(system));
    painter.drawText(QPointF(4, legendY), SystemName(system));
    legendY += metrics.height();
  }

  // Each satellite with a known place: filled when used, a ring when only in view.
  const double dot = metrics.height() * 0.45;
  for (const gps::SatelliteInView& s : m_satellites) {
    if (s.elevation < 0 || s.azimuth < 0) continue;
    const double distance = radius * (90 - s.elevation) / 90.0;
    const double angle = s.azimuth * std::numbers::pi / 180.0;
    const QPointF at = centre + QPointF(distance * std::sin(angle), -distance * std::cos(angle));
    const QColor colour = SystemColour(s.constellation);
    painter.setPen(QPen(colour, 2));
    painter.setBrush(s.used ? QBrush(colour) : Qt::NoBrush);
    painter.drawEllipse(at, dot, dot);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(at + QPointF(dot + 1, -dot), QString::number(s.number));
  }
}

SatelliteView::SatelliteView(QWidget* owner) : QWidget(owner, Qt::Window) {
  setWindowTitle(UiText(texts::Id::kButtonSatelliteView));
  setAccessibleName(UiText(texts::Id::kButtonSatelliteView));
  m_plot = new SkyPlot(this);
  m_table = new QTableWidget(0, 6, this);
  m_table->setAccessibleName(UiText(texts::Id::kSatelliteTable));
  m_table->setHorizontalHeaderLabels(
      {UiText(texts::Id::kColumnSystem), UiText(texts::Id::kColumnNumber),
       UiText(texts::Id::kColumnElevation), UiText(texts::Id::kColumnAzimuth),
       UiText(texts::Id::kColumnSignal), UiText(texts::Id::kColumnUsed)});
  m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_table->verticalHeader()->setVisible(false);
  m_table->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
  m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  auto* layout = new QHBoxLayout(this);
  layout->addWidget(m_plot, 1);
  layout->addWidget(m_table, 1);
  resize(760, 380);
}

void SatelliteView::SetSatellites(const std::vector<gps::SatelliteInView>& satellites) {
  if (satellites == m_satellites) return;
  m_satellites = satellites;
  // Closed, it only keeps the list: sizing a table nobody sees would cost the window's time.
  m_shownStale = !isVisible();
  if (m_shownStale) return;
  m_plot->SetSatellites(satellites);
  FillTable();
}

void SatelliteView::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!m_shownStale) return;
  m_shownStale = false;
  m_plot->SetSatellites(m_satellites);
  FillTable();
}

void SatelliteView::FillTable() {
  m_table->setRowCount(static_cast<int>(m_satellites.size()));
  int row = 0;
  for (const gps::SatelliteInView& s : m_satellites) {
    const QString cells[] = {SystemName(s.constellation),
                             QString::number(s.number),
                             Known(s.elevation),
                             Known(s.azimuth),
                             Known(s.snr),
                             s.used ? UiText(texts::Id::kUsedYes) : QString()};
    for (int column = 0; column < 6; ++column) {
      auto* item = new QTableWidgetItem(cells[column]);
      if (column > 0) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
      m_table->setItem(row, column, item);
    }
    ++row;
  }
}

void SatelliteView::OpenBeside(const QWidget* owner) {
  const QRect frame = owner->frameGeometry();
  const QScreen* screen = owner->screen();
  const QRect room = screen != nullptr ? screen->availableGeometry() : frame;
  QPoint at(frame.right() + 1, frame.top());
  if (at.x() + width() > room.right() && frame.left() - width() >= room.left()) {
    at.setX(frame.left() - width() - 1);
  } else if (at.x() + width() > room.right()) {
    at.setX(std::max(room.left(), room.right() - width()));
  }
  move(at);
  show();
  raise();
}

void SatelliteView::closeEvent(QCloseEvent* event) {
  event->accept();
  if (onClosed) onClosed();
}

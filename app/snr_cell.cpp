#include "app/snr_cell.h"

#include <QPainter>
#include <algorithm>

namespace {

// Weak signals red, usable amber, strong green: the colours operators know from GPS tools.
QColor BarColour(int value) {
  if (value < 20) return QColor(0xd9, 0x53, 0x4f);
  if (value < 32) return QColor(0xf0, 0xad, 0x4e);
  return QColor(0x5c, 0xb8, 0x5c);
}

}  // namespace

SnrCell::SnrCell(int satellite, QWidget* parent) : QLineEdit(parent) {
  setReadOnly(true);
  setAlignment(Qt::AlignHCenter | Qt::AlignBottom);
  setAccessibleName(QStringLiteral("%1").arg(satellite, 2, 10, QLatin1Char('0')));
  setFocusPolicy(Qt::NoFocus);
  setFrame(true);
  // Opaque: a new value repaints the cell alone, not the group box behind it.
  setBackgroundRole(QPalette::Window);
  setAutoFillBackground(true);
  setText(QStringLiteral("0"));
}

QSize SnrCell::sizeHint() const {
  const QFontMetrics fm(font());
  return {fm.horizontalAdvance(QStringLiteral("000")) + 6, fm.height() * 3};
}

QSize SnrCell::minimumSizeHint() const {
  const QFontMetrics fm(font());
  return {fm.horizontalAdvance(QStringLiteral("00")) + 4, fm.height() * 2};
}

void SnrCell::paintEvent(QPaintEvent* event) {
  QLineEdit::paintEvent(event);
  bool ok = false;
  const int value = text().trimmed().toInt(&ok);
  if (!ok || value <= 0) return;
  QPainter painter(this);
  const QRect inner = rect().adjusted(3, 3, -3, -3 - fontMetrics().height());
  const int height = inner.height() * std::min(value, kFullScale) / kFullScale;
  const QRect bar(inner.left(), inner.bottom() - height + 1, inner.width(), height);
  painter.fillRect(bar, BarColour(value));
}

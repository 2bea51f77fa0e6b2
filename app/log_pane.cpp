#include "app/log_pane.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QTextBoundaryFinder>
#include <QTextLayout>
#include <algorithm>
#include <cmath>

#include "app/log_pane_accessible.h"
#include "platform/gbk.h"

using logstore::LineId;

namespace {

// Wide enough for any line: the pane never wraps.
constexpr qreal kUnwrappedWidth = 1e7;
constexpr std::size_t kMostCachedLayouts = 400;
constexpr LineId kMostAnnouncedLines = 200;

}  // namespace

LogPane::LogPane(QWidget* parent) : QAbstractScrollArea(parent) {
  InstallLogPaneAccessibility();
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setFocusPolicy(Qt::StrongFocus);
  viewport()->setCursor(Qt::IBeamCursor);
  viewport()->setBackgroundRole(QPalette::Base);
  viewport()->setAutoFillBackground(true);
  // Opaque scroll bars: moving them repaints them alone, not the group box behind.
  verticalScrollBar()->setAutoFillBackground(true);
  horizontalScrollBar()->setAutoFillBackground(true);
  m_gatherTimer.setSingleShot(true);
  m_gatherTimer.setInterval(kGatherMilliseconds);
  connect(&m_gatherTimer, &QTimer::timeout, this, [this] {
    if (m_pending) Flush();
  });
  m_autoScroll.setInterval(50);
  connect(&m_autoScroll, &QTimer::timeout, this, &LogPane::AutoScroll);
  MeasureFont();
}

LogPane::~LogPane() = default;

// ---------------------------------------------------------------------------------------
// Text

void LogPane::AppendBatch(std::string_view gbkText, logstore::LineKind kind) {
  if (gbkText.empty()) return;
  m_store.Append(gbkText, kind);
  if (m_gatherTimer.isActive()) {
    m_pending = true;
    return;
  }
  Flush();
}

void LogPane::Flush() {
  Refresh();
  m_gatherTimer.start();
}

void LogPane::ClearAll() {
  m_store.Clear();
  m_following = true;
  m_layouts.clear();
  m_widestSeen = 0;
  m_announcedEnd = m_store.EndLine();
  Refresh();
  if (QAccessible::isActive()) {
    QAccessibleTextUpdateEvent event(this, 0, QString(), QString());
    QAccessible::updateAccessibility(&event);
  }
}

QString LogPane::LineText(LineId line) const {
  return QString::fromStdString(gbk::ToUtf8(m_store.Line(line)));
}

QString LogPane::DisplayText(LineId line) const {
  if (!m_hexView) return LineText(line);
  const std::string_view bytes = m_store.Line(line);
  // The number and the time stay readable; the text after them is shown byte by byte.
  std::size_t textStart = bytes.find('\t');
  textStart = textStart == std::string_view::npos ? 0 : bytes.find('\t', textStart + 1);
  textStart = textStart == std::string_view::npos ? 0 : textStart + 1;
  QString shown = QString::fromLatin1(bytes.data(), static_cast<qsizetype>(textStart));
  const QByteArray hex =
      QByteArray(bytes.data() + textStart, static_cast<qsizetype>(bytes.size() - textStart))
          .toHex(' ')
          .toUpper();
  return shown + QString::fromLatin1(hex);
}

int LogPane::DisplayLength(LineId line) const {
  if (!m_hexView) return m_store.LineCharacters(line);
  return static_cast<int>(DisplayText(line).size());
}

void LogPane::SetHexView(bool on) {
  if (on == m_hexView) return;
  m_hexView = on;
  m_layouts.clear();
  m_widestSeen = 0;
  ClearSelection();
  Refresh();
}

QString LogPane::PlainText() const {
  return QString::fromStdString(gbk::ToUtf8(m_store.Text())).remove(QLatin1Char('\r'));
}

// ---------------------------------------------------------------------------------------
// Showing what arrived

bool LogPane::AtBottom() const {
  return verticalScrollBar()->value() >= verticalScrollBar()->maximum();
}

int LogPane::VisibleRows() const {
  return std::max(1, viewport()->height() / m_rowHeight);
}

void LogPane::Refresh() {
  m_pending = false;
  // Whether the operator left the view at the bottom, not where the scroll bar happens to be:
  // its range lags behind the lines that came since the last refresh.
  const bool follow = m_following || verticalScrollBar()->maximum() <= 0;
  const LineId first = m_store.FirstLine();
  const LineId end = m_store.EndLine();
  const auto rows = static_cast<LineId>(VisibleRows());
  LineId top = std::max(m_topLine, first);
  if (follow) top = end - std::min<LineId>(end - first, rows);
  {
    const QScopedValueRollback<bool> placing(m_placingView, true);
    UpdateScrollBars();
    verticalScrollBar()->setValue(static_cast<int>(top - first));
  }
  m_topLine = first + static_cast<LineId>(verticalScrollBar()->value());
  m_following = follow;
  if (m_layouts.size() > kMostCachedLayouts) {
    std::erase_if(m_layouts, [&](const auto& entry) {
      return entry.first < m_topLine || entry.first >= m_topLine + 2 * rows;
    });
  }
  AnnounceAppended(m_announcedEnd);
  viewport()->update();
}

void LogPane::UpdateScrollBars() {
  const int rows = VisibleRows();
  const auto lines = static_cast<qint64>(m_store.LineCount());
  QScrollBar* vertical = verticalScrollBar();
  vertical->setRange(0, static_cast<int>(std::max<qint64>(0, lines - rows)));
  vertical->setPageStep(rows);
  vertical->setSingleStep(1);
  const int estimate = static_cast<int>(std::ceil(m_store.LongestLine() * m_averageCharWidth));
  const int content = std::max(m_widestSeen, estimate) + 2 * kMargin;
  QScrollBar* horizontal = horizontalScrollBar();
  horizontal->setRange(0, std::max(0, content - viewport()->width()));
  horizontal->setPageStep(viewport()->width());
  horizontal->setSingleStep(std::max(1, static_cast<int>(m_averageCharWidth * 4)));
}

void LogPane::ScrollToLine(LineId line) {
  const LineId first = m_store.FirstLine();
  verticalScrollBar()->setValue(static_cast<int>(std::max(line, first) - first));
}

void LogPane::scrollContentsBy(int /*dx*/, int /*dy*/) {
  m_topLine = m_store.FirstLine() + static_cast<LineId>(verticalScrollBar()->value());
  // The operator (or a search) moved the view: it follows again only from the bottom.
  if (!m_placingView) m_following = AtBottom();
  viewport()->update();
}

void LogPane::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  Refresh();
}

void LogPane::AnnounceAppended(LineId from) {
  const LineId end = m_store.EndLine();
  m_announcedEnd = end;
  if (!QAccessible::isActive()) return;
  // A flood announces only its newest lines: a reader cannot speak more, and decoding a burst
  // of thousands of lines every refresh would stall the window.
  from = std::max({from, m_store.FirstLine(), end - std::min<LineId>(end, kMostAnnouncedLines)});
  if (from >= end) return;
  QString text = QString::fromStdString(gbk::ToUtf8(m_store.TextFrom(from)));
  text.remove(QLatin1Char('\r'));
  QAccessibleTextInsertEvent event(this, static_cast<int>(m_store.LineStart(from)), text);
  QAccessible::updateAccessibility(&event);
}

// ---------------------------------------------------------------------------------------
// Painting

void LogPane::MeasureFont() {
  const QFontMetricsF metrics(font());
  m_averageCharWidth = metrics.averageCharWidth();
  // Tab stops of a plain text control; a CJK fallback font may be taller than the pane's own.
  m_tabStop = 80;
  QTextLayout probe(QStringLiteral("Ag\u4E2D\u6587"), font());
  probe.beginLayout();
  QTextLine line = probe.createLine();
  probe.endLayout();
  m_rowHeight = static_cast<int>(std::ceil(std::max(metrics.lineSpacing(), line.height())));
  // One baseline for every row, whichever font a line falls back to.
  m_baseline = std::max(metrics.ascent(), line.ascent());
  m_layouts.clear();
}

QTextLayout& LogPane::Layout(LineId line) {
  auto& slot = m_layouts[line];
  if (slot) return *slot;
  slot = std::make_unique<QTextLayout>(DisplayText(line), font());
  QTextOption option;
  option.setWrapMode(QTextOption::NoWrap);
  option.setTabStopDistance(m_tabStop);
  slot->setTextOption(option);
  slot->setCacheEnabled(true);
  slot->beginLayout();
  QTextLine textLine = slot->createLine();
  if (textLine.isValid()) textLine.setLineWidth(kUnwrappedWidth);
  slot->endLayout();
  if (textLine.isValid()) {
    m_widestSeen = std::max(m_widestSeen, static_cast<int>(std::ceil(textLine.naturalTextWidth())));
  }
  return *slot;
}

void LogPane::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(viewport());
  const auto [from, to] = OrderedSelection();
  const bool selected = from != to;
  const QPalette::ColorGroup group = hasFocus() ? QPalette::Active : QPalette::Inactive;
  QTextCharFormat selection;
  selection.setBackground(palette().brush(group, QPalette::Highlight));
  selection.setForeground(palette().brush(group, QPalette::HighlightedText));
  const QColor textColor = palette().color(QPalette::Text);
  const QColor sentColor = palette().color(QPalette::Link);
  const QColor nmeaColor = palette().color(QPalette::PlaceholderText);
  const int widestBefore = m_widestSeen;
  const int rows = viewport()->height() / m_rowHeight + 1;
  const qreal x = kMargin - horizontalScrollBar()->value();
  for (int row = 0; row < rows; ++row) {
    const LineId id = m_topLine + static_cast<LineId>(row);
    if (!m_store.Holds(id)) break;
    QTextLayout& layout = Layout(id);
    QList<QTextLayout::FormatRange> ranges;
    AddHighlights(id, layout.text(), ranges);
    if (selected && id >= from.line && id <= to.line) {
      const int start = id == from.line ? from.column : 0;
      const int end = id == to.line ? to.column : static_cast<int>(layout.text().size()) + 1;
      if (end > start) ranges.append({start, end - start, selection});
    }
    const logstore::LineKind kind = m_store.Kind(id);
    painter.setPen(kind == logstore::LineKind::kSent   ? sentColor
                   : kind == logstore::LineKind::kNmea ? nmeaColor
                                                       : textColor);
    const qreal ascent = layout.lineCount() > 0 ? layout.lineAt(0).ascent() : m_baseline;
    layout.draw(&painter, QPointF(x, row * m_rowHeight + m_baseline - ascent), ranges);
  }
  if (m_widestSeen != widestBefore) {
    const QScopedValueRollback<bool> placing(m_placingView, true);
    UpdateScrollBars();
  }
}

void LogPane::AddHighlights(LineId /*line*/, const QString& shown,
                            QList<QTextLayout::FormatRange>& ranges) const {
  if (m_searchTerm.isEmpty()) return;
  QTextCharFormat found;
  found.setBackground(QColor(255, 224, 102));
  found.setForeground(QColor(Qt::black));
  for (qsizetype at = shown.indexOf(m_searchTerm, 0, Qt::CaseInsensitive); at >= 0;
       at = shown.indexOf(m_searchTerm, at + m_searchTerm.size(), Qt::CaseInsensitive)) {
    ranges.append({static_cast<int>(at), static_cast<int>(m_searchTerm.size()), found});
  }
}

// ---------------------------------------------------------------------------------------
// Search

void LogPane::SetSearchTerm(const QString& term) {
  m_searchTerm = term;
  m_searchGbk = gbk::FromUtf8(term.toStdString());
  viewport()->update();
}

int LogPane::FindInLine(LineId line, int fromColumn, bool forward) const {
  if (!m_hexView) {
    return logstore::LogStore::FindInLine(m_store.Line(line), m_searchGbk, fromColumn, forward);
  }
  const QString shown = DisplayText(line);
  if (forward)
    return static_cast<int>(shown.indexOf(m_searchTerm, fromColumn, Qt::CaseInsensitive));
  if (fromColumn <= 0) return -1;
  return static_cast<int>(shown.lastIndexOf(m_searchTerm, fromColumn - 1, Qt::CaseInsensitive));
}

bool LogPane::Find(bool forward) {
  if (m_searchTerm.isEmpty() || m_store.LineCount() == 0) return false;
  const auto [from, to] = OrderedSelection();
  // From just past the selection (or before it), then around through every line once.
  const Position start = HasSelection() ? (forward ? Position{from.line, from.column + 1} : from)
                         : forward      ? Position{m_topLine, 0}
                                        : Clamp({m_store.EndLine(), 0});
  const LineId first = m_store.FirstLine();
  const LineId count = m_store.LineCount();
  for (LineId step = 0; step <= count; ++step) {
    const LineId offset = (start.line - first + (forward ? step : count - step)) % count;
    const LineId line = first + offset;
    const int fromColumn = step == 0 ? start.column : (forward ? 0 : DisplayLength(line) + 1);
    const int column = FindInLine(line, fromColumn, forward);
    if (column >= 0) {
      ShowMatch(line, column);
      return true;
    }
  }
  return false;
}

void LogPane::ShowMatch(LineId line, int column) {
  Select({line, column}, {line, column + static_cast<int>(m_searchTerm.size())});
  const auto rows = static_cast<LineId>(VisibleRows());
  if (line < m_topLine || line >= m_topLine + rows)
    ScrollToLine(line >= rows / 2 ? line - rows / 2 : 0);
  const QRect where = CharacterRect({line, column});
  QScrollBar* horizontal = horizontalScrollBar();
  if (where.left() < 0 || where.right() > viewport()->width()) {
    horizontal->setValue(horizontal->value() + where.left() - viewport()->width() / 3);
  }
}

void LogPane::changeEvent(QEvent* event) {
  QAbstractScrollArea::changeEvent(event);
  if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
    MeasureFont();
    m_widestSeen = 0;
    Refresh();
  }
}

// ---------------------------------------------------------------------------------------
// Selection

LogPane::Position LogPane::Clamp(Position position) const {
  if (m_store.LineCount() == 0) return {m_store.EndLine(), 0};
  if (position.line < m_store.FirstLine()) return {m_store.FirstLine(), 0};
  if (position.line >= m_store.EndLine()) {
    const LineId last = m_store.EndLine() - 1;
    return {last, DisplayLength(last)};
  }
  position.column = std::clamp(position.column, 0, DisplayLength(position.line));
  return position;
}

void LogPane::Select(Position anchor, Position cursor) {
  m_anchor = anchor;
  m_cursor = cursor;
  viewport()->update();
  emit selectionChanged();
  if (QAccessible::isActive()) {
    const auto [start, end] = SelectionOffsets();
    QAccessibleTextSelectionEvent event(this, static_cast<int>(start), static_cast<int>(end));
    QAccessible::updateAccessibility(&event);
  }
}

void LogPane::SelectAll() {
  if (m_store.LineCount() == 0) return;
  const LineId last = m_store.EndLine() - 1;
  Select({m_store.FirstLine(), 0}, {last, DisplayLength(last)});
}

void LogPane::ClearSelection() {
  Select(m_cursor, m_cursor);
}

std::pair<LogPane::Position, LogPane::Position> LogPane::OrderedSelection() const {
  const Position anchor = Clamp(m_anchor);
  const Position cursor = Clamp(m_cursor);
  return anchor < cursor ? std::pair(anchor, cursor) : std::pair(cursor, anchor);
}

bool LogPane::HasSelection() const {
  return Clamp(m_anchor) != Clamp(m_cursor);
}

std::pair<qint64, qint64> LogPane::SelectionOffsets() const {
  const auto [from, to] = OrderedSelection();
  return {OffsetOf(from), OffsetOf(to)};
}

qint64 LogPane::OffsetOf(Position position) const {
  position = Clamp(position);
  return m_store.LineStart(position.line) + position.column;
}

LogPane::Position LogPane::PositionAt(qint64 offset) const {
  const LineId line = m_store.LineAt(offset);
  return Clamp({line, static_cast<int>(offset - m_store.LineStart(line))});
}

QString LogPane::SelectedText() const {
  const auto [from, to] = OrderedSelection();
  QString text;
  if (from == to) return text;
  for (LineId id = from.line; id <= to.line; ++id) {
    const QString line = DisplayText(id);
    const int start = id == from.line ? from.column : 0;
    const int end = id == to.line ? to.column : static_cast<int>(line.size());
    text += line.mid(start, end - start);
    if (id != to.line) text += QLatin1Char('\n');
  }
  return text;
}

void LogPane::Copy() const {
  if (HasSelection()) QGuiApplication::clipboard()->setText(SelectedText());
}

LogPane::Position LogPane::PositionAtPoint(QPoint point) {
  if (m_store.LineCount() == 0) return {m_store.EndLine(), 0};
  const int row = point.y() < 0 ? -1 : point.y() / m_rowHeight;
  const auto wanted = static_cast<qint64>(m_topLine) + row;
  if (wanted < static_cast<qint64>(m_store.FirstLine())) return {m_store.FirstLine(), 0};
  if (wanted >= static_cast<qint64>(m_store.EndLine())) return Clamp({m_store.EndLine(), 0});
  const auto id = static_cast<LineId>(wanted);
  const QTextLine line = Layout(id).lineAt(0);
  const qreal x = point.x() - kMargin + horizontalScrollBar()->value();
  return Clamp({id, line.isValid() ? line.xToCursor(x) : 0});
}

QRect LogPane::CharacterRect(Position position) {
  position = Clamp(position);
  if (!m_store.Holds(position.line)) return {};
  const QTextLine line = Layout(position.line).lineAt(0);
  const qreal x = line.cursorToX(position.column) + kMargin - horizontalScrollBar()->value();
  const qreal next = line.cursorToX(position.column + 1) + kMargin - horizontalScrollBar()->value();
  const auto row = static_cast<qint64>(position.line) - static_cast<qint64>(m_topLine);
  return QRect(static_cast<int>(x), static_cast<int>(row * m_rowHeight),
               std::max(1, static_cast<int>(next - x)), m_rowHeight);
}

void LogPane::ExtendSelectionTo(QPoint point) {
  m_lastDrag = point;
  Select(m_anchor, PositionAtPoint(point));
}

void LogPane::AutoScroll() {
  QScrollBar* bar = verticalScrollBar();
  if (m_lastDrag.y() < 0) bar->setValue(bar->value() - 1);
  if (m_lastDrag.y() > viewport()->height()) bar->setValue(bar->value() + 1);
  ExtendSelectionTo(m_lastDrag);
}

void LogPane::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  const Position at = PositionAtPoint(event->position().toPoint());
  m_selecting = true;
  m_lastDrag = event->position().toPoint();
  if (event->modifiers() & Qt::ShiftModifier) {
    Select(m_anchor, at);
  } else {
    Select(at, at);
  }
}

void LogPane::mouseMoveEvent(QMouseEvent* event) {
  if (!m_selecting) return;
  ExtendSelectionTo(event->position().toPoint());
  const bool outside = m_lastDrag.y() < 0 || m_lastDrag.y() > viewport()->height();
  if (outside && !m_autoScroll.isActive()) m_autoScroll.start();
  if (!outside) m_autoScroll.stop();
}

void LogPane::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  m_selecting = false;
  m_autoScroll.stop();
  QClipboard* clipboard = QGuiApplication::clipboard();
  if (HasSelection() && clipboard->supportsSelection()) {
    clipboard->setText(SelectedText(), QClipboard::Selection);
  }
}

void LogPane::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  const Position at = PositionAtPoint(event->position().toPoint());
  if (!m_store.Holds(at.line)) return;
  // The word under the pointer, as a text control selects it.
  QTextBoundaryFinder words(QTextBoundaryFinder::Word, DisplayText(at.line));
  words.setPosition(at.column);
  const qsizetype start = words.isAtBoundary() ? at.column : words.toPreviousBoundary();
  words.setPosition(at.column);
  const qsizetype end = words.toNextBoundary();
  Select({at.line, static_cast<int>(std::max<qsizetype>(0, start))},
         {at.line, end < 0 ? DisplayLength(at.line) : static_cast<int>(end)});
}

// ---------------------------------------------------------------------------------------
// Keyboard and menu

void LogPane::keyPressEvent(QKeyEvent* event) {
  QScrollBar* vertical = verticalScrollBar();
  QScrollBar* horizontal = horizontalScrollBar();
  if (event == QKeySequence::Copy) {
    Copy();
  } else if (event == QKeySequence::SelectAll) {
    SelectAll();
  } else if (event->key() == Qt::Key_Up) {
    vertical->triggerAction(QAbstractSlider::SliderSingleStepSub);
  } else if (event->key() == Qt::Key_Down) {
    vertical->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  } else if (event->key() == Qt::Key_PageUp) {
    vertical->triggerAction(QAbstractSlider::SliderPageStepSub);
  } else if (event->key() == Qt::Key_PageDown) {
    vertical->triggerAction(QAbstractSlider::SliderPageStepAdd);
  } else if (event->key() == Qt::Key_Home) {
    vertical->triggerAction(QAbstractSlider::SliderToMinimum);
    horizontal->triggerAction(QAbstractSlider::SliderToMinimum);
  } else if (event->key() == Qt::Key_End) {
    vertical->triggerAction(QAbstractSlider::SliderToMaximum);
  } else if (event->key() == Qt::Key_Left) {
    horizontal->triggerAction(QAbstractSlider::SliderSingleStepSub);
  } else if (event->key() == Qt::Key_Right) {
    horizontal->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  } else {
    QAbstractScrollArea::keyPressEvent(event);
  }
}

void LogPane::contextMenuEvent(QContextMenuEvent* event) {
  // The entries and words of a read-only text control's menu (translated with Qt's own).
  QMenu menu(this);
  QAction* copy = menu.addAction(QCoreApplication::translate("QWidgetTextControl", "&Copy"), this,
                                 &LogPane::Copy);
  copy->setShortcut(QKeySequence::Copy);
  copy->setEnabled(HasSelection());
  QAction* all = menu.addAction(QCoreApplication::translate("QWidgetTextControl", "Select All"),
                                this, &LogPane::SelectAll);
  all->setShortcut(QKeySequence::SelectAll);
  all->setEnabled(m_store.LineCount() > 0);
  menu.exec(event->globalPos());
}

void LogPane::focusInEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusInEvent(event);
  viewport()->update();
}

void LogPane::focusOutEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusOutEvent(event);
  viewport()->update();
}

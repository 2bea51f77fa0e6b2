#pragma once
// The traffic log view over a LogStore: read-only, bounded in characters by dropping the
// oldest lines, built for streams. It lays out and paints only the lines on screen (decoded
// from GBK when they come into view), follows the tail only while the view is at the bottom,
// and keeps the operator's selection on its lines while new lines arrive and old ones go.
// Mouse and keyboard selection, copy, select all and a context menu work as in a text
// control; the text is readable through the accessibility text interface on demand.

#include <QAbstractScrollArea>
#include <QTextLayout>
#include <QTimer>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include "device/log_store.h"

class LogPane final : public QAbstractScrollArea {
  Q_OBJECT
 public:
  // A place in the text: a line and a character in it (0 to the line's length).
  struct Position {
    logstore::LineId line = 0;
    int column = 0;
    auto operator<=>(const Position&) const = default;
  };

  explicit LogPane(QWidget* parent = nullptr);
  ~LogPane() override;

  // The most characters the pane keeps; older lines go first when it is exceeded.
  void SetCharacterLimit(qsizetype limit) { m_store.SetCharacterLimit(limit); }
  [[nodiscard]] qsizetype CharacterLimit() const { return m_store.CharacterLimit(); }

  // Appends GBK text (lines ending in CR LF or LF). The lines are in the pane at once (for
  // recording and copying); the screen follows at once after a quiet spell and a few times a
  // second during a burst, so a flooding device cannot keep the window busy repainting.
  void AppendBatch(std::string_view gbkText,
                   logstore::LineKind kind = logstore::LineKind::kReceived);
  // Brings the screen up to date now.
  void Flush();
  void ClearAll();
  [[nodiscard]] qsizetype CharacterCount() const { return m_store.CharacterCount(); }
  [[nodiscard]] qsizetype LineCount() const { return static_cast<qsizetype>(m_store.LineCount()); }
  [[nodiscard]] const logstore::LogStore& Store() const { return m_store; }

  // The whole text: GBK bytes as received with CR LF line ends, or for the screen with LF.
  [[nodiscard]] std::string GbkText() const { return m_store.Text(); }
  [[nodiscard]] QString PlainText() const;
  [[nodiscard]] QString LineText(logstore::LineId line) const;

  // What a line shows: its text, or in the hex view the number and time followed by the
  // text's bytes in hex. Columns of the selection count in what is shown.
  [[nodiscard]] QString DisplayText(logstore::LineId line) const;
  void SetHexView(bool on);
  [[nodiscard]] bool HexView() const { return m_hexView; }

  // Search: every occurrence of `term` on screen is highlighted; Find selects the next (or
  // previous) one from the selection, wrapping around, and scrolls it into view. ASCII letters
  // match in either case. False when the term occurs nowhere.
  void SetSearchTerm(const QString& term);
  [[nodiscard]] const QString& SearchTerm() const { return m_searchTerm; }
  bool Find(bool forward);

  // Selection; positions outside the held lines are clamped to them.
  void Select(Position anchor, Position cursor);
  void SelectAll();
  void ClearSelection();
  [[nodiscard]] bool HasSelection() const;
  [[nodiscard]] QString SelectedText() const;
  void Copy() const;
  // The selection as offsets into PlainText() (start < end), or an empty range.
  [[nodiscard]] std::pair<qint64, qint64> SelectionOffsets() const;
  [[nodiscard]] Position PositionAt(qint64 offset) const;
  [[nodiscard]] qint64 OffsetOf(Position position) const;

  // The newest line the view shows at its top; whether it follows the tail.
  [[nodiscard]] logstore::LineId TopLine() const { return m_topLine; }
  [[nodiscard]] bool AtBottom() const;
  void ScrollToLine(logstore::LineId line);
  [[nodiscard]] int VisibleRows() const;
  // Where a line's character is on the viewport (for accessibility and tests).
  [[nodiscard]] QRect CharacterRect(Position position);
  [[nodiscard]] Position PositionAtPoint(QPoint viewportPoint);

 signals:
  void selectionChanged();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void changeEvent(QEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  QTextLayout& Layout(logstore::LineId line);
  void Refresh();
  void UpdateScrollBars();
  void MeasureFont();
  Position Clamp(Position position) const;
  [[nodiscard]] std::pair<Position, Position> OrderedSelection() const;
  void ExtendSelectionTo(QPoint viewportPoint);
  void AutoScroll();
  void AnnounceAppended(logstore::LineId from);
  [[nodiscard]] int DisplayLength(logstore::LineId line) const;
  [[nodiscard]] int FindInLine(logstore::LineId line, int fromColumn, bool forward) const;
  void ShowMatch(logstore::LineId line, int column);
  void AddHighlights(logstore::LineId line, const QString& shown,
                     QList<QTextLayout::FormatRange>& ranges) const;

  static constexpr int kGatherMilliseconds = 40;
  static constexpr int kMargin = 4;

  logstore::LogStore m_store;
  QTimer m_gatherTimer;
  QTimer m_autoScroll;
  bool m_pending = false;
  logstore::LineId m_topLine = 0;
  logstore::LineId m_announcedEnd = 0;
  // The view stays on the newest line as they come; off once the operator scrolls back.
  bool m_following = true;
  bool m_placingView = false;  // the pane moves the scroll bar itself
  Position m_anchor;
  Position m_cursor;
  bool m_selecting = false;
  QPoint m_lastDrag;
  int m_rowHeight = 16;
  qreal m_baseline = 12;
  qreal m_averageCharWidth = 8;
  qreal m_tabStop = 80;
  int m_widestSeen = 0;
  bool m_hexView = false;
  QString m_searchTerm;
  std::string m_searchGbk;
  std::unordered_map<logstore::LineId, std::unique_ptr<QTextLayout>> m_layouts;
};

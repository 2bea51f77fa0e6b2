#include "app/log_pane_accessible.h"

#include <QAccessibleWidget>
#include <QTextBoundaryFinder>
#include <algorithm>
#include <climits>

#include "app/log_pane.h"

namespace {

class LogPaneAccessible final : public QAccessibleWidget, public QAccessibleTextInterface {
 public:
  explicit LogPaneAccessible(LogPane* pane) : QAccessibleWidget(pane, QAccessible::EditableText) {}

  [[nodiscard]] LogPane* Pane() const { return static_cast<LogPane*>(widget()); }

  void* interface_cast(QAccessible::InterfaceType type) override {
    if (type == QAccessible::TextInterface) return static_cast<QAccessibleTextInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
  }

  [[nodiscard]] QAccessible::State state() const override {
    QAccessible::State s = QAccessibleWidget::state();
    s.readOnly = true;
    s.multiLine = true;
    s.selectableText = true;
    s.editable = false;
    return s;
  }

  [[nodiscard]] QString text(QAccessible::Text t) const override {
    // The value is the whole text, as a text control's; built only when a tool asks for it.
    if (t == QAccessible::Value) return Pane()->PlainText();
    return QAccessibleWidget::text(t);
  }

  // --- QAccessibleTextInterface ----------------------------------------------------------
  void selection(int selectionIndex, int* startOffset, int* endOffset) const override {
    *startOffset = *endOffset = 0;
    if (selectionIndex != 0 || !Pane()->HasSelection()) return;
    const auto [start, end] = Pane()->SelectionOffsets();
    *startOffset = static_cast<int>(start);
    *endOffset = static_cast<int>(end);
  }
  [[nodiscard]] int selectionCount() const override { return Pane()->HasSelection() ? 1 : 0; }
  void addSelection(int startOffset, int endOffset) override {
    setSelection(0, startOffset, endOffset);
  }
  void removeSelection(int selectionIndex) override {
    if (selectionIndex == 0) Pane()->ClearSelection();
  }
  void setSelection(int /*selectionIndex*/, int startOffset, int endOffset) override {
    Pane()->Select(Pane()->PositionAt(startOffset), Pane()->PositionAt(endOffset));
  }
  [[nodiscard]] int cursorPosition() const override {
    return static_cast<int>(Pane()->SelectionOffsets().second);
  }
  void setCursorPosition(int position) override {
    const LogPane::Position at = Pane()->PositionAt(position);
    Pane()->Select(at, at);
  }
  [[nodiscard]] QString text(int startOffset, int endOffset) const override {
    // Line by line, each with its line break, cut to the range.
    const logstore::LogStore& store = Pane()->Store();
    QString out;
    for (logstore::LineId id = store.LineAt(std::max(0, startOffset)); store.Holds(id); ++id) {
      const auto lineStart = static_cast<int>(store.LineStart(id));
      if (lineStart >= endOffset) break;
      const QString line = Pane()->LineText(id) + QLatin1Char('\n');
      const int from = std::max(0, startOffset - lineStart);
      out += line.mid(from, std::min(endOffset - lineStart, static_cast<int>(line.size())) - from);
    }
    return out;
  }
  [[nodiscard]] int characterCount() const override {
    return static_cast<int>(std::min<qint64>(Pane()->CharacterCount(), INT_MAX));
  }
  [[nodiscard]] QRect characterRect(int offset) const override {
    const QRect local = Pane()->CharacterRect(Pane()->PositionAt(offset));
    if (local.isNull()) return {};
    return QRect(Pane()->viewport()->mapToGlobal(local.topLeft()), local.size());
  }
  [[nodiscard]] int offsetAtPoint(const QPoint& point) const override {
    const QPoint local = Pane()->viewport()->mapFromGlobal(point);
    return static_cast<int>(Pane()->OffsetOf(Pane()->PositionAtPoint(local)));
  }
  void scrollToSubstring(int startIndex, int /*endIndex*/) override {
    const logstore::LineId line = Pane()->PositionAt(startIndex).line;
    if (line < Pane()->TopLine() ||
        line >= Pane()->TopLine() + static_cast<logstore::LineId>(Pane()->VisibleRows())) {
      Pane()->ScrollToLine(line);
    }
  }
  [[nodiscard]] QString attributes(int offset, int* startOffset, int* endOffset) const override {
    *startOffset = 0;
    *endOffset = characterCount();
    (void)offset;
    return {};
  }
  [[nodiscard]] QString textAtOffset(int offset, QAccessible::TextBoundaryType boundary,
                                     int* startOffset, int* endOffset) const override {
    return Piece(offset, boundary, startOffset, endOffset);
  }
  [[nodiscard]] QString textBeforeOffset(int offset, QAccessible::TextBoundaryType boundary,
                                         int* startOffset, int* endOffset) const override {
    int start = 0;
    int end = 0;
    Piece(offset, boundary, &start, &end);
    if (start <= 0) {
      *startOffset = *endOffset = -1;
      return {};
    }
    return Piece(start - 1, boundary, startOffset, endOffset);
  }
  [[nodiscard]] QString textAfterOffset(int offset, QAccessible::TextBoundaryType boundary,
                                        int* startOffset, int* endOffset) const override {
    int start = 0;
    int end = 0;
    Piece(offset, boundary, &start, &end);
    if (end >= characterCount()) {
      *startOffset = *endOffset = -1;
      return {};
    }
    return Piece(end, boundary, startOffset, endOffset);
  }

 private:
  // The character, word, sentence or line around `offset`; every piece lies within one line
  // (its line break included with line and paragraph pieces).
  QString Piece(int offset, QAccessible::TextBoundaryType boundary, int* startOffset,
                int* endOffset) const {
    const int count = characterCount();
    if (boundary == QAccessible::NoBoundary) {
      *startOffset = 0;
      *endOffset = count;
      return text(0, count);
    }
    if (count == 0 || offset < 0 || offset >= count) {
      *startOffset = *endOffset = -1;
      return {};
    }
    const LogPane::Position at = Pane()->PositionAt(offset);
    const QString line = Pane()->LineText(at.line) + QLatin1Char('\n');
    const auto lineStart = static_cast<int>(Pane()->OffsetOf({at.line, 0}));
    int start = 0;
    int end = static_cast<int>(line.size());
    if (boundary == QAccessible::CharBoundary) {
      start = at.column;
      end = at.column + 1;
    } else if (boundary == QAccessible::WordBoundary || boundary == QAccessible::SentenceBoundary) {
      QTextBoundaryFinder finder(boundary == QAccessible::WordBoundary
                                     ? QTextBoundaryFinder::Word
                                     : QTextBoundaryFinder::Sentence,
                                 line);
      finder.setPosition(at.column);
      start = finder.isAtBoundary() ? at.column : static_cast<int>(finder.toPreviousBoundary());
      finder.setPosition(at.column);
      const auto next = finder.toNextBoundary();
      end = next < 0 ? static_cast<int>(line.size()) : static_cast<int>(next);
      start = std::max(0, start);
    }
    *startOffset = lineStart + start;
    *endOffset = lineStart + end;
    return line.mid(start, end - start);
  }
};

QAccessibleInterface* Factory(const QString& className, QObject* object) {
  if (className == QLatin1String("LogPane") && object != nullptr && object->isWidgetType()) {
    return new LogPaneAccessible(static_cast<LogPane*>(object));
  }
  return nullptr;
}

}  // namespace

void InstallLogPaneAccessibility() {
  static const bool installed = [] {
    QAccessible::installFactory(Factory);
    return true;
  }();
  (void)installed;
}

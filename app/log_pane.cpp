#include "app/log_pane.h"

#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <utility>

LogPane::LogPane(QWidget* parent) : QPlainTextEdit(parent) {
  setReadOnly(true);
  setLineWrapMode(QPlainTextEdit::NoWrap);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setUndoRedoEnabled(false);
  // Keyboard selection and copying stay available in a read-only pane.
  setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  m_gatherTimer.setSingleShot(true);
  m_gatherTimer.setInterval(kGatherMilliseconds);
  connect(&m_gatherTimer, &QTimer::timeout, this, &LogPane::Flush);
}

void LogPane::AppendBatch(const QString& text) {
  if (text.isEmpty()) return;
  if (m_gatherTimer.isActive()) {
    m_pending += text;
    return;
  }
  Insert(text);
  m_gatherTimer.start();
}

void LogPane::Flush() {
  if (m_pending.isEmpty()) return;
  const QString text = std::exchange(m_pending, QString());
  Insert(text);
  m_gatherTimer.start();
}

void LogPane::Insert(const QString& text) {
  QScrollBar* bar = verticalScrollBar();
  const bool followTail = bar->value() >= bar->maximum();
  // A cursor of our own: the view's cursor, and so the operator's selection, stays put.
  QTextCursor end(document());
  end.movePosition(QTextCursor::End);
  end.insertText(text);
  m_characters += text.size();
  if (m_characters > m_limit) DropOldestLines();
  if (followTail) bar->setValue(bar->maximum());
}

void LogPane::ClearAll() {
  m_pending.clear();
  clear();
  m_characters = 0;
}

void LogPane::DropOldestLines() {
  // Trim a tenth below the limit at once, so a pane at its bound is not trimmed on every
  // append.
  const qsizetype target = m_limit - m_limit / 10;
  QTextDocument* doc = document();
  QTextBlock block = doc->begin();
  qsizetype removed = 0;
  int blocks = 0;
  while (block.isValid() && m_characters - removed > target && block != doc->lastBlock()) {
    removed += block.length();  // the length counts the line break
    ++blocks;
    block = block.next();
  }
  if (blocks == 0) return;
  QTextCursor cursor(doc);
  cursor.movePosition(QTextCursor::Start);
  cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, blocks);
  cursor.removeSelectedText();
  m_characters -= removed;
}

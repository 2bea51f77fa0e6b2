#pragma once
// The traffic log view: read-only, appends in batches, bounded in characters by dropping the
// oldest lines. It scrolls with new lines only while the view was at the bottom, and never
// disturbs the operator's selection.

#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTimer>

class LogPane final : public QPlainTextEdit {
  Q_OBJECT
 public:
  explicit LogPane(QWidget* parent = nullptr);

  // The most characters the pane keeps; older lines go first when it is exceeded.
  void SetCharacterLimit(qsizetype limit) { m_limit = limit; }
  [[nodiscard]] qsizetype CharacterLimit() const { return m_limit; }

  // Appends `text` (lines ending in "\n") at the end. A line arriving after a quiet spell shows
  // at once; during a burst, appends are gathered and shown a few times a second, so a
  // flooding device cannot keep the window busy repainting.
  void AppendBatch(const QString& text);
  // Shows whatever is gathered now (before the pane's text is read).
  void Flush();
  void ClearAll();
  [[nodiscard]] qsizetype CharacterCount() const { return m_characters; }

 private:
  void DropOldestLines();
  void Insert(const QString& text);

  static constexpr int kGatherMilliseconds = 40;

  qsizetype m_limit = 52428800;
  qsizetype m_characters = 0;
  QString m_pending;
  QTimer m_gatherTimer;
};

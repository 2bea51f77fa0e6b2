#pragma once
// UiDispatcher over Qt's event loop: posted tasks run on the thread that owns this object,
// nested waits are QEventLoops, and a quit request ends them early.

#include <QObject>

#include "serial/ui_dispatcher.h"

class QtUiDispatcher final : public QObject, public UiDispatcher {
  Q_OBJECT
 public:
  explicit QtUiDispatcher(QObject* parent = nullptr) : QObject(parent) {}

  void Post(std::function<void()> task) override;
  void RunFor(std::chrono::milliseconds duration) override;
  [[nodiscard]] bool QuitRequested() const override { return m_quitRequested; }

  // The program is ending: nested waits return, and no new wait starts.
  void RequestQuit();

 signals:
  void quitRequested();

 private:
  bool m_quitRequested = false;
};

#include "app/qt_ui_dispatcher.h"

#include <QEventLoop>
#include <QTimer>

void QtUiDispatcher::Post(std::function<void()> task) {
  // Queued to this object: when the dialog (and so this object) is gone, pending tasks are
  // dropped instead of running against freed state.
  QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
}

void QtUiDispatcher::RunFor(std::chrono::milliseconds duration) {
  if (m_quitRequested) return;
  QEventLoop loop;
  QTimer timer;
  timer.setSingleShot(true);
  timer.setTimerType(Qt::PreciseTimer);
  connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
  connect(this, &QtUiDispatcher::quitRequested, &loop, &QEventLoop::quit);
  timer.start(duration);
  loop.exec();
}

void QtUiDispatcher::RequestQuit() {
  m_quitRequested = true;
  emit quitRequested();
}

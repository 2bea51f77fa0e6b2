#pragma once
// A UiDispatcher over the standard library: a task queue drained by whichever thread calls
// RunFor (that thread is "the UI thread"). For tests and console-less tools.

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

#include "serial/ui_dispatcher.h"

class StdUiDispatcher final : public UiDispatcher {
 public:
  void Post(std::function<void()> task) override;
  void RunFor(std::chrono::milliseconds duration) override;
  [[nodiscard]] bool QuitRequested() const override;

  // Runs tasks until `done()` is true or `timeout` passes; returns done(). For tests.
  bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

  // Any thread: asks the loop to stop; RunFor returns early from then on.
  void RequestQuit();

 private:
  bool RunOne(std::chrono::steady_clock::time_point deadline, bool endOnQuit);

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> tasks_;
  bool quit_ = false;
};

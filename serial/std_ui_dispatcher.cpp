#include "serial/std_ui_dispatcher.h"

#include <algorithm>
#include <utility>

namespace {
// RunUntil's condition may turn true on another thread without a task being posted; it is
// looked at again at least this often.
constexpr auto kConditionRecheck = std::chrono::milliseconds(2);
}  // namespace

void StdUiDispatcher::Post(std::function<void()> task) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    tasks_.push_back(std::move(task));
  }
  wake_.notify_all();
}

void StdUiDispatcher::RunFor(std::chrono::milliseconds duration) {
  const auto deadline = std::chrono::steady_clock::now() + duration;
  while (RunOne(deadline, true)) {
  }
}

bool StdUiDispatcher::QuitRequested() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return quit_;
}

bool StdUiDispatcher::RunUntil(const std::function<bool()>& done,
                               std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return false;
    RunOne(std::min(deadline, now + kConditionRecheck), false);
  }
  return true;
}

void StdUiDispatcher::RequestQuit() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  wake_.notify_all();
}

// Runs the next task, sleeping until one is posted; false when the deadline passed first or,
// with `endOnQuit`, a quit was requested. RunUntil serves tasks after a quit request too, so a
// test can still watch a shutdown.
bool StdUiDispatcher::RunOne(std::chrono::steady_clock::time_point deadline, bool endOnQuit) {
  std::function<void()> task;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    const auto ready = [this, endOnQuit] { return !tasks_.empty() || (endOnQuit && quit_); };
    if (!wake_.wait_until(lock, deadline, ready)) return false;
    if (endOnQuit && quit_) return false;
    task = std::move(tasks_.front());
    tasks_.pop_front();
  }
  task();
  return true;
}

#pragma once
// How the serial engine reaches the UI thread without knowing the toolkit. The console
// implements it with Qt's event loop (app/), tests and tools with StdUiDispatcher.

#include <chrono>
#include <functional>

class UiDispatcher {
 public:
  virtual ~UiDispatcher() = default;

  // Any thread. Queues `task` to run on the UI thread, in posting order. Never blocks.
  virtual void Post(std::function<void()> task) = 0;

  // UI thread. Runs a nested event loop for `duration`: posted tasks and the toolkit's own
  // events are handled meanwhile, the thread sleeps when there is nothing to do. Returns early
  // when a quit of the program has been requested.
  virtual void RunFor(std::chrono::milliseconds duration) = 0;

  // UI thread. True once the program has been asked to quit (it may still be unwinding).
  [[nodiscard]] virtual bool QuitRequested() const = 0;
};

// Waits `milliseconds` while the UI thread keeps handling its events. Must be called on the
// UI thread of `ui`.
void PumpedDelay(UiDispatcher& ui, unsigned milliseconds);

#include "serial/std_ui_dispatcher.h"

// Placeholder until the engine lands.
void StdUiDispatcher::Post(std::function<void()>) {}
void StdUiDispatcher::RunFor(std::chrono::milliseconds) {}
bool StdUiDispatcher::QuitRequested() const { return false; }
bool StdUiDispatcher::RunUntil(const std::function<bool()>&, std::chrono::milliseconds) { return false; }
void StdUiDispatcher::RequestQuit() {}

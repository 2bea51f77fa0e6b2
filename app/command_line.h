#pragma once
// tracker-console's command line, read before any window system is touched, so --help and
// --version work without a display. Options it does not know are Qt's (-platform, -style, ...)
// and are left to the application object.

#include <string>
#include <vector>

struct ConsoleCommandLine {
  enum class Action { kRun, kHelp, kVersion, kError };
  Action action = Action::kRun;
  std::string language;  // "zh", "en", or empty: the saved choice or the locale decides
  std::string error;     // set with kError
};

ConsoleCommandLine ParseConsoleCommandLine(const std::vector<std::string>& arguments);
std::string ConsoleHelpText();

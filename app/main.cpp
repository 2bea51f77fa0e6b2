#include <cstdio>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/config_app.h"

int main(int argc, char** argv) {
  const ConsoleCommandLine line =
      ParseConsoleCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  switch (line.action) {
    case ConsoleCommandLine::Action::kHelp:
      std::fputs(ConsoleHelpText().c_str(), stdout);
      return 0;
    case ConsoleCommandLine::Action::kVersion:
      std::printf("tracker-console %s\n", TC_VERSION);
      return 0;
    case ConsoleCommandLine::Action::kError:
      std::fprintf(stderr, "tracker-console: %s (see tracker-console --help)\n",
                   line.error.c_str());
      return 2;
    case ConsoleCommandLine::Action::kRun:
      break;
  }
  CConfigApp app(argc, argv);
  return app.InitInstance(line.language);
}

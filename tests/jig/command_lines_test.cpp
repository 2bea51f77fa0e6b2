// The three programs' command lines, run as an operator runs them: without a display, each
// answer byte for byte on the stream it belongs to, and the exit status scripts rely on.

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

namespace {

struct Answer {
  int status = -1;
  std::string out;
  std::string err;
};

std::string ReadAll(int fd) {
  std::string text;
  char chunk[4096];
  for (ssize_t got; (got = pread(fd, chunk, sizeof chunk, static_cast<off_t>(text.size()))) > 0;) {
    text.append(chunk, static_cast<std::size_t>(got));
  }
  close(fd);
  return text;
}

// Without a display: a program that reached for a window would fail on the xcb platform.
Answer RunProgram(const char* program, std::vector<std::string> arguments) {
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  setenv("QT_QPA_PLATFORM", "xcb", 1);
  arguments.insert(arguments.begin(), program);
  std::vector<char*> argv;
  for (std::string& a : arguments) argv.push_back(a.data());
  argv.push_back(nullptr);
  const int out = memfd_create("out", MFD_CLOEXEC);
  const int err = memfd_create("err", MFD_CLOEXEC);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err, STDERR_FILENO);
  pid_t pid = -1;
  int status = -1;  // not an exit, should the spawn fail
  if (posix_spawn(&pid, program, &actions, nullptr, argv.data(), environ) == 0)
    waitpid(pid, &status, 0);
  posix_spawn_file_actions_destroy(&actions);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadAll(out), ReadAll(err)};
}

constexpr const char* kJig = TC_JIG_PATH;
constexpr const char* kSim = TC_SIM_PATH;
#ifdef TC_CONSOLE_PATH
constexpr const char* kConsole = TC_CONSOLE_PATH;
#else
constexpr const char* kConsole = nullptr;  // built without the window
#endif

std::string Name(const char* path) {
  const std::string text = path;
  return text.substr(text.rfind('/') + 1);
}

TEST(CommandLines, EveryProgramAnswersAlike) {
  const struct {
    const char* what;
    const char* program;
    std::vector<std::string> arguments;
    int status;
    std::string said;  // status 0: stdout's start; else stderr's line between "NAME: " and "(see"
  } rows[] = {
      {"jig help", kJig, {"--help"}, 0, "usage: tracker-jig [--port COMn"},
      {"jig help, short", kJig, {"-h"}, 0, "usage: tracker-jig [--port COMn"},
      {"jig version", kJig, {"--version"}, 0, "tracker-jig " TC_VERSION "\n"},
      {"jig unknown option", kJig, {"--colour"}, 3, "unknown option --colour"},
      {"jig unknown short option", kJig, {"-x"}, 3, "unknown option -x"},
      {"jig missing value", kJig, {"--all", "--profile"}, 3, "--profile wants FILE"},
      {"jig switch with a value", kJig, {"--all=yes"}, 3, "--all takes no value"},
      {"jig stray word", kJig, {"--all", "now"}, 3, "unexpected argument \"now\""},
      {"jig without a profile", kJig, {"--all"}, 3, "--profile FILE is required"},
      {"jig port below range",
       kJig,
       {"--port", "COM0"},
       3,
       "--port wants a port name COM1..COM127, not \"COM0\""},
      {"jig lowest port", kJig, {"--port", "COM1", "--help"}, 0, "usage: tracker-jig"},
      {"jig highest port", kJig, {"--port=COM127", "--help"}, 0, "usage: tracker-jig"},
      {"jig port above range",
       kJig,
       {"--port=COM128"},
       3,
       "--port wants a port name COM1..COM127, not \"COM128\""},
      {"jig two targets",
       kJig,
       {"--all", "--port", "COM97"},
       3,
       "--port and --all exclude each other"},
      {"jig test time-out at its limit",
       kJig,
       {"--test-timeout", "3600", "-h"},
       0,
       "usage: tracker-jig"},
      {"jig test time-out past its limit",
       kJig,
       {"--test-timeout", "3600.5"},
       3,
       "--test-timeout wants seconds between 0 and 3600, not \"3600.5\""},
      {"jig test time-out not a number",
       kJig,
       {"--test-timeout", "inf"},
       3,
       "--test-timeout wants seconds between 0 and 3600, not \"inf\""},
      {"jig bad GPS criteria",
       kJig,
       {"--gps-criteria", "fix=soon"},
       3,
       "--gps-criteria \"fix=soon\" is not one of fix=SECONDS, used=N, strong=K, dbhz=X (e.g. "
       "fix=60,used=4,strong=3,dbhz=30)"},
      {"sim help", kSim, {"--help"}, 0, "usage: tracker-sim [OPTION]..."},
      {"sim help, short", kSim, {"-h"}, 0, "usage: tracker-sim [OPTION]..."},
      {"sim version", kSim, {"--version"}, 0, "tracker-sim " TC_VERSION "\n"},
      {"sim unknown option", kSim, {"--colour"}, 2, "unknown option --colour"},
      {"sim missing value", kSim, {"--seed"}, 2, "--seed wants N"},
      {"sim switch with a value", kSim, {"--glonass=1"}, 2, "--glonass takes no value"},
      {"sim port number below range",
       kSim,
       {"--port-number", "96"},
       2,
       "--port-number expects a number from 97 to 127"},
      {"sim lowest port number", kSim, {"--port-number", "97", "--help"}, 0, "usage: tracker-sim"},
      {"sim highest port number", kSim, {"--port-number=127", "--help"}, 0, "usage: tracker-sim"},
      {"sim port number above range",
       kSim,
       {"--port-number", "128"},
       2,
       "--port-number expects a number from 97 to 127"},
      {"sim bad fault list",
       kSim,
       {"--fail-test", "gsm,lcd"},
       2,
       "--fail-test expects gsm, gps or key (comma-separated)"},
      {"console help", kConsole, {"--help"}, 0, "usage: tracker-console [--lang zh|en]"},
      {"console help, short", kConsole, {"-h"}, 0, "usage: tracker-console [--lang zh|en]"},
      {"console version", kConsole, {"--version"}, 0, "tracker-console " TC_VERSION "\n"},
      {"console unknown option", kConsole, {"--colour"}, 2, "unknown option --colour"},
      {"console missing value", kConsole, {"--lang"}, 2, "--lang wants zh|en"},
      {"console bad value", kConsole, {"--lang", "fr"}, 2, "--lang wants zh or en, not \"fr\""},
      {"console stray word", kConsole, {"now"}, 2, "unexpected argument \"now\""},
      {"console passes Qt's options on",
       kConsole,
       {"-platform", "offscreen", "--lang=en", "-h"},
       0,
       "usage: tracker-console"},
  };
  for (const auto& row : rows) {
    if (row.program == nullptr) continue;
    const Answer answer = RunProgram(row.program, row.arguments);
    EXPECT_EQ(answer.status, row.status) << row.what << "\n" << answer.err;
    const std::string name = Name(row.program);
    if (row.status == 0) {
      EXPECT_EQ(answer.out.substr(0, row.said.size()), row.said) << row.what;
      EXPECT_EQ(answer.err, "") << row.what;
      // One layout for the three help pages: options in two columns, -h beside --help.
      const bool help = row.said.starts_with("usage: ");
      EXPECT_EQ(help, answer.out.find("\n  -h, --help  ") != std::string::npos) << answer.out;
    } else {
      EXPECT_EQ(answer.err, name + ": " + row.said + " (see " + name + " --help)\n") << row.what;
      EXPECT_EQ(answer.out, "") << row.what;
    }
  }
}

}  // namespace

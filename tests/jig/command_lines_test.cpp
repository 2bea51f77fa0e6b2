// The three programs' command lines, run as an operator runs them: without a display, each
// answer byte for byte on the stream it belongs to, and the exit status scripts rely on.

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <iterator>
#include <sstream>
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

std::vector<std::string> Words(const char* text) {
  std::istringstream in(text);
  return {std::istream_iterator<std::string>(in), {}};
}

std::string Name(const char* path) {
  const std::string text = path;
  return text.substr(text.rfind('/') + 1);
}

TEST(CommandLines, EveryProgramAnswersAlike) {
  const struct {
    const char* what;
    const char* program;
    const char* arguments;  // apart by spaces
    int status;
    std::string said;  // status 0: stdout's start; else stderr's line between "NAME: " and "(see"
  } rows[] = {
      {"help", kJig, "--help", 0, "usage: tracker-jig [--port COMn"},
      {"help, short", kJig, "-h", 0, "usage: tracker-jig [--port COMn"},
      {"version", kJig, "--version", 0, "tracker-jig " TC_VERSION "\n"},
      {"unknown option", kJig, "--colour", 3, "unknown option --colour"},
      {"unknown short option", kJig, "-x", 3, "unknown option -x"},
      {"missing value", kJig, "--all --profile", 3, "--profile wants FILE"},
      {"switch with a value", kJig, "--all=yes", 3, "--all takes no value"},
      {"stray word", kJig, "--all now", 3, "unexpected argument \"now\""},
      {"without a profile", kJig, "--all", 3, "--profile FILE is required"},
      {"port below", kJig, "--port COM0", 3, "--port wants a port name COM1..COM127, not \"COM0\""},
      {"lowest port", kJig, "--port COM1 --help", 0, "usage: tracker-jig"},
      {"highest port", kJig, "--port=COM127 --help", 0, "usage: tracker-jig"},
      {"port above", kJig, "--port=COM128", 3,
       "--port wants a port name COM1..COM127, not \"COM128\""},
      {"two targets", kJig, "--all --port COM97", 3, "--port and --all exclude each other"},
      {"time-out at its limit", kJig, "--test-timeout 3600 -h", 0, "usage: tracker-jig"},
      {"time-out past it", kJig, "--test-timeout 3600.5", 3,
       "--test-timeout wants seconds between 0 and 3600, not \"3600.5\""},
      {"time-out not a number", kJig, "--test-timeout inf", 3,
       "--test-timeout wants seconds between 0 and 3600, not \"inf\""},
      {"bad GPS criteria", kJig, "--gps-criteria fix=soon", 3,
       "--gps-criteria \"fix=soon\" is not one of fix=SECONDS, used=N, strong=K, dbhz=X (e.g. "
       "fix=60,used=4,strong=3,dbhz=30)"},
      {"help", kSim, "--help", 0, "usage: tracker-sim [OPTION]..."},
      {"help, short", kSim, "-h", 0, "usage: tracker-sim [OPTION]..."},
      {"version", kSim, "--version", 0, "tracker-sim " TC_VERSION "\n"},
      {"unknown option", kSim, "--colour", 2, "unknown option --colour"},
      {"missing value", kSim, "--seed", 2, "--seed wants N"},
      {"switch with a value", kSim, "--glonass=1", 2, "--glonass takes no value"},
      {"port below", kSim, "--port-number 96", 2, "--port-number expects a number from 97 to 127"},
      {"lowest port", kSim, "--port-number 97 --help", 0, "usage: tracker-sim"},
      {"highest port", kSim, "--port-number=127 --help", 0, "usage: tracker-sim"},
      {"port above", kSim, "--port-number 128", 2, "--port-number expects a number from 97 to 127"},
      {"bad fault list", kSim, "--fail-test gsm,lcd", 2,
       "--fail-test expects gsm, gps or key (comma-separated)"},
      {"help", kConsole, "--help", 0, "usage: tracker-console [--lang zh|en]"},
      {"help, short", kConsole, "-h", 0, "usage: tracker-console [--lang zh|en]"},
      {"version", kConsole, "--version", 0, "tracker-console " TC_VERSION "\n"},
      {"unknown option", kConsole, "--colour", 2, "unknown option --colour"},
      {"missing value", kConsole, "--lang", 2, "--lang wants zh|en"},
      {"bad value", kConsole, "--lang fr", 2, "--lang wants zh or en, not \"fr\""},
      {"stray word", kConsole, "now", 2, "unexpected argument \"now\""},
      {"Qt's options passed on", kConsole, "-platform offscreen --lang=en -h", 0, "usage: "},
  };
  for (const auto& row : rows) {
    if (row.program == nullptr) continue;
    const std::string name = Name(row.program);
    SCOPED_TRACE(name + ": " + row.what);
    const Answer answer = RunProgram(row.program, Words(row.arguments));
    EXPECT_EQ(answer.status, row.status) << answer.err;
    if (row.status == 0) {
      EXPECT_EQ(answer.out.substr(0, row.said.size()), row.said);
      EXPECT_EQ(answer.err, "");
      // One layout for the three help pages: options in two columns, -h beside --help.
      const bool help = row.said.starts_with("usage: ");
      EXPECT_EQ(help, answer.out.find("\n  -h, --help  ") != std::string::npos) << answer.out;
    } else {
      EXPECT_EQ(answer.err, name + ": " + row.said + " (see " + name + " --help)\n");
      EXPECT_EQ(answer.out, "");
    }
  }
}

}  // namespace

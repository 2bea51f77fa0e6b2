// tracker-board: the line's live board over HTTP, read-only. See --help.

#include <csignal>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <thread>

#include "records/pg_store.h"
#include "tools/board/board_options.h"
#include "tools/board/board_server.h"

namespace {

bool ReadFile(const char* path, std::string* out) {
  std::ifstream file(path, std::ios::binary);
  out->assign(std::istreambuf_iterator<char>(file), {});
  return file.good() || file.eof();
}

int Fail(int code, const std::string& message) {
  std::fprintf(stderr, "tracker-board: %s\n", message.c_str());
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  const auto parsed = board::ParseBoardOptions(std::vector<std::string>(argv + 1, argv + argc));
  if (!parsed.error.empty()) return Fail(board::kExitUsage, parsed.error);
  if (parsed.options.help) return std::fputs(board::BoardHelpText().c_str(), stdout), 0;
  if (parsed.options.version) return std::puts("tracker-board " TC_VERSION), 0;

  std::string chartJs;
  if (!ReadFile(TC_CHARTJS_PATH, &chartJs) || chartJs.empty()) {
    return Fail(board::kExitCannotServe, std::string("cannot read Chart.js from ") +
                                             TC_CHARTJS_PATH + " (package libjs-chart.js)");
  }
  // SIGINT and SIGTERM reach one thread that stops the server; the others never see them.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  board::BoardServer server(parsed.options, std::move(chartJs));
  std::string error;
  if (!server.Bind(&error)) return Fail(board::kExitCannotServe, error);
  std::fprintf(stderr, "tracker-board: serving %s on http://%s:%d/\n",
               records::RedactUrl(parsed.options.records).c_str(), parsed.options.host.c_str(),
               parsed.options.port);
  std::thread stopper([&] {
    int signal = 0;
    sigwait(&signals, &signal);
    server.Stop();
  });
  stopper.detach();
  server.Serve();
  return 0;
}

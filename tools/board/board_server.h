#pragma once
// The board's HTTP side: the page, Chart.js, the figures as JSON and a stream of live updates.
// GET only. One thread keeps the figures current (woken by the store's change watch); every
// request is answered from that copy, so fifty open boards cost the store one reader.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

#include "records/line_figures.h"
#include "tools/board/board_options.h"

namespace httplib {
class Server;
}

namespace board {

class BoardServer {
 public:
  BoardServer(BoardOptions options, std::string chartJs);
  ~BoardServer();
  BoardServer(const BoardServer&) = delete;
  BoardServer& operator=(const BoardServer&) = delete;

  // Binds the address; false with a message when it is taken or not ours.
  bool Bind(std::string* error);
  // Serves until Stop (from another thread or a signal handler's thread).
  void Serve();
  void Stop();

 private:
  void Routes();
  void WatchUnits();
  void KeepFiguresCurrent();
  bool Stopping();
  // Makes current_ what every request and stream gets from now on; mutex_ held.
  void PublishLocked();
  bool Authorized(const std::string& given) const;
  std::string Part(const std::string& name);
  std::string OnDemand(const std::string& what, const std::string& value, int* httpStatus);

  BoardOptions options_;
  std::string chartJs_;
  std::unique_ptr<httplib::Server> http_;
  std::thread refresher_;  // the day's figures
  std::thread watcher_;    // the store's changes and the last units
  std::atomic<int> openStreams_{0};

  std::mutex mutex_;                    // guards the figures below and stopping_
  std::condition_variable changed_;     // a new version, or stopping
  std::condition_variable fullWanted_;  // fullDue_ set, or stopping
  nlohmann::json current_;              // what was last published
  bool fullDue_ = false;
  std::map<std::string, std::string> parts_;  // "figures" and each figure, as JSON text
  std::uint64_t version_ = 0;
  bool storeOk_ = false;
  bool stopping_ = false;

  std::mutex queryMutex_;  // one on-demand question at a time on its own reader
  std::unique_ptr<records::FigureReader> queryReader_;
  // days -> when read, the answer
  std::map<int, std::pair<std::chrono::steady_clock::time_point, std::string>> paretoCache_;
};

}  // namespace board

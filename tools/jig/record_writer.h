#pragma once
// The jig's records are written on a thread of their own, so a slow, locked or hung store never
// holds up the loop that reads the workers, shows the other units' verdicts and answers signals.
//
// Threading contract: the constructor, Submit, Take, fd and Pending belong to the thread that
// owns the writer (the jig's loop). From construction until the destructor returns, the store
// is used by the writer's thread alone; the destructor writes every record submitted before it
// (each store call is bounded by the store's own time-outs) and then joins the thread. Results
// come back in the order they were submitted; fd() is readable while any wait to be taken.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "records/record_store.h"
#include "tools/jig/jig_events.h"

namespace jig {

class RecordWriter {
 public:
  // A record written, or (verdict.kind == kNotice) something the spool has to say.
  struct Result {
    UnitEvent verdict;
    records::StoreStatus status;
  };

  // `offerEvery`: how often records waiting in the spool are offered to the store while no
  // record is written (zero: only when a record is written).
  RecordWriter(records::RecordStore& store, std::chrono::milliseconds offerEvery);
  ~RecordWriter();
  RecordWriter(const RecordWriter&) = delete;
  RecordWriter& operator=(const RecordWriter&) = delete;

  void Submit(const UnitEvent& verdict);
  // The results so far; clears fd().
  std::vector<Result> Take();
  [[nodiscard]] int fd() const { return wakeFd_; }
  // Records submitted whose result has not been taken yet.
  [[nodiscard]] int Pending() const { return pending_; }
  // The store's name, read before the thread started.
  [[nodiscard]] const std::string& StoreName() const { return storeName_; }

 private:
  void Loop();
  void Offer(std::string* lastMessage);
  void Hand(Result result);

  records::RecordStore& store_;
  const std::string storeName_;
  const std::chrono::milliseconds offerEvery_;
  int wakeFd_ = -1;
  int pending_ = 0;  // owner's thread only
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<UnitEvent> queue_;
  std::vector<Result> results_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace jig

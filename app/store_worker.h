#pragma once
// The station's record store on a thread of its own: a line's server that is away or hung costs
// up to its connect and statement time-outs, a locked SQLite file its busy time-out, and the
// window must not freeze meanwhile.
//
// Threading contract: the constructor, Post and the destructor belong to the UI thread. Jobs run
// one at a time, in the order posted, on the worker's thread, which alone opens and touches the
// store (opened by the first job). What a job returns runs afterwards on `context`'s thread
// (queued), unless `context` is gone by then. The destructor lets the queued jobs finish (each
// bounded by the store's time-outs) and joins the thread.

#include <QPointer>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "records/record_store.h"

class QObject;

class StoreWorker {
 public:
  // What a job does with the store (null when it could not be opened: `opened` says why); it
  // returns what is then shown on the UI thread.
  using Job = std::function<std::function<void()>(records::RecordStore* store,
                                                  const records::StoreStatus& opened)>;

  // `url` as for records::OpenStore ("" the station's setting or default file).
  explicit StoreWorker(std::string url);
  ~StoreWorker();
  StoreWorker(const StoreWorker&) = delete;
  StoreWorker& operator=(const StoreWorker&) = delete;

  void Post(QObject* context, Job job);

 private:
  struct Posted {
    QPointer<QObject> context;
    Job job;
  };
  void Loop();

  const std::string url_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Posted> jobs_;
  bool stopping_ = false;
  std::unique_ptr<records::RecordStore> store_;  // the worker's thread only
  records::StoreStatus opened_;                  // the worker's thread only
  std::thread thread_;
};

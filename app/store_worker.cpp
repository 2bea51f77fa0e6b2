#include "app/store_worker.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>

StoreWorker::StoreWorker(std::string url) : url_(std::move(url)), thread_([this] { Loop(); }) {}

StoreWorker::~StoreWorker() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void StoreWorker::Post(QObject* context, Job job) {
  {
    std::lock_guard lock(mutex_);
    jobs_.push_back({QPointer<QObject>(context), std::move(job)});
  }
  wake_.notify_all();
}

void StoreWorker::Loop() {
  bool triedOpen = false;
  std::unique_lock lock(mutex_);
  while (true) {
    wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
    if (jobs_.empty()) return;
    Posted posted = std::move(jobs_.front());
    jobs_.pop_front();
    lock.unlock();
    if (!triedOpen) {
      triedOpen = true;
      store_ = records::OpenStore(url_, &opened_);
    }
    std::function<void()> show = posted.job(store_.get(), opened_);
    // Only the first open's word is news; later jobs see it as no message.
    if (store_) opened_ = records::StoreStatus::Ok();
    // The context is looked at on the UI thread, where it may be deleted.
    if (show) {
      QMetaObject::invokeMethod(
          QCoreApplication::instance(),
          [context = posted.context, show = std::move(show)] {
            if (context) show();
          },
          Qt::QueuedConnection);
    }
    lock.lock();
  }
}

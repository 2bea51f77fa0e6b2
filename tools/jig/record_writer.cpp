#include "tools/jig/record_writer.h"

#include <sys/eventfd.h>
#include <unistd.h>

namespace jig {

RecordWriter::RecordWriter(records::RecordStore& store, std::chrono::milliseconds offerEvery)
    : store_(store),
      storeName_(store.Describe()),
      offerEvery_(offerEvery),
      wakeFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      thread_([this] { Loop(); }) {}

RecordWriter::~RecordWriter() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
  if (wakeFd_ >= 0) close(wakeFd_);
}

void RecordWriter::Submit(const UnitEvent& verdict) {
  ++pending_;
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(verdict);
  }
  wake_.notify_all();
}

std::vector<RecordWriter::Result> RecordWriter::Take() {
  std::uint64_t count = 0;
  if (read(wakeFd_, &count, sizeof count) < 0) count = 0;
  std::vector<Result> taken;
  {
    std::lock_guard lock(mutex_);
    taken.swap(results_);
  }
  for (const Result& result : taken) {
    if (result.verdict.kind == UnitEvent::Kind::kVerdict) --pending_;
  }
  return taken;
}

void RecordWriter::Hand(Result result) {
  {
    std::lock_guard lock(mutex_);
    results_.push_back(std::move(result));
  }
  const std::uint64_t one = 1;
  if (write(wakeFd_, &one, sizeof one) < 0) {
    // The counter cannot overflow at one per record; nothing to do.
  }
}

void RecordWriter::Offer(std::string* lastMessage) {
  // Told once per change, not every time the spool is offered again.
  const records::StoreStatus flushed = store_.Flush();
  if (flushed.message != *lastMessage && !flushed.message.empty()) {
    Result notice;
    notice.verdict.kind = UnitEvent::Kind::kNotice;
    notice.status = flushed;
    Hand(std::move(notice));
  }
  *lastMessage = flushed.message;
}

void RecordWriter::Loop() {
  std::string lastMessage;
  std::unique_lock lock(mutex_);
  while (true) {
    const auto wanted = [this] { return stopping_ || !queue_.empty(); };
    if (offerEvery_.count() > 0) {
      if (!wake_.wait_for(lock, offerEvery_, wanted)) {
        lock.unlock();
        Offer(&lastMessage);
        lock.lock();
        continue;
      }
    } else {
      wake_.wait(lock, wanted);
    }
    if (queue_.empty()) return;  // stopping, and every record written
    UnitEvent verdict = std::move(queue_.front());
    queue_.pop_front();
    lock.unlock();
    Result result{verdict, store_.Append(verdict.record)};
    Hand(std::move(result));
    lock.lock();
  }
}

}  // namespace jig

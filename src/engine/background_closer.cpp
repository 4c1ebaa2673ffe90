// The closing thread takes every queued handle at once and closes them in
// order without the lock; the writer wakes it only for a batch or a drain,
// since each wake-up is a system call (under Wine, a wineserver request).
#include "background_closer.h"

#include <system_error>
#include <utility>

BackgroundCloser::BackgroundCloser(CloseFunction close_function, size_t batch, size_t max_pending)
    : close_function_(close_function),
      batch_(batch == 0 ? 1 : batch),
      max_pending_(max_pending < batch_ ? batch_ : max_pending) {
  try {
    thread_ = std::thread(&BackgroundCloser::close_all, this);
  } catch (const std::system_error&) {
    // Without the thread close() closes at once.
  }
}

BackgroundCloser::~BackgroundCloser() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  work_.notify_one();
  thread_.join();
}

void BackgroundCloser::close(void* handle) {
  if (!thread_.joinable()) {
    close_function_(handle);
    return;
  }
  std::unique_lock<std::mutex> lock(mutex_);
  if (unclosed() >= max_pending_) {
    waiting_for_closes_ = true;
    work_.notify_one();
    closed_.wait(lock, [&] { return unclosed() < max_pending_; });
    waiting_for_closes_ = false;
  }
  queued_.push_back(handle);
  bool wake = queued_.size() == batch_;
  lock.unlock();
  if (wake) work_.notify_one();
}

void BackgroundCloser::drain() {
  if (!thread_.joinable()) return;
  std::unique_lock<std::mutex> lock(mutex_);
  if (unclosed() == 0) return;
  waiting_for_closes_ = true;
  work_.notify_one();
  closed_.wait(lock, [&] { return unclosed() == 0; });
  waiting_for_closes_ = false;
}

// Stops only once the queue is empty: every handle is closed before the
// destructor returns.
void BackgroundCloser::close_all() {
  std::vector<void*> round;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    work_.wait(lock, [&] {
      return stop_ || (!queued_.empty() && (queued_.size() >= batch_ || waiting_for_closes_));
    });
    if (queued_.empty()) return;
    round.swap(queued_);
    closing_ = round.size();
    lock.unlock();
    for (void* handle : round) close_function_(handle);
    round.clear();
    lock.lock();
    closing_ = 0;
    if (waiting_for_closes_) closed_.notify_all();
  }
}

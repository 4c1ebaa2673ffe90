// Closing written files on a thread of their own. Under Wine closing a file
// cost about as much as writing a small one (and on Windows a scanner may
// look at every file as it is closed), while nothing in the run waits for
// the close except a later step on the same file, which drains first.
// Portable: the handle is opaque and the close function is given, so that
// the rules are tested natively.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>
#include <vector>

class BackgroundCloser {
 public:
  using CloseFunction = void (*)(void* handle);

  // The thread is woken once `batch` handles wait (or on drain); close()
  // waits while `max_pending` are not closed yet. Without a thread every
  // handle is closed at once by close().
  explicit BackgroundCloser(CloseFunction close_function, size_t batch = 16,
                            size_t max_pending = 64);
  // Closes everything handed over, then stops the thread.
  ~BackgroundCloser();
  BackgroundCloser(const BackgroundCloser&) = delete;
  BackgroundCloser& operator=(const BackgroundCloser&) = delete;

  // One thread hands handles over and drains. Hands `handle` over; it is
  // closed after every handle handed before it.
  void close(void* handle);
  // Returns once every handle handed over so far is closed.
  void drain();

 private:
  void close_all();
  size_t unclosed() const { return queued_.size() + closing_; }

  CloseFunction close_function_;
  size_t batch_;
  size_t max_pending_;
  std::mutex mutex_;
  std::condition_variable work_;    // handles wait, or the thread is to stop
  std::condition_variable closed_;  // a round of closes is done
  std::vector<void*> queued_;
  size_t closing_ = 0;  // taken by the thread, not closed yet
  bool waiting_for_closes_ = false;
  bool stop_ = false;
  std::thread thread_;
};

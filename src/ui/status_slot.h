// The status line's latest text on its way from the worker to the window,
// without the worker ever waiting for the window: the worker replaces the
// text and asks for a wake-up only when none is outstanding; the window
// takes the newest text when it shows it and says when it has. Portable,
// so that its rules are tested natively.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

class StatusSlot {
 public:
  // Worker: `text` becomes the latest. True when the window has to be woken
  // (no wake-up is outstanding); the caller then posts one.
  bool publish(std::wstring_view text) {
    std::lock_guard<std::mutex> lock(mutex_);
    latest_.assign(text);
    ++published_;
    if (wake_outstanding_) return false;
    wake_outstanding_ = true;
    return true;
  }

  // Window: the latest text, when it is newer than the one taken before;
  // *serial identifies it for mark_shown. Ends the outstanding wake-up, so
  // the next publish wakes the window again.
  bool take(std::wstring* text, uint64_t* serial) {
    std::lock_guard<std::mutex> lock(mutex_);
    wake_outstanding_ = false;
    if (taken_ == published_) return false;
    taken_ = published_;
    *text = latest_;
    *serial = taken_;
    return true;
  }

  // Window: the text of `serial` is on the screen now.
  void mark_shown(uint64_t serial) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (serial > shown_) shown_ = serial;
  }

  // Worker: true while the latest text is not on the screen yet.
  bool unshown() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return shown_ != published_;
  }

 private:
  mutable std::mutex mutex_;
  std::wstring latest_;
  uint64_t published_ = 0;
  uint64_t taken_ = 0;
  uint64_t shown_ = 0;
  bool wake_outstanding_ = false;
};

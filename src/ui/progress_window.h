// The progress window as the run's channel to the user.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <mutex>

#include "user_channel.h"

// The window on its way from the main thread, which makes it, to the
// worker, which starts first so that the package is checked while the
// window is being made.
class WindowHandoff {
 public:
  // Main thread, once: the window, or null when none could be made.
  void publish(HWND window);
  // Worker: returns the window once it is published (null: there is none).
  HWND wait() const;

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable published_;
  bool known_ = false;
  HWND window_ = nullptr;
};

// The status line never holds the worker up: show_status leaves the text
// for the window, which shows the latest one as it comes (at least every
// few tens of milliseconds while texts change). Before a message box and at
// the end of the run the worker waits until the latest text is on the
// screen, so what is seen there is exact. Everything waits for the window
// to exist; without one nothing is shown and questions are cancelled.
class WindowChannel : public UserChannel {
 public:
  explicit WindowChannel(const WindowHandoff& handoff) : handoff_(handoff) {}
  void show_status(std::wstring_view text) override;
  bool ask(Question question, std::wstring_view caption, std::wstring_view text) override;
  void show_commands_failed(std::wstring_view caption, std::wstring_view text) override;
  // The window shows no record of the run.
  void report(const RunEvent&) override {}
  bool wait_until_present() override { return window() != nullptr; }
  // The window, once it exists; null when there is none.
  HWND window() const { return handoff_.wait(); }

 private:
  const WindowHandoff& handoff_;
};

// Shows the latest status text and the button as "OK", then publishes
// RunState: 1 when the outcome waits for OK, 2 otherwise. Called by the
// worker thread as its last step.
void finish_run(HWND window, const RunOutcome& outcome);

// The progress window as the run's channel to the user.
#pragma once

#include <windows.h>

#include "user_channel.h"

// The status line never holds the worker up: show_status leaves the text
// for the window, which shows the latest one as it comes (at least every
// few tens of milliseconds while texts change). Before a message box and at
// the end of the run the worker waits until the latest text is on the
// screen, so what is seen there is exact.
class WindowChannel : public UserChannel {
 public:
  explicit WindowChannel(HWND window) : window_(window) {}
  void show_status(std::wstring_view text) override;
  bool ask(Question question, std::wstring_view caption, std::wstring_view text) override;
  void show_commands_failed(std::wstring_view caption, std::wstring_view text) override;
  // The window shows no record of the run.
  void report(const RunEvent&) override {}

 private:
  HWND window_;
};

// Shows the latest status text and the button as "OK", then publishes
// RunState: 1 when the outcome waits for OK, 2 otherwise. Called by the
// worker thread as its last step.
void finish_run(HWND window, const RunOutcome& outcome);

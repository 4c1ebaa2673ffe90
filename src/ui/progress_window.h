// The progress window as the run's channel to the user.
#pragma once

#include <windows.h>

#include "user_channel.h"

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

// Shows the button as "OK" and publishes RunState: 1 when the outcome waits
// for OK, 2 otherwise. Called by the worker thread as its last step.
void finish_run(HWND window, const RunOutcome& outcome);

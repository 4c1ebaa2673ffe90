// A listener on the run's channel that writes every status text, every box
// with its answer and every event of the run to the run log, and passes
// everything on unchanged to the channel behind it.
#pragma once

#include "run_log_win32.h"
#include "run_switches.h"
#include "user_channel.h"

class LoggingChannel : public UserChannel {
 public:
  LoggingChannel(UserChannel& inner, const RunSwitches& switches, RunLog& log)
      : inner_(inner), switches_(switches), log_(log) {}
  void show_status(std::wstring_view text) override;
  bool ask(Question question, std::wstring_view caption, std::wstring_view text) override;
  void show_commands_failed(std::wstring_view caption, std::wstring_view text) override;
  void report(const RunEvent& event) override;
  bool wait_until_present() override { return inner_.wait_until_present(); }

 private:
  UserChannel& inner_;
  const RunSwitches& switches_;
  RunLog& log_;
};

// The system's text for a Windows error code, in English where the system
// has it, without its trailing line break; empty when there is none.
std::wstring windows_error_message(uint32_t error);

// The run's channel when switches steer it: questions that the switches
// answer are never shown, and the box of failed external programs is not
// shown to an unattended run. With no display behind it (/quiet) the run
// shows nothing at all; with the window behind it (/passive, or /force in
// an attended run) everything else appears as usual.
#pragma once

#include "run_rules.h"
#include "run_switches.h"
#include "user_channel.h"

class RuledChannel : public UserChannel {
 public:
  // `display` may be null: then nothing is shown.
  RuledChannel(UserChannel* display, const RunSwitches& switches)
      : display_(display), switches_(switches) {}
  void show_status(std::wstring_view text) override;
  bool ask(Question question, std::wstring_view caption, std::wstring_view text) override;
  void show_commands_failed(std::wstring_view caption, std::wstring_view text) override;
  void report(const RunEvent& event) override;
  bool wait_until_present() override;

 private:
  UserChannel* display_;
  const RunSwitches& switches_;
};

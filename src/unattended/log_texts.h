// The words of the run log, one text per line: what an administrator reads
// to learn what a run did. Texts of the package and the status line are
// quoted as the user saw them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "run_rules.h"
#include "user_channel.h"

std::wstring start_log_text(std::wstring_view version, std::wstring_view command_line);
// What the arguments (switches taken out) ask for: a package named on the
// command line, the one appended to the program, or an image to build.
std::wstring package_log_text(const std::vector<std::wstring>& arguments);
std::wstring status_log_text(std::wstring_view status);
// A message box and its answer; `automatic` when no one was asked.
std::wstring question_log_text(std::wstring_view caption, std::wstring_view text, bool ok,
                               bool automatic);
std::wstring commands_box_log_text(std::wstring_view text, bool shown);
// `error_message` is the system's text for the event's error code.
std::wstring event_log_text(const RunEvent& event, std::wstring_view error_message);
std::wstring outcome_log_text(const RunOutcome& outcome, int exit_code);

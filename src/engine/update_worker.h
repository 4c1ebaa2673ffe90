// One update run, from the command line to its outcome. The caller owns the
// channel to the user and finishes the run (window, exit code) with the
// outcome.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "user_channel.h"

RunOutcome run_update(std::wstring_view command_line, UserChannel& user);
// The same run from arguments already split (and rid of the switches that
// only the front end reads).
RunOutcome run_update(const std::vector<std::wstring>& argv, UserChannel& user);

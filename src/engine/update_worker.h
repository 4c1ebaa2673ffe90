// One update run, from the command line to its outcome. The caller owns the
// channel to the user and finishes the run (window, exit code) with the
// outcome.
#pragma once

#include <string_view>

#include "user_channel.h"

RunOutcome run_update(std::wstring_view command_line, UserChannel& user);

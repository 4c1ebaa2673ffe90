// How a run with switches behaves towards its user: the answers it gives by
// itself and the exit code it ends with.
#pragma once

#include "run_switches.h"
#include "user_channel.h"

enum class AutoAnswer { kAskTheUser, kOk, kCancel };

// An unattended run answers every question itself: the startup message OK,
// the level prompt Cancel unless /force. /force alone answers only the
// level prompt, with OK.
AutoAnswer automatic_answer(const RunSwitches& switches, Question question);

// The exit codes that an unattended run documents for deployment scripts.
enum ExitCode : int {
  kExitApplied = 0,
  kExitPackageInvalid = 1,
  kExitInstallationNotFound = 2,
  kExitSkipped = 3,
  kExitFilesFailed = 4,
  kExitCommandsFailed = 5,
};

// The code of an unattended run's outcome; 0 for every run without /quiet
// or /passive.
int exit_code_of(const RunOutcome& outcome, const RunSwitches& switches);

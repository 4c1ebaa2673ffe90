// The answers and exit codes of runs with switches.
#include "run_rules.h"

AutoAnswer automatic_answer(const RunSwitches& switches, Question question) {
  if (question == Question::kPatchLevel && switches.force) return AutoAnswer::kOk;
  if (!switches.unattended()) return AutoAnswer::kAskTheUser;
  return question == Question::kStartupMessage ? AutoAnswer::kOk : AutoAnswer::kCancel;
}

int exit_code_of(const RunOutcome& outcome, const RunSwitches& switches) {
  if (!switches.unattended()) return kExitApplied;
  switch (outcome.failure) {
    case RunFailure::kNone:
      return kExitApplied;
    case RunFailure::kBadCommandLine:
    case RunFailure::kPackageRefused:
      return kExitPackageInvalid;
    case RunFailure::kInstallationNotFound:
      return kExitInstallationNotFound;
    case RunFailure::kDeclinedByUser:
      return kExitSkipped;
    case RunFailure::kFilesFailed:
      return kExitFilesFailed;
    case RunFailure::kCommandsFailed:
      return kExitCommandsFailed;
    case RunFailure::kOutOfMemory:
      break;
  }
  return kExitPackageInvalid;
}

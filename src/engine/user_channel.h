// The run's one way to its user, owned by the front end and handed to the
// engine: the progress window, an unattended run, or a test's fake. The
// engine formats every text; the channel only shows, asks and listens.
#pragma once

#include <cstdint>
#include <string_view>

// The two questions of a run; both are answered OK or Cancel.
enum class Question {
  kStartupMessage,  // the package's own box (information icon)
  kPatchLevel,      // the installed level is current or later (warning icon)
};

// What the run did, for a front end that records it. `path` and `value`
// carry what the kind names; `error` is the Windows error code of a failure.
enum class RunEventKind {
  kInstallationFound,  // path: installation folder; value: installed level
  kFolderCreated,      // path
  kFileWritten,        // path
  kFileFailed,         // path, error
  kFileRestored,       // path: the target given back its old content
  kCommandStarted,     // path: program
  kCommandFailedToStart,  // path, error
  kCommandExited,      // path, value: exit code (only when waited for)
  kMarkerFound,        // path: the marker
  kMarkerAbsent,       // path: the marker, not there after a command
  kRemoved,            // path: a file or empty folder that is gone
  kLevelWritten,       // value: the new level
  kLevelNotWritten,    // error
  kOutcome,            // value: the RunFailure
};

struct RunEvent {
  RunEventKind kind;
  std::wstring_view path;
  int64_t value = 0;
  uint32_t error = 0;
};

class UserChannel {
 public:
  virtual ~UserChannel() = default;
  // Replaces the whole status line.
  virtual void show_status(std::wstring_view text) = 0;
  // True when the user answered OK.
  virtual bool ask(Question question, std::wstring_view caption, std::wstring_view text) = 0;
  // The box that reports the failure of the external commands.
  virtual void show_commands_failed(std::wstring_view caption, std::wstring_view text) = 0;
  virtual void report(const RunEvent& event) = 0;
  // Called once, after the package is checked and before the run asks or
  // changes anything: returns when the user can follow the run. False when
  // the user never can (no window could be made for an attended run); the
  // run then ends with nothing changed.
  virtual bool wait_until_present() { return true; }
};

// Which failure ended or marred the run; the first one counts.
enum class RunFailure {
  kNone,
  kBadCommandLine,
  kPackageRefused,
  kInstallationNotFound,
  kDeclinedByUser,
  kOutOfMemory,
  kFilesFailed,
  kCommandsFailed,
};

struct RunOutcome {
  bool wait_for_ok = true;  // RunState 1 (wait for OK) rather than 2
  bool any_failure = false;
  RunFailure failure = RunFailure::kNone;
};

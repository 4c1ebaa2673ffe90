// Formatting the lines of the run log.
#include "log_texts.h"

namespace {

std::wstring number(int64_t value) { return std::to_wstring(value); }

// "error 32: The process cannot access the file..." with the system's text
// when there is one.
std::wstring error_text(uint32_t error, std::wstring_view message) {
  std::wstring text = L"error " + number(error);
  if (!message.empty()) text += L": " + std::wstring(message);
  return text;
}

const wchar_t* failure_name(RunFailure failure) {
  switch (failure) {
    case RunFailure::kNone:
      return L"applied";
    case RunFailure::kBadCommandLine:
      return L"the command line names no package";
    case RunFailure::kPackageRefused:
      return L"the package is missing or invalid";
    case RunFailure::kInstallationNotFound:
      return L"the installation was not found";
    case RunFailure::kDeclinedByUser:
      return L"declined: not applied";
    case RunFailure::kOutOfMemory:
      return L"out of memory";
    case RunFailure::kFilesFailed:
      return L"applied, but files could not be written";
    case RunFailure::kCommandsFailed:
      return L"applied, but an external program failed";
  }
  return L"unknown";
}

}  // namespace

std::wstring start_log_text(std::wstring_view version, std::wstring_view command_line) {
  return L"start: updater " + std::wstring(version) + L"; command line: " +
         std::wstring(command_line);
}

std::wstring package_log_text(const std::vector<std::wstring>& arguments) {
  if (arguments.empty()) return L"package: none named";
  if (arguments.size() > 3) {
    return arguments[3] == L"MAKEEXE" ? L"building an image: " + arguments[2]
                                      : L"package: none (the command line is not understood)";
  }
  if (arguments.size() > 1) return L"package: " + arguments[1];
  return L"package: appended to " + arguments[0];
}

std::wstring status_log_text(std::wstring_view status) {
  return L"status: " + std::wstring(status);
}

std::wstring question_log_text(std::wstring_view caption, std::wstring_view text, bool ok,
                               bool automatic) {
  return L"box \"" + std::wstring(caption) + L"\": " + std::wstring(text) + L" -> " +
         (ok ? L"OK" : L"Cancel") + (automatic ? L" (automatic)" : L" (the user)");
}

std::wstring commands_box_log_text(std::wstring_view text, bool shown) {
  return L"box: " + std::wstring(text) + (shown ? L" -> OK (the user)" : L" -> not shown");
}

std::wstring event_log_text(const RunEvent& event, std::wstring_view error_message) {
  const std::wstring path(event.path);
  switch (event.kind) {
    case RunEventKind::kInstallationFound:
      return L"installation found: " + path + L"; installed level " + number(event.value);
    case RunEventKind::kFolderCreated:
      return L"folder created: " + path;
    case RunEventKind::kFileWritten:
      return L"file written: " + path;
    case RunEventKind::kFileFailed:
      return L"file failed: " + path + L"; " + error_text(event.error, error_message);
    case RunEventKind::kFileRestored:
      return L"file restored: " + path;
    case RunEventKind::kCommandStarted:
      return L"command started: " + path;
    case RunEventKind::kCommandFailedToStart:
      return L"command failed to start: " + path + L"; " + error_text(event.error, error_message);
    case RunEventKind::kCommandExited:
      return L"command ended: " + path + L"; exit code " + number(event.value);
    case RunEventKind::kMarkerFound:
      return L"failure marker found: " + path;
    case RunEventKind::kMarkerAbsent:
      return L"no failure marker: " + path;
    case RunEventKind::kRemoved:
      return L"removed: " + path;
    case RunEventKind::kLevelWritten:
      return L"level written: " + number(event.value);
    case RunEventKind::kLevelNotWritten:
      return L"level not written; " + error_text(event.error, error_message);
    case RunEventKind::kOutcome:
      break;  // the front end writes the outcome with its exit code
  }
  return std::wstring();
}

std::wstring outcome_log_text(const RunOutcome& outcome, int exit_code) {
  return L"outcome: " + std::wstring(failure_name(outcome.failure)) + L"; exit code " +
         number(exit_code);
}

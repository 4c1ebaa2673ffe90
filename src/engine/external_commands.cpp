// Running the package's external programs in the installation folder and
// learning of their failure from the marker file they leave there.
#include <windows.h>

#include <cstring>

#include "messages.h"
#include "section_reader.h"
#include "text_win32.h"
#include "worker_state.h"

namespace {

// Starts one program, waits for it where asked and looks for the marker;
// false when the command failed. A path or command line that does not fit
// its capacity is a failure of that command.
bool run_command(WorkerState* state, const CommandRecord& record) {
  std::wstring program = widen_1251(record.program);
  std::wstring application;
  std::wstring command_line;
  bool fits = (record.flags & kCommandInInstallDir)
                  ? format_bounded<wchar_t>(&application, kCommandCapacity, L"%s%s",
                                            {state->install_dir, program})
                  : format_bounded<wchar_t>(&application, kCommandCapacity, L"%s", {program});
  if (!fits || !format_bounded<wchar_t>(&command_line, kCommandCapacity, kCommandLineFormat,
                                        {widen_1251(record.arguments)})) {
    state->report(RunEventKind::kCommandFailedToStart, program, 0, ERROR_FILENAME_EXCED_RANGE);
    return false;
  }

  STARTUPINFOW startup;
  memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  memset(&process, 0, sizeof process);
  // CreateProcessW may write into the command line: it has its own buffer.
  if (!CreateProcessW(application.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0,
                      nullptr, state->install_dir.c_str(), &startup, &process)) {
    state->report(RunEventKind::kCommandFailedToStart, application, 0, GetLastError());
    return false;
  }
  UniqueHandle process_handle(process.hProcess);
  UniqueHandle thread_handle(process.hThread);
  state->report(RunEventKind::kCommandStarted, application);
  if (record.flags & kCommandWaitForExit) {
    WaitForSingleObject(process_handle.get(), INFINITE);
    DWORD exit_code = 0;
    if (GetExitCodeProcess(process_handle.get(), &exit_code)) {
      state->report(RunEventKind::kCommandExited, application, exit_code);
    }
  }

  std::wstring marker;
  if (!format_bounded<wchar_t>(&marker, kCommandCapacity, kMarkerFormat, {state->install_dir})) {
    return false;
  }
  std::wstring long_marker = extended_path(marker);
  if (GetFileAttributesW(long_marker.c_str()) != INVALID_FILE_ATTRIBUTES) {
    state->report(RunEventKind::kMarkerFound, marker);
    DeleteFileW(long_marker.c_str());  // a marker that stays still counts once
    return false;
  }
  return true;
}

}  // namespace

void run_external_commands(WorkerState* state) {
  SectionBytes section = SectionBytes::load(state->package, ":CommandsToExecute");
  if (!section.present()) return;
  // The worker checked that the list loads; only memory can fail here, and
  // then the commands did not run.
  bool failed = !section.loaded();
  if (section.loaded()) {
    SectionCursor cursor = section_cursor(section.data(), section.size());
    CommandRecord record;
    while (!failed && next_command(&cursor, &record)) failed = !run_command(state, record);
  }
  if (failed) {
    state->user.show_commands_failed(kCommandsFailedCaption, kCommandsFailed);
    state->fail(RunFailure::kCommandsFailed);
  }
}

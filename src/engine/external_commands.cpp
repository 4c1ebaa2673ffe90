// Running the package's external programs in the installation folder and
// learning of their failure from the marker file they leave there.
#include <windows.h>

#include <cstring>

#include "file_safety.h"
#include "messages.h"
#include "progress_window.h"
#include "section_reader.h"
#include "worker_state.h"

namespace {

// Starts one program, waits for it where asked and looks for the marker;
// false when the command failed. A path or command line that does not fit
// its buffer is a failure of that command.
bool run_command(const WorkerState* state, const CommandRecord& record) {
  char application[kCommandCapacity];
  char command_line[kCommandCapacity];
  bool fits = (record.flags & kCommandInInstallDir)
                  ? text_format(application, "%s%s", state->install_dir, record.program)
                  : text_format(application, "%s", record.program);
  if (!fits || !text_format(command_line, kCommandLineFormat, record.arguments)) return false;

  STARTUPINFOA startup;
  memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  memset(&process, 0, sizeof process);
  if (!CreateProcessA(application, command_line, nullptr, nullptr, FALSE, 0, nullptr,
                      state->install_dir, &startup, &process)) {
    return false;
  }
  if (record.flags & kCommandWaitForExit) WaitForSingleObject(process.hProcess, INFINITE);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);

  // The same buffer then holds the marker path.
  if (!text_format(application, kMarkerFormat, state->install_dir)) return false;
  if (GetFileAttributesA(application) != INVALID_FILE_ATTRIBUTES) {
    DeleteFileA(application);  // a marker that stays still counts once
    return false;
  }
  return true;
}

}  // namespace

void run_external_commands(WorkerState* state) {
  int index = find_entry(&state->package, ":CommandsToExecute");
  if (index < 0) return;
  uint8_t* section = load_entry_guarded(state->package, state->package.file, index);
  // The worker checked that the list loads; only memory can fail here, and
  // then the commands did not run.
  bool failed = section == nullptr;
  if (section != nullptr) {
    SectionCursor cursor = section_cursor(section, state->package.entries[index].size);
    CommandRecord record;
    while (!failed && next_command(&cursor, &record)) failed = !run_command(state, record);
    free_entry_buffer(section);
  }
  if (failed) {
    MessageBoxA(progress_window(), kCommandsFailed, kCommandsFailedCaption,
                MB_OK | MB_ICONEXCLAMATION);
    state->any_failure = 1;
  }
}

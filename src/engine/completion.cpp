// The last steps of a run: removing what the package lists, then reporting
// success and recording the new patch level.
#include <windows.h>

#include <cstring>

#include "file_safety.h"
#include "messages.h"
#include "progress_window.h"
#include "section_reader.h"
#include "worker_state.h"

void remove_listed_files(WorkerState* state) {
  int index = find_entry(&state->package, ":FilesToRemove");
  if (index < 0) return;
  uint8_t* section = load_entry_guarded(state->package, state->package.file, index);
  if (section == nullptr) return;
  SectionCursor cursor = section_cursor(section, state->package.entries[index].size);
  const char* name;
  char path[kPathCapacity];
  while (next_list_item(&cursor, &name)) {
    // A name whose path does not fit is skipped; a name may be a file or an
    // empty folder, so both removals are tried and neither result matters.
    if (!text_format(path, "%s%s", state->install_dir, name)) continue;
    DeleteFileA(path);
    RemoveDirectoryA(path);
  }
  free_entry_buffer(section);
}

void complete_update(WorkerState* state) {
  if (state->any_failure) return;
  show_status("%s", kUpdateInstalled);
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, state->settings.key_path, 0,
                    KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_WOW64_32KEY, &key) != ERROR_SUCCESS) {
    return;
  }
  DWORD level;
  memcpy(&level, &state->settings.package_level, sizeof level);
  RegSetValueExA(key, state->settings.level_value_name, 0, REG_DWORD,
                 reinterpret_cast<const BYTE*>(&level), sizeof level);
  RegCloseKey(key);
}

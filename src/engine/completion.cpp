// The last steps of a run: removing what the package lists, then reporting
// success and recording the new patch level.
#include <windows.h>

#include <cstring>

#include "messages.h"
#include "section_reader.h"
#include "text_win32.h"
#include "worker_state.h"

void remove_listed_files(WorkerState* state) {
  SectionBytes section = SectionBytes::load(state->package, ":FilesToRemove");
  if (!section.loaded()) return;
  SectionCursor cursor = section_cursor(section.data(), section.size());
  const char* name;
  std::wstring path;
  while (next_list_item(&cursor, &name)) {
    // A name whose path does not fit is skipped; a name may be a file or an
    // empty folder, so both removals are tried and neither result matters.
    if (!format_bounded<wchar_t>(&path, kPathCapacity, L"%s%s",
                                 {state->install_dir, widen_1251(name)})) {
      continue;
    }
    std::wstring long_path = extended_path(path);
    bool removed = DeleteFileW(long_path.c_str()) != 0;
    removed = RemoveDirectoryW(long_path.c_str()) != 0 || removed;
    if (removed) state->report(RunEventKind::kRemoved, path);
  }
}

void complete_update(WorkerState* state) {
  if (state->outcome.any_failure) return;
  state->status(kUpdateInstalled);
  UniqueKey key;
  LONG opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, state->settings.key_path.c_str(), 0,
                              KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_WOW64_32KEY, key.out());
  if (opened != ERROR_SUCCESS) {
    state->report(RunEventKind::kLevelNotWritten, {}, 0, static_cast<uint32_t>(opened));
    return;
  }
  DWORD level;
  memcpy(&level, &state->settings.package_level, sizeof level);
  LONG set = RegSetValueExW(key.get(), state->settings.level_value_name.c_str(), 0, REG_DWORD,
                            reinterpret_cast<const BYTE*>(&level), sizeof level);
  if (set == ERROR_SUCCESS) {
    state->report(RunEventKind::kLevelWritten, {}, state->settings.package_level);
  } else {
    state->report(RunEventKind::kLevelNotWritten, {}, 0, static_cast<uint32_t>(set));
  }
}

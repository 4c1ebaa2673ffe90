// Writing the package's files into the installation: the name table, the
// folders, and every file with its ".bak" backup and restore.
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include <string>

#include "file_safety.h"
#include "messages.h"
#include "progress_window.h"
#include "section_reader.h"
#include "worker_state.h"

namespace {

constexpr uint8_t kEmptyNameTable[1] = {0};

}  // namespace

void load_name_table(WorkerState* state) {
  state->xlat_names = nullptr;
  state->xlat_size = 0;
  int index = find_entry(&state->package, ":XlatNamesTable");
  if (index < 0) return;
  // A table that cannot be loaded leaves every file under its own name.
  state->xlat_names = load_entry_guarded(state->package, state->package.file, index);
  if (state->xlat_names != nullptr) state->xlat_size = state->package.entries[index].size;
}

void release_name_table(WorkerState* state) {
  free_entry_buffer(state->xlat_names);
  state->xlat_names = nullptr;
  state->xlat_size = 0;
}

const char* xlat_name(const WorkerState* state, const char* entry_name) {
  const uint8_t* table = state->xlat_names != nullptr ? state->xlat_names : kEmptyNameTable;
  size_t size = state->xlat_names != nullptr ? state->xlat_size : sizeof kEmptyNameTable;
  const char* path = find_translation(table, size, entry_name);
  return path != nullptr ? path : entry_name;
}

void create_folders(const WorkerState* state) {
  int index = find_entry(&state->package, ":Folders");
  if (index < 0) return;
  uint8_t* section = load_entry_guarded(state->package, state->package.file, index);
  if (section == nullptr) return;
  SectionCursor cursor = section_cursor(section, state->package.entries[index].size);
  const char* folder;
  char path[kPathCapacity];
  while (next_list_item(&cursor, &folder)) {
    // A folder whose path does not fit is not created; nothing is reported
    // for folders.
    if (text_format(path, "%s%s", state->install_dir, folder)) CreateDirectoryA(path, nullptr);
  }
  free_entry_buffer(section);
}

// Creates the folders on a file's path, outermost first. A folder path that
// does not fit ends the walk.
void make_parent_dirs(const WorkerState* state, const char* relative_path) {
  char folder[kPathCapacity];
  if (!text_format(folder, "%s", state->install_dir)) return;
  const char* position = relative_path[0] == '\\' ? relative_path + 1 : relative_path;
  for (const char* slash = strchr(position, '\\'); slash != nullptr;
       slash = strchr(position, '\\')) {
    size_t used = strlen(folder);
    size_t part = static_cast<size_t>(slash - position);
    if (part + 1 >= sizeof folder - used) return;
    memcpy(folder + used, position, part);
    folder[used + part] = '\0';
    CreateDirectoryA(folder, nullptr);
    folder[used + part] = '\\';
    folder[used + part + 1] = '\0';
    position = slash + 1;
  }
}

namespace {

// Creates the target and fills it from the entry through a writable mapping
// of exactly the entry's size; false when any step fails.
bool write_target(const WorkerState* state, int index, const char* target) {
  const DirectoryEntry& entry = state->package.entries[index];
  HANDLE file = CreateFileA(target, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  // An empty file is valid content; only its mapping would be refused.
  bool written = entry.size == 0;
  if (!written && reserve_file_space(file, entry.size) == ERROR_SUCCESS) {
    HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READWRITE, 0, entry.size, nullptr);
    if (mapping != nullptr) {
      void* view = MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0);
      if (view != nullptr) {
        written = fill_from_entry(state->package, state->package.file, index, static_cast<uint8_t*>(view),
                                  entry.size) == ERROR_SUCCESS;
        UnmapViewOfFile(view);
      }
      CloseHandle(mapping);
    }
  }
  CloseHandle(file);
  return written;
}

std::wstring wide_of(const char* path) {
  int length = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
  std::wstring wide(length > 0 ? length : 1, L'\0');
  if (length > 0) MultiByteToWideChar(CP_ACP, 0, path, -1, &wide[0], length);
  return wide;
}

void report_failure(WorkerState* state, const char* shown_path) {
  state->any_failure = 1;
  show_status(kFileFailed, shown_path);
}

}  // namespace

bool replace_file(WorkerState* state, int index, const char* relative_path) {
  char target[kPathCapacity];
  char backup[kPathCapacity];
  bool paths_fit = text_format(target, "%s%s", state->install_dir, relative_path) &&
                   text_format(backup, "%s.bak", target);
  show_status(kUpdatingFile, relative_path);
  if (!paths_fit) {
    // Nothing is moved or created for a file whose paths do not fit; the
    // folder paths are prefixes of the target, so they fit whenever it does.
    report_failure(state, relative_path);
    return false;
  }
  make_parent_dirs(state, relative_path);

  // Results ignored: with no present file (or a stale backup in the way)
  // the move fails and the removal clears the target path.
  MoveFileA(target, backup);
  delete_file_even_read_only(wide_of(target).c_str());

  if (write_target(state, index, target)) {
    delete_file_even_read_only(wide_of(backup).c_str());
    show_status(kFileUpdated, target);
    return true;
  }
  DeleteFileA(target);
  MoveFileA(backup, target);
  report_failure(state, target);
  return false;
}

void replace_files(WorkerState* state) {
  load_name_table(state);
  create_folders(state);
  for (uint32_t i = 0; i < state->package.header.entry_count; ++i) {
    const char* name = state->package.entries[i].name;
    if (name[0] == ':') continue;
    replace_file(state, static_cast<int>(i), xlat_name(state, name));
  }
}

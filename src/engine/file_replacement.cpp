// Writing the package's files into the installation: the name table, the
// folders, and every file with its ".bak" backup and restore.
#include <windows.h>

#include <cstring>

#include "file_safety.h"
#include "messages.h"
#include "section_reader.h"
#include "text_win32.h"
#include "worker_state.h"

namespace {

constexpr uint8_t kEmptyNameTable[1] = {0};

// A path in the installation, if it fits the path capacity.
bool install_path(const WorkerState& state, std::wstring_view relative, std::wstring* path) {
  return format_bounded<wchar_t>(path, kPathCapacity, L"%s%s", {state.install_dir, relative});
}

void create_folders(WorkerState* state) {
  SectionBytes section = SectionBytes::load(state->package, ":Folders");
  if (!section.loaded()) return;
  SectionCursor cursor = section_cursor(section.data(), section.size());
  const char* folder;
  std::wstring path;
  while (next_list_item(&cursor, &folder)) {
    // A folder whose path does not fit is not created; nothing is shown for
    // folders.
    if (!install_path(*state, widen_1251(folder), &path)) continue;
    if (CreateDirectoryW(extended_path(path).c_str(), nullptr)) {
      state->report(RunEventKind::kFolderCreated, path);
    }
  }
}

// Creates the folders on a file's path, outermost first. The folder paths
// are prefixes of the target, so they fit whenever it does.
void make_parent_dirs(WorkerState* state, const std::wstring& relative_path) {
  size_t position = !relative_path.empty() && relative_path[0] == L'\\' ? 1 : 0;
  for (size_t slash = relative_path.find(L'\\', position); slash != std::wstring::npos;
       slash = relative_path.find(L'\\', slash + 1)) {
    std::wstring folder = state->install_dir + relative_path.substr(position, slash - position);
    if (CreateDirectoryW(extended_path(folder).c_str(), nullptr)) {
      state->report(RunEventKind::kFolderCreated, folder);
    }
  }
}

void report_failure(WorkerState* state, const std::wstring& shown_path, DWORD error) {
  state->fail(RunFailure::kFilesFailed);
  state->last_failed_file = shown_path;
  state->report(RunEventKind::kFileFailed, shown_path, 0, error);
  state->status(kFileFailed, shown_path);
}

}  // namespace

SectionBytes SectionBytes::load(const Package& package, const char* name) {
  SectionBytes section;
  int index = find_entry(&package, name);
  if (index < 0) return section;
  section.present_ = true;
  section.bytes_.reset(load_entry_guarded(package, index));
  if (section.bytes_ != nullptr) section.size_ = package.entries[index].size;
  return section;
}

std::wstring xlat_name(const WorkerState& state, const char* entry_name) {
  const SectionBytes& table = state.name_table;
  const char* path = table.loaded()
                         ? find_translation(table.data(), table.size(), entry_name)
                         : find_translation(kEmptyNameTable, sizeof kEmptyNameTable, entry_name);
  return widen_1251(path != nullptr ? path : entry_name);
}

bool replace_file(WorkerState* state, int index, const std::wstring& relative_path) {
  std::wstring target;
  std::wstring backup;
  bool paths_fit = install_path(*state, relative_path, &target) &&
                   format_bounded<wchar_t>(&backup, kPathCapacity, L"%s.bak", {target});
  state->status(kUpdatingFile, relative_path);
  if (!paths_fit) {
    // Nothing is moved or created for a file whose paths do not fit.
    report_failure(state, relative_path, ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  make_parent_dirs(state, relative_path);

  // Results ignored: with no present file (or a stale backup in the way)
  // the move fails and the removal clears the target path.
  std::wstring long_target = extended_path(target);
  std::wstring long_backup = extended_path(backup);
  // A read-only target that could not be moved aside is deleted all the
  // same; a backup that must go, read-only or not, goes.
  MoveFileW(long_target.c_str(), long_backup.c_str());
  delete_file_even_read_only(long_target.c_str());

  WinResult written = write_target(state->package, index, long_target);
  if (written.ok()) {
    delete_file_even_read_only(long_backup.c_str());
    state->report(RunEventKind::kFileWritten, target);
    state->status(kFileUpdated, target);
    return true;
  }
  DeleteFileW(long_target.c_str());
  if (MoveFileW(long_backup.c_str(), long_target.c_str())) {
    state->report(RunEventKind::kFileRestored, target);
  }
  report_failure(state, target, written.error);
  return false;
}

void replace_files(WorkerState* state) {
  // A table that cannot be loaded leaves every file under its own name.
  state->name_table = SectionBytes::load(state->package, ":XlatNamesTable");
  create_folders(state);
  for (uint32_t i = 0; i < state->package.header.entry_count; ++i) {
    const char* name = state->package.entries[i].name;
    if (name[0] == ':') continue;
    replace_file(state, static_cast<int>(i), xlat_name(*state, name));
  }
}

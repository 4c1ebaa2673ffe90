// Writing the package's files into the installation: the name table, the
// folders, and every file with its ".bak" backup and restore. A second
// thread decodes the next entries while this one writes the current one,
// and a third closes the files written.
#include <windows.h>

#include <cstring>
#include <utility>
#include <vector>

#include "decode_ahead.h"
#include "file_safety.h"
#include "messages.h"
#include "section_reader.h"
#include "text_win32.h"
#include "worker_state.h"

namespace {

constexpr uint8_t kEmptyNameTable[1] = {0};

// Entries up to this size are decoded into memory ahead of their turn and
// written with WriteFile; larger ones are decoded straight into a mapping
// of the file, so that memory stays bounded whatever the package holds.
// Under Wine WriteFile was faster at every size measured (scripts/bench.sh).
constexpr size_t kLargestBufferedEntry = size_t{32} << 20;
// Decoded content held at once, the entry being written included.
constexpr size_t kDecodeAheadBudget = size_t{64} << 20;

// A path as the file system compares names: case does not count.
std::wstring name_key(const std::wstring& path) {
  std::wstring key(path.size(), L'\0');
  int length = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, path.c_str(),
                             static_cast<int>(path.size()), &key[0],
                             static_cast<int>(key.size()), nullptr, nullptr, 0);
  if (length <= 0) return path;
  key.resize(static_cast<size_t>(length));
  return key;
}

// Creates a folder unless this run made or found it before; true when
// this run made it, and so it was empty when made.
bool ensure_folder(WorkerState* state, const std::wstring& folder) {
  auto known = state->folders.find(folder);
  if (known != state->folders.end()) return known->second;
  bool made = CreateDirectoryW(extended_path(folder).c_str(), nullptr) != 0;
  DWORD error = made ? ERROR_SUCCESS : GetLastError();
  if (made) {
    state->report(RunEventKind::kFolderCreated, folder);
    state->created.insert(name_key(folder));
  }
  // Any other failure (no parent yet, no access) is tried again next time.
  if (made || error == ERROR_ALREADY_EXISTS) state->folders.emplace(folder, made);
  return made;
}

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
    ensure_folder(state, path);
  }
}

// Creates the folders on a file's path, outermost first; true when the
// file's own folder was made by this run. The folder paths are prefixes of
// the target, so they fit whenever it does.
bool make_parent_dirs(WorkerState* state, const std::wstring& relative_path) {
  size_t position = !relative_path.empty() && relative_path[0] == L'\\' ? 1 : 0;
  bool made_here = false;
  for (size_t slash = relative_path.find(L'\\', position); slash != std::wstring::npos;
       slash = relative_path.find(L'\\', slash + 1)) {
    made_here = ensure_folder(
        state, state->install_dir + relative_path.substr(position, slash - position));
  }
  return made_here;
}

// True when nothing can be at the target or at its backup path: the folder
// was empty when this run made it, and this run has created neither name
// in it since. Moving the present file aside and removing the backup would
// then only fail, so they are left out.
bool nothing_to_back_up(WorkerState* state, bool folder_made_here, const std::wstring& target,
                        const std::wstring& backup) {
  if (!folder_made_here) return false;
  bool target_created = state->created.count(name_key(target)) != 0;
  if (target_created) {
    // What this run made may now be moved aside (a folder too): from here
    // on every folder is checked again.
    state->folders.clear();
  }
  return !target_created && state->created.count(name_key(backup)) == 0;
}

// Fills the target with the entry: from the content decoded ahead, or
// through a mapping for an entry too large to hold in memory. A file
// written from memory is left open in *written_file.
WinResult write_entry(const WorkerState& state, const AheadEntry& entry,
                      const std::wstring& target, UniqueHandle* written_file) {
  switch (entry.state) {
    case AheadState::kDecoded:
      return write_target_from(entry.data, entry.size, target, written_file);
    case AheadState::kFailed: return create_failed_target(target, ERROR_INVALID_DATA);
    case AheadState::kNotDecoded: break;
  }
  return write_target_mapped(state.package, entry.index, target);
}

void close_handle(void* handle) { CloseHandle(static_cast<HANDLE>(handle)); }

// A written file is closed on the closing thread; its name is kept until
// the thread has closed it.
void close_in_background(WorkerState* state, UniqueHandle file, std::wstring target_key) {
  if (!file.valid() || state->closer == nullptr) return;  // closed here
  state->closing.insert(std::move(target_key));
  state->closer->close(file.release());
}

// A file of this run that may still be open cannot be moved aside or
// removed: the steps on the target and its backup name wait for its close.
void finish_closing(WorkerState* state, const std::wstring& target, const std::wstring& backup) {
  if (state->closing.empty()) return;
  if (state->closing.count(name_key(target)) == 0 &&
      state->closing.count(name_key(backup)) == 0) {
    return;
  }
  state->closer->drain();
  state->closing.clear();
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

bool replace_file(WorkerState* state, const AheadEntry& entry, const std::wstring& relative_path) {
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
  bool folder_made_here = make_parent_dirs(state, relative_path);
  bool backup_steps = !nothing_to_back_up(state, folder_made_here, target, backup);
  if (backup_steps) finish_closing(state, target, backup);

  // Results ignored: with no present file (or a stale backup in the way)
  // the move fails and the removal clears the target path. A move that
  // found no file leaves nothing to remove.
  std::wstring long_target = extended_path(target);
  std::wstring long_backup = extended_path(backup);
  // A read-only target that could not be moved aside is deleted all the
  // same; a move that found no file leaves nothing to remove.
  if (backup_steps && !MoveFileW(long_target.c_str(), long_backup.c_str()) &&
      GetLastError() != ERROR_FILE_NOT_FOUND) {
    delete_file_even_read_only(long_target.c_str());
  }

  UniqueHandle written_file;
  WinResult written = write_entry(*state, entry, long_target, &written_file);
  std::wstring target_key = name_key(target);
  if (folder_made_here) state->created.insert(target_key);
  if (written.ok()) {
    close_in_background(state, std::move(written_file), std::move(target_key));
    if (backup_steps) delete_file_even_read_only(long_backup.c_str());
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

namespace {

// The decoding thread reads the package's view too: a package that can no
// longer be read fails that entry there instead of ending the process.
bool decode_guarded(const Package& package, int index, uint8_t* destination, size_t size) {
  return fill_from_entry(package, index, destination, size) == ERROR_SUCCESS;
}

}  // namespace

void replace_files(WorkerState* state) {
  // A table that cannot be loaded leaves every file under its own name.
  state->name_table = SectionBytes::load(state->package, ":XlatNamesTable");
  create_folders(state);
  std::vector<int> files;
  for (uint32_t i = 0; i < state->package.header.entry_count; ++i) {
    if (state->package.entries[i].name[0] != ':') files.push_back(static_cast<int>(i));
  }
  // Written, shown and restored strictly in directory order: the decoder
  // only runs ahead.
  DecodeAhead ahead(state->package, std::move(files), kLargestBufferedEntry, kDecodeAheadBudget,
                    decode_guarded);
  BackgroundCloser closer(close_handle);
  state->closer = &closer;
  AheadEntry entry;
  while (ahead.take(&entry)) {
    replace_file(state, entry, xlat_name(*state, state->package.entries[entry.index].name));
  }
  // Every file is closed before the programs of the package run.
  closer.drain();
  state->closer = nullptr;
  state->closing.clear();
}

// The worker thread: splits the command line, chooses the mode, opens the
// package and runs the phases in their fixed order, then releases what the
// run holds and ends with finish_run.
#include "update_worker.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "command_line.h"
#include "file_safety.h"
#include "image_builder.h"
#include "installation_lock.h"
#include "package_names.h"
#include "section_reader.h"
#include "messages.h"
#include "progress_window.h"
#include "worker_state.h"

namespace {

// Sections steer the run and a damaged one has no failure path of its own:
// a package whose sections do not load intact is refused like any package
// that is not valid, before anything is touched.
bool sections_intact(const Package* package) {
  static const char* const kSections[] = {":RegistryKeys", ":StartupMsg",
                                          ":XlatNamesTable", ":Folders",
                                          ":CommandsToExecute", ":FilesToRemove"};
  for (const char* name : kSections) {
    int index = find_entry(package, name);
    if (index < 0) continue;
    uint8_t* section = load_entry(package, index);
    if (section == nullptr) return false;
    free_entry_buffer(section);
  }
  return true;
}

// One run per installation at a time; a package without its registry keys
// ends at the installation lookup and needs no lock.
DWORD lock_installation(const Package* package, InstallationLock* lock) {
  int index = find_entry(package, ":RegistryKeys");
  if (index < 0) return ERROR_SUCCESS;
  uint8_t* section = load_entry(package, index);
  if (section == nullptr) return ERROR_SUCCESS;
  RegistryKeysSection keys;
  DWORD result = ERROR_SUCCESS;
  if (parse_registry_keys(section, package->entries[index].size, &keys)) {
    int length = MultiByteToWideChar(1251, 0, keys.key_path, -1, nullptr, 0);
    std::wstring key(length > 0 ? length : 1, L'\0');
    if (length > 0) MultiByteToWideChar(1251, 0, keys.key_path, -1, &key[0], length);
    key.resize(length > 0 ? length - 1 : 0);
    result = acquire_installation_lock(key, lock);
  }
  free_entry_buffer(section);
  return result;
}

// The names are read with the same guard as every other read of the package.
bool names_inside(const Package& package) {
  SectionLoader guarded = [](const Package& p, int index, const void*) {
    return load_entry_guarded(p, p.file, index);
  };
  return check_package_names(package, guarded).safe();
}

void run_phases(WorkerState* state) {
  if (!check_installation(state)) return;
  state->any_failure = 0;
  replace_files(state);
  run_external_commands(state);
  remove_listed_files(state);
  complete_update(state);
}

void release_run(WorkerState* state) {
  release_name_table(state);
  free(state->settings.key_path);
  free(state->settings.program_name);
  free(state->settings.level_value_name);
  state->settings = InstallSettings{};
  close_package(&state->package);
}

}  // namespace

DWORD WINAPI UpdateWorker(LPVOID parameter) {
  const char* command_line = static_cast<const char*>(parameter);
  // The argument list lives until the process ends, like the process itself.
  ArgumentList* arguments = static_cast<ArgumentList*>(calloc(1, sizeof(ArgumentList)));
  if (arguments == nullptr || command_line == nullptr ||
      !split_command_line(command_line, arguments) || arguments->count == 0) {
    show_status("%s", kUsageMessage);
    finish_run(1);
  }

  char** argv = arguments->slots;
  if (arguments->count > 3) {
    if (strcmp(argv[3], kMakeImageKeyword) == 0) {
      build_image(argv[0], argv[1], argv[2]);
      finish_run(0);
    }
    show_status("%s", kUsageMessage);
    finish_run(1);
  }

  WorkerState state = {};
  state.wait_for_ok = 1;
  bool from_image = arguments->count < 2;
  const char* package_path = from_image ? argv[0] : argv[1];
  InstallationLock lock;
  if (open_package(&state.package, package_path, from_image) &&
      sections_intact(&state.package) && names_inside(state.package) &&
      lock_installation(&state.package, &lock) == ERROR_SUCCESS) {
    run_phases(&state);
  } else {
    show_status("%s", kUsageMessage);
  }
  release_run(&state);
  lock.release();
  finish_run(state.wait_for_ok);
}

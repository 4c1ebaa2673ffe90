// The run: splits the command line, chooses the mode, opens the package and
// runs the phases in their fixed order, then releases what the run holds.
#include "update_worker.h"

#include <windows.h>

#include <string>
#include <vector>

#include "command_line.h"
#include "file_safety.h"
#include "image_builder.h"
#include "installation_lock.h"
#include "messages.h"
#include "package_check.h"
#include "package_names.h"
#include "section_reader.h"
#include "text_win32.h"
#include "worker_state.h"

namespace {

// The package file and its read-only view, owned for the whole run.
struct PackageFile {
  UniqueHandle file;
  UniqueHandle mapping;
  UniqueView view;
  size_t size = 0;
};

bool map_package(const std::wstring& path, PackageFile* mapped) {
  std::wstring long_path = extended_path(path);
  mapped->file.reset(CreateFileW(long_path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!mapped->file.valid()) return false;
  DWORD size_high = 0;
  DWORD size = GetFileSize(mapped->file.get(), &size_high);
  // Packages and images are 32-bit; a larger file is not a package. An
  // empty file cannot be mapped, and is refused with them.
  if (size == INVALID_FILE_SIZE || size_high != 0 || size == 0) return false;
  mapped->mapping.reset(
      CreateFileMappingW(mapped->file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  if (!mapped->mapping.valid()) return false;
  mapped->view.reset(MapViewOfFile(mapped->mapping.get(), FILE_MAP_READ, 0, 0, 0));
  mapped->size = size;
  return mapped->view.get() != nullptr;
}

// Sections steer the run and a damaged one has no failure path of its own:
// a package whose sections do not load intact is refused like any package
// that is not valid, before anything is touched.
bool sections_intact(const Package& package) {
  static const char* const kSections[] = {":RegistryKeys",      ":StartupMsg",
                                          ":XlatNamesTable",    ":Folders",
                                          ":CommandsToExecute", ":FilesToRemove"};
  for (const char* name : kSections) {
    SectionBytes section = SectionBytes::load(package, name);
    if (section.present() && !section.loaded()) return false;
  }
  return true;
}

// Names are read with the same guard as every other read of the package.
bool names_inside(const Package& package) {
  SectionLoader guarded = [](const Package& p, int index, const void*) {
    return load_entry_guarded(p, index);
  };
  return check_package_names(package, guarded).safe();
}

// One run per installation at a time. A package without readable registry
// keys ends at the installation lookup, before any change, and needs none.
DWORD lock_installation(const Package& package, InstallationLock* lock) {
  SectionBytes section = SectionBytes::load(package, ":RegistryKeys");
  RegistryKeysSection keys;
  if (!section.loaded() || !parse_registry_keys(section.data(), section.size(), &keys)) {
    return ERROR_SUCCESS;
  }
  return acquire_installation_lock(widen_1251(keys.key_path), lock);
}

void run_phases(WorkerState* state) {
  if (!state->user.wait_until_present()) return;
  if (!check_installation(state)) return;
  replace_files(state);
  run_external_commands(state);
  remove_listed_files(state);
  complete_update(state);
}

RunOutcome usage(UserChannel& user, RunFailure failure) {
  user.show_status(kUsageMessage);
  RunOutcome outcome;
  outcome.any_failure = true;
  outcome.failure = failure;
  return outcome;
}

RunOutcome apply_package(const std::wstring& path, bool from_image, UserChannel& user) {
  PackageFile mapped;
  WorkerState state(user);
  InstallationLock lock;  // held until the run returns
  bool opened = map_package(path, &mapped) &&
                open_package_view(&state.package, static_cast<const uint8_t*>(mapped.view.get()),
                                  mapped.size, from_image);
  // Borrowed, not owned (close_package leaves it): the guarded reads ask
  // the file whether it still has the length the view was made with.
  state.package.file = mapped.file.get();
  if (opened && package_intact(state.package) && sections_intact(state.package) &&
      names_inside(state.package) && lock_installation(state.package, &lock) == ERROR_SUCCESS) {
    run_phases(&state);
  } else {
    state.outcome = usage(user, RunFailure::kPackageRefused);
  }
  close_package(&state.package);
  return state.outcome;
}

}  // namespace

void WorkerState::status(std::wstring_view pattern, std::wstring_view argument) {
  std::wstring text;
  if (format_bounded<wchar_t>(&text, kStatusCapacity, pattern, {argument})) {
    user.show_status(text);
  }
}

RunOutcome run_update(std::wstring_view command_line, UserChannel& user) {
  return run_update(split_command_line(command_line), user);
}

RunOutcome run_update(const std::vector<std::wstring>& argv, UserChannel& user) {
  RunOutcome outcome;
  if (argv.empty()) {
    outcome = usage(user, RunFailure::kBadCommandLine);
  } else if (argv.size() > 3) {
    if (argv[3] == kMakeImageKeyword) {
      // The image builder takes UTF-8 paths, as the publishers' tool does.
      build_image(narrow_utf8(argv[0]).c_str(), narrow_utf8(argv[1]).c_str(),
                  narrow_utf8(argv[2]).c_str());
      outcome.wait_for_ok = false;
    } else {
      outcome = usage(user, RunFailure::kBadCommandLine);
    }
  } else {
    bool from_image = argv.size() < 2;
    outcome = apply_package(from_image ? argv[0] : argv[1], from_image, user);
  }
  user.report(RunEvent{RunEventKind::kOutcome, {}, static_cast<int64_t>(outcome.failure), 0});
  return outcome;
}

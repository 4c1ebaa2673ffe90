// Finding the installed application through the registry, the startup
// message and the patch-level question: the preconditions of an update.
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "messages.h"
#include "progress_window.h"
#include "section_reader.h"
#include "worker_state.h"

// Reads one value below root. The installed applications are commonly 32-bit
// programs, so every key is opened in the 32-bit registry view.
int read_registry_value(HKEY root, const char* key_path, const char* value_name,
                        char (&buffer)[kPathCapacity], DWORD* type, int quiet) {
  memset(buffer, 0, sizeof buffer);
  *type = 0;
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, key_path, 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY, &key) !=
      ERROR_SUCCESS) {
    if (!quiet) show_status(kRegistryKeyError, key_path);
    return 0;
  }
  DWORD value_type = 0;
  DWORD size = sizeof buffer;
  LONG result = RegQueryValueExA(key, value_name, nullptr, &value_type,
                                 reinterpret_cast<BYTE*>(buffer), &size);
  // Values are taken as text whatever their type: data that fills the whole
  // buffer without a terminator cannot be, and counts as a failed read.
  bool terminated = size < sizeof buffer || memchr(buffer, 0, sizeof buffer) != nullptr;
  RegCloseKey(key);
  if (result != ERROR_SUCCESS || !terminated) {
    memset(buffer, 0, sizeof buffer);
    if (!quiet) show_status(kRegistryReadError, value_name);
    return 0;
  }
  *type = value_type;
  return 1;
}

namespace {

char* copy_text(const char* text) {
  size_t length = strlen(text);
  char* copy = static_cast<char*>(malloc(length + 1));
  if (copy != nullptr) memcpy(copy, text, length + 1);
  return copy;
}

bool not_found(void) {
  show_status("%s", kProgramNotFound);
  return false;
}

// Steps through the registry; false when the folder or the program name
// could not be read.
bool read_installation(WorkerState* state, const RegistryKeysSection& keys) {
  InstallSettings* settings = &state->settings;
  char work[kPathCapacity];
  DWORD type = 0;

  char folder[kPathCapacity];
  bool folder_read = read_registry_value(HKEY_LOCAL_MACHINE, settings->key_path,
                                         keys.folder_value_name, folder, &type, 0) != 0;
  if (folder_read) {
    memcpy(state->install_dir, folder, sizeof folder);
    size_t length = strlen(state->install_dir);
    if (length == 0 || state->install_dir[length - 1] != '\\') {
      state->install_dir[length] = '\\';  // room was kept for it
      state->install_dir[length + 1] = '\0';
    }
  }

  bool program_read = read_registry_value(HKEY_LOCAL_MACHINE, settings->key_path,
                                          keys.program_value_name, work, &type, 0) != 0;
  if (program_read) settings->program_name = copy_text(work);

  settings->level_value_name = copy_text(keys.level_value_name);
  settings->package_level = keys.package_level;
  if (settings->level_value_name != nullptr &&
      read_registry_value(HKEY_LOCAL_MACHINE, settings->key_path, settings->level_value_name,
                          work, &type, 1) &&
      type == REG_DWORD) {
    int32_t level;
    memcpy(&level, work, sizeof level);
    settings->installed_level = level;
  }
  return folder_read && program_read && settings->program_name != nullptr &&
         settings->level_value_name != nullptr;
}

bool application_present(const WorkerState* state) {
  char path[2 * kPathCapacity];
  // 511 characters of folder, the backslash and 511 of the name fit.
  if (!text_format(path, "%s%s", state->install_dir, state->settings.program_name)) {
    return false;
  }
  return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

// The package's own startup box; false when the user did not answer OK.
bool confirm_startup_message(const WorkerState* state) {
  int index = find_entry(&state->package, ":StartupMsg");
  if (index < 0) return true;
  uint8_t* section = load_entry(&state->package, index);
  if (section == nullptr) return true;  // a section that cannot be loaded counts as absent
  StartupMessage message =
      parse_startup_message(section, state->package.entries[index].size);
  size_t caption_size = message.caption.size() + 1;
  char* texts = static_cast<char*>(malloc(caption_size + message.text.size() + 1));
  int answer = IDCANCEL;
  if (texts != nullptr) {
    memcpy(texts, message.caption.data(), message.caption.size());
    texts[message.caption.size()] = '\0';
    memcpy(texts + caption_size, message.text.data(), message.text.size());
    texts[caption_size + message.text.size()] = '\0';
    answer = MessageBoxA(progress_window(), texts + caption_size, texts,
                         MB_OKCANCEL | MB_ICONINFORMATION);
    free(texts);
  }
  free_entry_buffer(section);
  return answer == IDOK;
}

bool confirm_patch_level(const InstallSettings& settings) {
  if (settings.installed_level < settings.package_level) return true;
  return MessageBoxA(progress_window(), kLevelPrompt, kLevelPromptCaption,
                     MB_OKCANCEL | MB_ICONEXCLAMATION) == IDOK;
}

}  // namespace

bool check_installation(WorkerState* state) {
  state->settings = InstallSettings{};
  int index = find_entry(&state->package, ":RegistryKeys");
  if (index < 0) return not_found();
  uint8_t* section = load_entry(&state->package, index);
  if (section == nullptr) return not_found();

  RegistryKeysSection keys;
  bool found = parse_registry_keys(section, state->package.entries[index].size, &keys);
  if (found) {
    state->settings.key_path = copy_text(keys.key_path);
    found = state->settings.key_path != nullptr && read_installation(state, keys);
  }
  free_entry_buffer(section);
  if (!found || !application_present(state)) return not_found();

  if (!confirm_startup_message(state) || !confirm_patch_level(state->settings)) {
    state->wait_for_ok = 0;
    return false;
  }
  return true;
}

// Finding the installed application through the registry, the startup
// message and the patch-level question: the preconditions of an update.
#include <windows.h>

#include <climits>
#include <cstring>
#include <new>

#include "messages.h"
#include "section_reader.h"
#include "text_win32.h"
#include "worker_state.h"

namespace {

// A registry string of up to 511 characters and its terminator.
struct RegistryText {
  wchar_t chars[kPathCapacity];
  DWORD type;
};

// Reads one value below HKLM. The installed applications are commonly 32-bit
// programs, so every key is opened in the 32-bit registry view.
bool read_registry_value(WorkerState* state, const std::wstring& value_name, RegistryText* value,
                         bool quiet) {
  memset(value, 0, sizeof *value);
  const std::wstring& key_path = state->settings.key_path;
  UniqueKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key_path.c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY,
                    key.out()) != ERROR_SUCCESS) {
    if (!quiet) state->status(kRegistryKeyError, key_path);
    return false;
  }
  DWORD size = sizeof value->chars;
  LONG result = RegQueryValueExW(key.get(), value_name.c_str(), nullptr, &value->type,
                                 reinterpret_cast<BYTE*>(value->chars), &size);
  // Values are taken as text whatever their type: data that fills the whole
  // buffer without a terminator cannot be, and counts as a failed read.
  bool terminated = size < sizeof value->chars ||
                    wmemchr(value->chars, L'\0', kPathCapacity) != nullptr;
  if (result != ERROR_SUCCESS || !terminated) {
    memset(value, 0, sizeof *value);
    if (!quiet) state->status(kRegistryReadError, value_name);
    return false;
  }
  return true;
}

bool not_found(WorkerState* state) {
  state->status(kProgramNotFound);
  state->fail(RunFailure::kInstallationNotFound);
  return false;
}

// Steps through the registry; false when the folder or the program name
// could not be read.
bool read_installation(WorkerState* state, const RegistryKeysSection& keys) {
  InstallSettings& settings = state->settings;
  RegistryText value;
  bool folder_read = read_registry_value(state, widen_1251(keys.folder_value_name), &value, false);
  if (folder_read) {
    state->install_dir = value.chars;
    if (state->install_dir.empty() || state->install_dir.back() != L'\\') {
      state->install_dir.push_back(L'\\');
    }
  }
  bool program_read =
      read_registry_value(state, widen_1251(keys.program_value_name), &value, false);
  if (program_read) settings.program_name = value.chars;

  settings.level_value_name = widen_1251(keys.level_value_name);
  settings.package_level = keys.package_level;
  if (read_registry_value(state, settings.level_value_name, &value, true) &&
      value.type == REG_DWORD) {
    int32_t level;
    memcpy(&level, value.chars, sizeof level);
    settings.installed_level = level;
  }
  return folder_read && program_read;
}

bool application_present(const WorkerState& state) {
  std::wstring path;
  // 511 characters of folder, the backslash and 511 of the name fit.
  if (!format_bounded<wchar_t>(&path, 2 * kPathCapacity, L"%s%s",
                               {state.install_dir, state.settings.program_name})) {
    return false;
  }
  return GetFileAttributesW(extended_path(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Text of the startup box in a buffer of its own: failing to get one is a
// failure of the run, not an answer of the user.
struct BoxText {
  std::unique_ptr<wchar_t[]> chars;
  bool ok;
};

BoxText box_text(std::string_view bytes) {
  size_t length = bytes.size();
  BoxText text{nullptr, false};
  if (length >= INT_MAX) return text;  // more than the conversion takes
  text.chars.reset(new (std::nothrow) wchar_t[length + 1]);
  if (text.chars == nullptr) return text;
  int written = length == 0 ? 0
                            : MultiByteToWideChar(1251, 0, bytes.data(), static_cast<int>(length),
                                                  text.chars.get(), static_cast<int>(length));
  text.chars[written > 0 ? written : 0] = L'\0';
  text.ok = true;
  return text;
}

enum class Answer { kOk, kDeclined, kFailed };

// The package's own startup box. A section that cannot be loaded counts as
// absent (the worker refused damaged sections before).
Answer confirm_startup_message(WorkerState* state) {
  SectionBytes section = SectionBytes::load(state->package, ":StartupMsg");
  if (!section.loaded()) return Answer::kOk;
  StartupMessage message = parse_startup_message(section.data(), section.size());
  BoxText caption = box_text(message.caption);
  BoxText text = box_text(message.text);
  if (!caption.ok || !text.ok) return Answer::kFailed;
  bool ok = state->user.ask(Question::kStartupMessage, caption.chars.get(), text.chars.get());
  return ok ? Answer::kOk : Answer::kDeclined;
}

bool confirm_patch_level(WorkerState* state) {
  if (state->settings.installed_level < state->settings.package_level) return true;
  return state->user.ask(Question::kPatchLevel, kLevelPromptCaption, kLevelPrompt);
}

}  // namespace

bool check_installation(WorkerState* state) {
  state->settings = InstallSettings{};
  SectionBytes section = SectionBytes::load(state->package, ":RegistryKeys");
  if (!section.loaded()) return not_found(state);
  RegistryKeysSection keys;
  if (!parse_registry_keys(section.data(), section.size(), &keys)) return not_found(state);
  state->settings.key_path = widen_1251(keys.key_path);
  if (!read_installation(state, keys) || !application_present(*state)) return not_found(state);
  state->report(RunEventKind::kInstallationFound, state->install_dir,
                state->settings.installed_level);

  Answer startup = confirm_startup_message(state);
  if (startup == Answer::kFailed) {
    state->fail(RunFailure::kOutOfMemory);
    return false;
  }
  if (startup == Answer::kDeclined || !confirm_patch_level(state)) {
    state->fail(RunFailure::kDeclinedByUser);
    state->outcome.wait_for_ok = false;
    return false;
  }
  return true;
}

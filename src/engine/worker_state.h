// The state one update run owns on the worker thread, and its phases.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "background_closer.h"
#include "decode_ahead.h"
#include "fixed_text.h"
#include "package.h"
#include "target_file.h"
#include "user_channel.h"

// A section's bytes and their size, released by their owner.
class SectionBytes {
 public:
  // Absent or unloadable: loaded() is false.
  static SectionBytes load(const Package& package, const char* name);
  bool present() const { return present_; }
  bool loaded() const { return bytes_ != nullptr; }
  const uint8_t* data() const { return bytes_.get(); }
  size_t size() const { return size_; }

 private:
  struct Release {
    void operator()(uint8_t* bytes) const { free_entry_buffer(bytes); }
  };
  std::unique_ptr<uint8_t, Release> bytes_;
  size_t size_ = 0;
  bool present_ = false;
};

struct InstallSettings {
  std::wstring key_path;
  std::wstring program_name;
  std::wstring level_value_name;
  int32_t package_level = 0;
  int32_t installed_level = 0;
};

struct WorkerState {
  explicit WorkerState(UserChannel& channel) : user(channel) {}

  Package package = {};
  InstallSettings settings;
  // Up to 511 characters as read, and the backslash appended to them.
  std::wstring install_dir;
  SectionBytes name_table;  // XlatNames as loaded
  // Folders this run made or found existing, so that none is made twice;
  // true for those it made.
  std::unordered_map<std::wstring, bool> folders;
  // Everything this run created inside folders it made, as name_key gives.
  std::unordered_set<std::wstring> created;
  // While files are written: the thread that closes them, and the names (as
  // name_key gives) of those handed to it since it was last drained.
  BackgroundCloser* closer = nullptr;
  std::unordered_set<std::wstring> closing;
  UserChannel& user;
  RunOutcome outcome;
  // The path the last failed file's failure line named: a failed run ends
  // on that line again.
  std::wstring last_failed_file;

  // The status line through the bounded formatter: a text over the status
  // capacity leaves the line as it was.
  void status(std::wstring_view pattern, std::wstring_view argument = {});
  void report(RunEventKind kind, std::wstring_view path = {}, int64_t value = 0,
              uint32_t error = 0) {
    user.report(RunEvent{kind, path, value, error});
  }
  // Records a failure; the first one names the run's failure.
  void fail(RunFailure failure) {
    outcome.any_failure = true;
    if (outcome.failure == RunFailure::kNone) outcome.failure = failure;
  }
};

// Installation lookup and preconditions; false ends the run.
bool check_installation(WorkerState* state);

// File replacement: name table, folders, every file entry.
void replace_files(WorkerState* state);
std::wstring xlat_name(const WorkerState& state, const char* entry_name);
bool replace_file(WorkerState* state, const AheadEntry& entry, const std::wstring& relative_path);

// External commands of the package.
void run_external_commands(WorkerState* state);
// Removal of listed files and folders, then the outcome.
void remove_listed_files(WorkerState* state);
void complete_update(WorkerState* state);

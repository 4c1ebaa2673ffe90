// The state one update run owns on the worker thread, and its phases.
#pragma once

#include <cstddef>
#include <cstdint>

#include "fixed_text.h"
#include "package.h"

struct InstallSettings {
  char* key_path;          // heap copies; null while absent
  char* program_name;
  char* level_value_name;
  int32_t package_level;
  int32_t installed_level;
};

struct WorkerState {
  Package package;
  InstallSettings settings;
  // InstallDir: up to 511 characters as read, the appended backslash and the
  // terminator.
  char install_dir[kPathCapacity + 1];
  uint8_t* xlat_names;              // XlatNames: the table as loaded
  size_t xlat_size;
  int wait_for_ok;
  int any_failure;
};

// Installation lookup and preconditions; false ends the run.
bool check_installation(WorkerState* state);

// File replacement: name table, folders, every file entry.
void replace_files(WorkerState* state);
void load_name_table(WorkerState* state);
void release_name_table(WorkerState* state);
void create_folders(const WorkerState* state);
const char* xlat_name(const WorkerState* state, const char* entry_name);
void make_parent_dirs(const WorkerState* state, const char* relative_path);
bool replace_file(WorkerState* state, int index, const char* relative_path);

// External commands of the package.
void run_external_commands(WorkerState* state);
// Removal of listed files and folders, then the outcome.
void remove_listed_files(WorkerState* state);
void complete_update(WorkerState* state);

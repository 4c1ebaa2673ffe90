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
  char install_dir[kPathCapacity];  // InstallDir: ends in a backslash once found
  uint8_t* xlat_names;              // XlatNames: the table as loaded
  size_t xlat_size;
  int wait_for_ok;
  int any_failure;
};

// Installation lookup and preconditions; false ends the run.
bool check_installation(WorkerState* state);
// File replacement: name table, folders, every file entry.
void replace_files(WorkerState* state);
void release_name_table(WorkerState* state);
// External commands of the package.
void run_external_commands(WorkerState* state);
// Removal of listed files and folders, then the outcome.
void remove_listed_files(WorkerState* state);
void complete_update(WorkerState* state);

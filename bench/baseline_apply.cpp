// baseline_apply.exe: only the irreducible work of applying a package, for
// the apply benchmark to hold PATCH.EXE against. For every file entry:
// create the file, map it at the entry's size, decode into the mapping,
// unmap, close. Folders are created once each, before their first file.
//
//   baseline_apply.exe [--file-steps | --write] PACKAGE INSTALL_DIR
//   baseline_apply.exe --check PACKAGE
//
// INSTALL_DIR ends in a backslash. --write decodes each entry into one
// reused buffer instead and writes it with WriteFile (the size of a file of
// 1 MiB or more set first).
// Both write with PATCH.EXE's own functions. --file-steps adds the steps
// that the updater takes around each file besides writing it (folders made
// for every file, move to the backup name, removals), to tell their cost
// apart from that of the progress window. --check writes nothing: it runs
// PATCH.EXE's integrity check of the whole package (hashes with a checksum
// section, one more inflation of every stream without) and prints how long
// the check itself took (check_seconds=), process start-up left out.
//
// Prints its own peak memory (peak_working_set=, peak_pagefile=) at the end.
// Exit code 0 when every file was written, 1 otherwise, 2 for bad usage.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "fixed_text.h"
#include "package.h"
#include "package_check.h"
#include "target_file.h"
#include "text_win32.h"

namespace {

// Creates the folders of `path` below its first `known` bytes; returns the
// length of the folder part, which the next file likely shares.
size_t make_folders(char* path, size_t known) {
  size_t folder_end = 0;
  for (size_t i = 0; path[i] != '\0'; ++i) {
    if (path[i] != '\\') continue;
    if (i > known) {
      path[i] = '\0';
      CreateDirectoryA(path, nullptr);
      path[i] = '\\';
    }
    folder_end = i;
  }
  return folder_end;
}

// Writes every file entry below install_dir; with file_steps also takes the
// updater's steps around each file: its folders made again, the present
// file moved to its backup and removed, the backup removed after the write.
bool apply_all(const Package* package, const char* install_dir, bool file_steps,
               bool by_write) {
  std::vector<uint8_t> buffer;
  char target[kPathCapacity];
  char backup[kPathCapacity];
  char last_folder[kPathCapacity] = "";
  for (uint32_t i = 0; i < package->header.entry_count; ++i) {
    const char* name = package->entries[i].name;
    if (name[0] == ':') continue;
    if (!text_format(target, "%s%s", install_dir, name) ||
        !text_format(backup, "%s.bak", target)) {
      return false;
    }
    // Folders already made for the previous file are not made again.
    size_t known = file_steps ? strlen(install_dir) : 0;
    size_t last_length = strlen(last_folder);
    if (!file_steps && last_length != 0 && strncmp(target, last_folder, last_length) == 0 &&
        target[last_length] == '\\') {
      known = last_length;
    }
    size_t folder_end = make_folders(target, known);
    text_format(last_folder, "%.*s", static_cast<int>(folder_end), target);
    if (file_steps) {
      MoveFileA(target, backup);
      DeleteFileA(target);
    }
    const DirectoryEntry& entry = package->entries[i];
    if (by_write) {
      if (buffer.size() < entry.size) buffer.resize(entry.size);
      if (!load_entry_into(package, static_cast<int>(i), buffer.data())) return false;
    }
    WinResult written =
        by_write ? write_target_from(buffer.data(), entry.size, widen_utf8(target))
                 : write_target_mapped(*package, static_cast<int>(i), widen_utf8(target));
    if (!written.ok()) return false;
    if (file_steps) DeleteFileA(backup);
  }
  return true;
}

// PATCH.EXE's integrity check over an opened package, timed: the same
// function, on the same number of threads.
bool check_only(const Package* package) {
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  bool intact = package_intact(*package);
  QueryPerformanceCounter(&end);
  printf("check_seconds=%.3f\n",
         static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart));
  return intact;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && strcmp(argv[1], "--check") == 0) {
    Package package = {};
    bool intact = open_package(&package, argv[2], false) && check_only(&package);
    close_package(&package);
    return intact ? 0 : 1;
  }
  bool file_steps = argc == 4 && strcmp(argv[1], "--file-steps") == 0;
  bool by_write = argc == 4 && strcmp(argv[1], "--write") == 0;
  if (argc != 3 && !file_steps && !by_write) return 2;
  const char* package_path = argv[argc - 2];
  const char* install_dir = argv[argc - 1];
  Package package = {};
  bool all_written = open_package(&package, package_path, false) &&
                     apply_all(&package, install_dir, file_steps, by_write);
  close_package(&package);
  // Read here, since the timer cannot read a process that has ended.
  PROCESS_MEMORY_COUNTERS memory = {};
  memory.cb = sizeof memory;
  if (GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory)) {
    printf("peak_working_set=%llu\npeak_pagefile=%llu\n",
           static_cast<unsigned long long>(memory.PeakWorkingSetSize),
           static_cast<unsigned long long>(memory.PeakPagefileUsage));
  }
  return all_written ? 0 : 1;
}

// An opened package: the file, its read-only mapping and the directory.
// Used by the worker of an update run and by the publishers' tool.
#pragma once

#include <cstddef>
#include <cstdint>

#include "package_format.h"
#include "package_layout.h"

#ifdef _WIN32
using PlatformHandle = void*;  // HANDLE
#else
using PlatformHandle = intptr_t;  // file descriptor
#endif

struct Package {
  bool has_file;
  PlatformHandle file;
  bool has_mapping;
  PlatformHandle mapping;
  const uint8_t* view;  // null until mapped
  size_t file_size;
  uint32_t package_offset;
  PackageHeader header;
  DirectoryEntry* entries;  // null until the directory was read
};

// Opens the file at `path` (a package file, or with from_image a
// self-contained image) and reads its directory. The Package is filled in as
// far as it got and must be passed to close_package either way.
bool open_package(Package* package, const char* path, bool from_image);

// The byte-level half of open_package over a view the caller already holds;
// it records the view but owns no file or mapping.
bool open_package_view(Package* package, const uint8_t* view, size_t size, bool from_image);

int find_entry(const Package* package, const char* name);

// A new buffer of exactly the entry's size (null on failure; a size of 0
// still gives a non-null buffer). Release with free_entry_buffer.
uint8_t* load_entry(const Package* package, int index);
void free_entry_buffer(uint8_t* buffer);

bool load_entry_into(const Package* package, int index, uint8_t* destination);

// Releases, each only if obtained: entries; the view; the mapping; the file.
void close_package(Package* package);

// The platform half, one implementation per platform.
bool map_package_file(Package* package, const char* path);
void unmap_package_file(Package* package);

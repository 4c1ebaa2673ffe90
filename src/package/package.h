// An opened package: the file, its read-only mapping and the directory.
// Used by the worker of an update run and by the publishers' tool.
#pragma once

#include <cstddef>
#include <cstdint>

#include "package_format.h"
#include "package_layout.h"
#include "package_result.h"

#ifdef _WIN32
using PlatformHandle = void*;  // HANDLE
#else
using PlatformHandle = intptr_t;  // file descriptor
#endif

struct Package {
  bool has_file = false;
  PlatformHandle file{};
  bool has_mapping = false;
  PlatformHandle mapping{};
  const uint8_t* view = nullptr;  // null until mapped
  size_t file_size = 0;
  uint32_t package_offset = 0;
  PackageHeader header{};
  DirectoryEntries entries;  // null until the directory was read
};

// Opens the file at `path` (a package file, or with from_image a
// self-contained image) and reads its directory. The Package is filled in as
// far as it got and must be passed to close_package either way.
PackageResult open_package(Package* package, const char* path, bool from_image);

// The byte-level half of open_package over a view the caller already holds;
// it records the view but owns no file or mapping.
PackageResult open_package_view(Package* package, const uint8_t* view, size_t size,
                                 bool from_image);

int find_entry(const Package* package, const char* name);

// An entry's content and its size, owned together.
struct EntryBytes {
  std::unique_ptr<uint8_t[], FreeDeleter> data;
  size_t size = 0;
};

// A new buffer of exactly the entry's size (an empty entry still gets a
// non-null buffer). Refused with kNoSuchEntry, kEntryDamaged (a stream that
// does not give exactly its size, or a size it can never give) or
// kOutOfMemory.
PackageResult load_entry_bytes(const Package* package, int index, EntryBytes* bytes);

// The same as a bare buffer, for callers that release it with
// free_entry_buffer; null on failure.
uint8_t* load_entry(const Package* package, int index);
void free_entry_buffer(uint8_t* buffer);

PackageResult load_entry_into(const Package* package, int index, uint8_t* destination);

// The entry's stored bytes in the view, as they lie in the file.
ByteSpan stored_bytes_of(const Package* package, const DirectoryEntry& entry);

// Releases, each only if obtained: entries; the view; the mapping; the file.
void close_package(Package* package);

// The platform half, one implementation per platform.
PackageResult map_package_file(Package* package, const char* path);
void unmap_package_file(Package* package);

// Portable checks and reads over the bytes of a package or an image.
// Every function takes the whole file as a span and never reads outside it;
// the platform layer only opens and maps the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "package_format.h"
#include "package_result.h"

struct ByteSpan {
  const uint8_t* data;
  size_t size;
};

struct FreeDeleter {
  void operator()(void* p) const { free(p); }
};
// The decoded directory, owned; released with the Package.
using DirectoryEntries = std::unique_ptr<DirectoryEntry[], FreeDeleter>;

// Where the package begins: 0 for a package file of its own, the trailer's
// value for a self-contained image, whose trailer is its last 8 bytes or,
// in a signed image, the 8 bytes before its certificate table. Refused
// (kNoTrailer) when the trailer's tag is wrong or the file is too short to
// hold a trailer.
PackageResult locate_package(ByteSpan file, bool from_image, uint32_t* package_offset);

// Reads the header at package_offset and the directory it points to, and
// checks that the header, the directory and every entry's stored bytes lie
// inside the file. Nothing is allocated before the directory's stored bytes
// are known to lie inside the file and to be able to hold its records.
PackageResult read_directory(ByteSpan file, uint32_t package_offset, PackageHeader* header,
                             DirectoryEntries* entries);

// Writes exactly entry.size bytes of content at destination: a plain copy
// or an inflation that must give exactly that many bytes.
bool copy_entry_content(ByteSpan file, uint32_t package_offset, const DirectoryEntry& entry,
                        uint8_t* destination);

// Index of the first entry whose name equals `name`, ASCII letters compared
// without regard to case; -1 when there is none.
int find_entry_by_name(const DirectoryEntry* entries, uint32_t entry_count, const char* name);

// True when the entry's stored bytes could ever inflate to its size.
bool entry_size_plausible(const DirectoryEntry& entry);

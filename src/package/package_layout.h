// Portable checks and reads over the bytes of a package or an image.
// Every function takes the whole file as a span and never reads outside it;
// the platform layer only opens and maps the file.
#pragma once

#include <cstddef>
#include <cstdint>

#include "package_format.h"

struct ByteSpan {
  const uint8_t* data;
  size_t size;
};

// Where the package begins: 0 for a package file of its own, the trailer's
// value for a self-contained image, whose trailer is its last 8 bytes or,
// in a signed image, the 8 bytes before its certificate table. False when
// the trailer's tag is wrong or the file is too short to hold a trailer.
bool locate_package(ByteSpan file, bool from_image, uint32_t* package_offset);

// Reads the header at package_offset and the directory it points to, and
// checks that the header, the directory and every entry's stored bytes lie
// inside the file. On success *entries is a malloc'ed array of
// header->entry_count records that the caller frees.
bool read_directory(ByteSpan file, uint32_t package_offset, PackageHeader* header,
                    DirectoryEntry** entries);

// Writes exactly entry.size bytes of content at destination: a plain copy
// or an inflation that must give exactly that many bytes.
bool copy_entry_content(ByteSpan file, uint32_t package_offset, const DirectoryEntry& entry,
                        uint8_t* destination);

// Index of the first entry whose name equals `name`, ASCII letters compared
// without regard to case; -1 when there is none.
int find_entry_by_name(const DirectoryEntry* entries, uint32_t entry_count, const char* name);

// True when the entry's stored bytes could ever inflate to its size; a
// deflate stream cannot grow its input more than about 1032 times.
bool entry_size_plausible(const DirectoryEntry& entry);

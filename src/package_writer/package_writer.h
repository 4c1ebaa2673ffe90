// Writes update packages byte for byte as the updater reads them, with
// options for every variant a reader must accept. Used by the tests and by
// the publishers' tool. Text here is already in Windows-1251.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "package_format.h"

// One entry ready to be laid out: its content already stored plain or
// compressed. Preparing entries is independent per entry, so callers may
// prepare them on several threads.
struct PreparedEntry {
  std::string name;  // at most 31 bytes
  uint32_t size = 0;
  uint16_t flags = 0;  // kEntryFlagsAsProduced for a zlib stream, 0 for plain
  std::vector<uint8_t> stored;
};

// libdeflate's levels: 0 stores, 1 is fastest, 12 gives the smallest stream.
// The default, 10, makes packages about 1% smaller than 9 (and than zlib's 9,
// which is slower); 11 and 12 take up to 40% longer for under 0.1% more
// (scripts/bench.sh, docs/performance.md).
constexpr int kMinCompressionLevel = 0;
constexpr int kMaxCompressionLevel = 12;
constexpr int kDefaultCompressionLevel = 10;

// Compresses `size` bytes at `data` into a zlib stream at `level` (compress
// true) or keeps them plain. False with *error set when the name does not
// fit, the content is 4 GiB or more, or the level is outside 0 to 12.
bool prepare_entry(const std::string& name, const uint8_t* data, size_t size, bool compress,
                   int level, PreparedEntry* entry, std::string* error);

// Convenience forms for tests and small tools.
PreparedEntry compressed_entry(const std::string& name, const std::string& content);
PreparedEntry plain_entry(const std::string& name, const std::string& content);

struct PackageLayout {
  uint32_t directory_storage = kStorageDeflated;  // 0, 2 or 3 (1 makes an invalid package)
  uint32_t extra_header_flags = 0;                // bits above the storage bits
  uint16_t extra_entry_flags = 0;                 // or'ed into every entry's flags
  bool checksums = false;  // a checksum section, first, over everything else
};

// Header, the stored bytes of all entries from offset 32 in order, then the
// directory (compressed at the default level when storage is 2). With
// checksums, the checksum section comes first, stored plain, and holds the
// SHA-256 of the header, of the stored directory and of every other entry.
bool write_package(const std::vector<PreparedEntry>& entries, const PackageLayout& layout,
                   std::vector<uint8_t>* package, std::string* error);

// The self-contained image: program, package, then the 8-byte trailer.
bool make_image(const std::vector<uint8_t>& program, const std::vector<uint8_t>& package,
                std::vector<uint8_t>* image, std::string* error);

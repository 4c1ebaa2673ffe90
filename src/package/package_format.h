// Byte layout of an update package and of the self-contained image trailer.
// Everything here is portable: it describes bytes, never the platform.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t kHeaderSize = 32;
constexpr size_t kDirectoryEntrySize = 48;
constexpr size_t kTrailerSize = 8;
constexpr size_t kEntryNameSize = 32;

// "Korvinda data  " followed by 0x1A; compared byte for byte.
constexpr char kPackageMagic[16] = {'K', 'o', 'r', 'v', 'i', 'n', 'd', 'a',
                                    ' ', 'd', 'a', 't', 'a', ' ', ' ', 0x1A};
constexpr char kTrailerTag[4] = {'K', 'R', 'V', 'D'};

// Values of the header's storage bits (the low two bits of its flags).
constexpr uint32_t kStoragePlain = 0;
constexpr uint32_t kStorageInvalid = 1;
constexpr uint32_t kStorageDeflated = 2;
constexpr uint32_t kStoragePlainToo = 3;

constexpr uint16_t kEntryCompressed = 0x0001;
// What our writer puts in the flags of a compressed entry.
constexpr uint16_t kEntryFlagsAsProduced = 0x0011;
constexpr uint32_t kHeaderFlagsAsProduced = 2;

struct PackageHeader {
  char magic[16];
  uint32_t entry_count;
  uint32_t directory_offset;
  uint32_t flags;
  uint32_t directory_stored_size;
};
static_assert(sizeof(PackageHeader) == kHeaderSize, "header is 32 bytes");

struct DirectoryEntry {
  char name[kEntryNameSize];
  uint32_t offset;
  uint32_t size;
  uint16_t reserved;
  uint16_t flags;
  uint32_t stored_size;
};
static_assert(sizeof(DirectoryEntry) == kDirectoryEntrySize, "entry is 48 bytes");

struct ImageTrailer {
  uint32_t package_offset;
  char tag[4];
};
static_assert(sizeof(ImageTrailer) == kTrailerSize, "trailer is 8 bytes");

inline uint32_t read_le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline uint16_t read_le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline void write_le32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

inline void write_le16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

// True when [offset, offset + length) lies inside a block of `total` bytes.
// Written so that no sum can overflow.
inline bool range_inside(uint64_t total, uint64_t offset, uint64_t length) {
  return offset <= total && length <= total - offset;
}

// The byte layout of an update package, of the self-contained image trailer
// and of the checksum section: sizes, field offsets, limits, section names,
// and the encoders and decoders of the fixed records. The reader, the
// writer and the publishers' tool all take the format from here.
// Everything here is portable: it describes bytes, never the platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

constexpr size_t kHeaderSize = 32;
constexpr size_t kDirectoryEntrySize = 48;
constexpr size_t kTrailerSize = 8;
constexpr size_t kEntryNameSize = 32;

// Field offsets inside the header.
constexpr size_t kHeaderMagicAt = 0;
constexpr size_t kHeaderEntryCountAt = 16;
constexpr size_t kHeaderDirectoryOffsetAt = 20;
constexpr size_t kHeaderFlagsAt = 24;
constexpr size_t kHeaderDirectoryStoredSizeAt = 28;

// Field offsets inside a directory record.
constexpr size_t kEntryNameAt = 0;
constexpr size_t kEntryOffsetAt = 32;
constexpr size_t kEntrySizeAt = 36;
constexpr size_t kEntryReservedAt = 40;
constexpr size_t kEntryFlagsAt = 42;
constexpr size_t kEntryStoredSizeAt = 44;

// Field offsets inside the trailer, the last bytes of an image.
constexpr size_t kTrailerPackageOffsetAt = 0;
constexpr size_t kTrailerTagAt = 4;

// "Korvinda data  " followed by 0x1A; compared byte for byte.
constexpr char kPackageMagic[16] = {'K', 'o', 'r', 'v', 'i', 'n', 'd', 'a',
                                    ' ', 'd', 'a', 't', 'a', ' ', ' ', 0x1A};
constexpr char kTrailerTag[4] = {'K', 'R', 'V', 'D'};

// Values of the header's storage bits (the low two bits of its flags).
constexpr uint32_t kStorageMask = 3;
constexpr uint32_t kStoragePlain = 0;
constexpr uint32_t kStorageInvalid = 1;
constexpr uint32_t kStorageDeflated = 2;
constexpr uint32_t kStoragePlainToo = 3;

constexpr uint16_t kEntryCompressed = 0x0001;
// What our writer puts in the flags of a compressed entry.
constexpr uint16_t kEntryFlagsAsProduced = 0x0011;
constexpr uint32_t kHeaderFlagsAsProduced = 2;

// A deflate stream turns each input byte into at most 1032 output bytes;
// the slack covers the zlib header and the smallest blocks. A size above
// this bound can never come out of the stored bytes.
constexpr uint64_t kMaxInflateRatio = 1032;
constexpr uint64_t kInflateSlack = 64;
inline bool inflate_bound_allows(uint64_t stored_size, uint64_t size) {
  return size <= stored_size * kMaxInflateRatio + kInflateSlack;
}

// A name beginning with this byte is a named section, never a file.
constexpr char kSectionPrefix = ':';
inline constexpr char kRegistryKeysName[] = ":RegistryKeys";
inline constexpr char kStartupMsgName[] = ":StartupMsg";
inline constexpr char kXlatNamesTableName[] = ":XlatNamesTable";
inline constexpr char kFoldersName[] = ":Folders";
inline constexpr char kCommandsToExecuteName[] = ":CommandsToExecute";
inline constexpr char kFilesToRemoveName[] = ":FilesToRemove";
inline constexpr char kChecksumsName[] = ":Checksums";

// The checksum section, stored plain, version 1:
//   0   1  version (1)
//   1   3  zero
//   4   4  entry count, equal to the header's
//   8  32  SHA-256 of the header's 32 bytes
//  40  32  SHA-256 of the directory's stored bytes
//  72  32 x entry count: SHA-256 of each entry's stored bytes, in directory
//          order; the record of the checksum section itself is all zero.
constexpr uint8_t kChecksumsVersion = 1;
constexpr size_t kSha256Size = 32;
constexpr size_t kChecksumsVersionAt = 0;
constexpr size_t kChecksumsEntryCountAt = 4;
constexpr size_t kChecksumsHeaderDigestAt = 8;
constexpr size_t kChecksumsDirectoryDigestAt = 40;
constexpr size_t kChecksumsEntryDigestsAt = 72;
constexpr uint64_t checksums_section_size(uint64_t entry_count) {
  return kChecksumsEntryDigestsAt + entry_count * kSha256Size;
}

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

// Decoders read exactly the record's size at p; encoders write exactly it.
inline PackageHeader decode_header(const uint8_t* p) {
  PackageHeader header;
  memcpy(header.magic, p + kHeaderMagicAt, sizeof header.magic);
  header.entry_count = read_le32(p + kHeaderEntryCountAt);
  header.directory_offset = read_le32(p + kHeaderDirectoryOffsetAt);
  header.flags = read_le32(p + kHeaderFlagsAt);
  header.directory_stored_size = read_le32(p + kHeaderDirectoryStoredSizeAt);
  return header;
}

inline void encode_header(const PackageHeader& header, uint8_t* p) {
  memcpy(p + kHeaderMagicAt, header.magic, sizeof header.magic);
  write_le32(p + kHeaderEntryCountAt, header.entry_count);
  write_le32(p + kHeaderDirectoryOffsetAt, header.directory_offset);
  write_le32(p + kHeaderFlagsAt, header.flags);
  write_le32(p + kHeaderDirectoryStoredSizeAt, header.directory_stored_size);
}

inline DirectoryEntry decode_directory_entry(const uint8_t* p) {
  DirectoryEntry entry;
  memcpy(entry.name, p + kEntryNameAt, sizeof entry.name);
  entry.offset = read_le32(p + kEntryOffsetAt);
  entry.size = read_le32(p + kEntrySizeAt);
  entry.reserved = read_le16(p + kEntryReservedAt);
  entry.flags = read_le16(p + kEntryFlagsAt);
  entry.stored_size = read_le32(p + kEntryStoredSizeAt);
  return entry;
}

inline void encode_directory_entry(const DirectoryEntry& entry, uint8_t* p) {
  memcpy(p + kEntryNameAt, entry.name, sizeof entry.name);
  write_le32(p + kEntryOffsetAt, entry.offset);
  write_le32(p + kEntrySizeAt, entry.size);
  write_le16(p + kEntryReservedAt, entry.reserved);
  write_le16(p + kEntryFlagsAt, entry.flags);
  write_le32(p + kEntryStoredSizeAt, entry.stored_size);
}

inline ImageTrailer decode_trailer(const uint8_t* p) {
  ImageTrailer trailer;
  trailer.package_offset = read_le32(p + kTrailerPackageOffsetAt);
  memcpy(trailer.tag, p + kTrailerTagAt, sizeof trailer.tag);
  return trailer;
}

inline void encode_trailer(uint32_t package_offset, uint8_t* p) {
  write_le32(p + kTrailerPackageOffsetAt, package_offset);
  memcpy(p + kTrailerTagAt, kTrailerTag, sizeof kTrailerTag);
}

inline bool entry_is_compressed(const DirectoryEntry& entry) {
  return (entry.flags & kEntryCompressed) != 0;
}

// The number of bytes the entry occupies in the package.
inline uint64_t entry_stored_length(const DirectoryEntry& entry) {
  return entry_is_compressed(entry) ? entry.stored_size : entry.size;
}

inline bool directory_is_deflated(const PackageHeader& header) {
  return (header.flags & kStorageMask) == kStorageDeflated;
}

inline uint64_t directory_content_length(const PackageHeader& header) {
  return static_cast<uint64_t>(header.entry_count) * kDirectoryEntrySize;
}

// The number of bytes the directory occupies in the package.
inline uint64_t directory_stored_length(const PackageHeader& header) {
  return directory_is_deflated(header) ? header.directory_stored_size
                                       : directory_content_length(header);
}

inline bool is_section_name(const char* name) { return name[0] == kSectionPrefix; }

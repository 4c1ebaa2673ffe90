// Byte-level reading of packages: locating, header, directory, entries.
// Nothing read from the file is trusted before it is checked against the
// size of the file.
#include "package_layout.h"

#include <cstdlib>
#include <cstring>

#include "entry_inflate.h"
#include "pe_image.h"

namespace {

// A deflate stream turns each input byte into at most 1032 output bytes;
// the slack covers the zlib header and the smallest blocks.
constexpr uint64_t kMaxInflateRatio = 1032;
constexpr uint64_t kInflateSlack = 64;

PackageHeader decode_header(const uint8_t* p) {
  PackageHeader header;
  memcpy(header.magic, p, sizeof header.magic);
  header.entry_count = read_le32(p + 16);
  header.directory_offset = read_le32(p + 20);
  header.flags = read_le32(p + 24);
  header.directory_stored_size = read_le32(p + 28);
  return header;
}

void decode_entries(DirectoryEntry* entries, uint32_t count) {
  // The directory bytes were placed in the array as they are stored; turn
  // the little-endian fields into host values in place.
  for (uint32_t i = 0; i < count; ++i) {
    uint8_t raw[kDirectoryEntrySize];
    memcpy(raw, &entries[i], sizeof raw);
    DirectoryEntry& e = entries[i];
    e.offset = read_le32(raw + 32);
    e.size = read_le32(raw + 36);
    e.reserved = read_le16(raw + 40);
    e.flags = read_le16(raw + 42);
    e.stored_size = read_le32(raw + 44);
  }
}

uint64_t stored_length(const DirectoryEntry& entry) {
  return (entry.flags & kEntryCompressed) ? entry.stored_size : entry.size;
}

bool entry_fits(ByteSpan file, uint32_t package_offset, const DirectoryEntry& entry) {
  if (memchr(entry.name, 0, sizeof entry.name) == nullptr) return false;
  uint64_t start = static_cast<uint64_t>(package_offset) + entry.offset;
  return range_inside(file.size, start, stored_length(entry));
}

bool load_directory_bytes(ByteSpan file, uint32_t package_offset, const PackageHeader& header,
                          DirectoryEntry* entries, uint64_t directory_bytes) {
  uint64_t start = static_cast<uint64_t>(package_offset) + header.directory_offset;
  uint32_t storage = header.flags & 3u;
  if (storage == kStoragePlain || storage == kStoragePlainToo) {
    if (!range_inside(file.size, start, directory_bytes)) return false;
    memcpy(entries, file.data + start, directory_bytes);
    return true;
  }
  if (!range_inside(file.size, start, header.directory_stored_size)) return false;
  return inflate_exact(file.data + start, header.directory_stored_size,
                       reinterpret_cast<uint8_t*>(entries), directory_bytes);
}

bool has_trailer_tag(ByteSpan file, size_t trailer_end) {
  return memcmp(file.data + trailer_end - sizeof kTrailerTag, kTrailerTag, sizeof kTrailerTag) == 0;
}

}  // namespace

bool locate_package(ByteSpan file, bool from_image, uint32_t* package_offset) {
  *package_offset = 0;
  if (!from_image) return true;
  if (file.size < kTrailerSize || file.size > UINT32_MAX) return false;
  size_t trailer_end = file.size;
  if (!has_trailer_tag(file, trailer_end)) {
    // A signed image: Authenticode appends its certificate table after the
    // trailer; the trailer then ends where the signed content ends.
    CertificateTable table;
    if (find_certificate_table(file, &table) != SignatureState::kSigned) return false;
    trailer_end = table.content_end;
    if (trailer_end < kTrailerSize || !has_trailer_tag(file, trailer_end)) return false;
  }
  *package_offset = read_le32(file.data + trailer_end - kTrailerSize);
  return true;
}

bool entry_size_plausible(const DirectoryEntry& entry) {
  if (!(entry.flags & kEntryCompressed)) return true;
  return entry.size <= static_cast<uint64_t>(entry.stored_size) * kMaxInflateRatio + kInflateSlack;
}

bool read_directory(ByteSpan file, uint32_t package_offset, PackageHeader* header,
                    DirectoryEntry** entries) {
  *entries = nullptr;
  if (!range_inside(file.size, package_offset, kHeaderSize)) return false;
  *header = decode_header(file.data + package_offset);
  if (memcmp(header->magic, kPackageMagic, sizeof kPackageMagic) != 0) return false;
  if (header->entry_count == 0 || header->directory_offset == 0) return false;
  uint32_t storage = header->flags & 3u;
  if (storage == kStorageInvalid) return false;

  uint64_t directory_bytes = static_cast<uint64_t>(header->entry_count) * kDirectoryEntrySize;
  // Refuse a directory whose stored bytes leave the file, and counts that
  // those bytes cannot hold, before allocating anything for it.
  uint64_t directory_start = static_cast<uint64_t>(package_offset) + header->directory_offset;
  bool deflated = storage == kStorageDeflated;
  if (!range_inside(file.size, directory_start,
                    deflated ? header->directory_stored_size : directory_bytes)) {
    return false;
  }
  if (deflated && directory_bytes > static_cast<uint64_t>(header->directory_stored_size) *
                                        kMaxInflateRatio + kInflateSlack) {
    return false;
  }

  DirectoryEntry* loaded = static_cast<DirectoryEntry*>(malloc(directory_bytes));
  if (loaded == nullptr) return false;
  bool ok = load_directory_bytes(file, package_offset, *header, loaded, directory_bytes);
  if (ok) {
    decode_entries(loaded, header->entry_count);
    for (uint32_t i = 0; ok && i < header->entry_count; ++i) {
      ok = entry_fits(file, package_offset, loaded[i]);
    }
  }
  if (!ok) {
    free(loaded);
    return false;
  }
  *entries = loaded;
  return true;
}

bool copy_entry_content(ByteSpan file, uint32_t package_offset, const DirectoryEntry& entry,
                        uint8_t* destination) {
  uint64_t start = static_cast<uint64_t>(package_offset) + entry.offset;
  if (!range_inside(file.size, start, stored_length(entry))) return false;
  if (!(entry.flags & kEntryCompressed)) {
    if (entry.size != 0) memcpy(destination, file.data + start, entry.size);
    return true;
  }
  return inflate_exact(file.data + start, entry.stored_size, destination, entry.size);
}

int find_entry_by_name(const DirectoryEntry* entries, uint32_t entry_count, const char* name) {
  for (uint32_t i = 0; i < entry_count && i <= INT32_MAX; ++i) {
    const char* have = entries[i].name;
    size_t k = 0;
    for (;; ++k) {
      if (k == kEntryNameSize) break;  // unterminated: never equal
      unsigned char a = static_cast<unsigned char>(have[k]);
      unsigned char b = static_cast<unsigned char>(name[k]);
      if (a >= 'A' && a <= 'Z') a = static_cast<unsigned char>(a + 0x20);
      if (b >= 'A' && b <= 'Z') b = static_cast<unsigned char>(b + 0x20);
      if (a != b) break;
      if (a == 0) return static_cast<int>(i);
    }
  }
  return -1;
}

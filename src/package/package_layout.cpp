// Byte-level reading of packages: locating, header, directory, entries.
// Nothing read from the file is trusted before it is checked against the
// size of the file.
#include "package_layout.h"

#include <cstring>

#include "entry_inflate.h"
#include "pe_image.h"

namespace {

// The directory's records as stored: a view into the file when plain, an
// inflated copy when compressed.
PackageResult directory_bytes(ByteSpan file, uint64_t start, const PackageHeader& header,
                              std::unique_ptr<uint8_t[], FreeDeleter>* inflated,
                              const uint8_t** records) {
  uint64_t length = directory_content_length(header);
  if (!directory_is_deflated(header)) {
    *records = file.data + start;
    return package_ok();
  }
  // One byte at least, so that malloc never sees 0 (the count is not 0).
  inflated->reset(static_cast<uint8_t*>(malloc(static_cast<size_t>(length))));
  if (*inflated == nullptr) return package_refused(PackageError::kOutOfMemory);
  if (!inflate_exact(file.data + start, header.directory_stored_size, inflated->get(),
                     static_cast<size_t>(length))) {
    return package_refused(PackageError::kDirectoryDamaged);
  }
  *records = inflated->get();
  return package_ok();
}

PackageResult check_entry(ByteSpan file, uint32_t package_offset, const DirectoryEntry& entry,
                          uint32_t index) {
  if (memchr(entry.name, 0, sizeof entry.name) == nullptr) {
    return entry_refused(PackageError::kEntryNameUnterminated, index);
  }
  uint64_t start = static_cast<uint64_t>(package_offset) + entry.offset;
  if (!range_inside(file.size, start, entry_stored_length(entry))) {
    return entry_refused(PackageError::kEntryOutOfRange, index);
  }
  return package_ok();
}

PackageResult check_header(ByteSpan file, uint32_t package_offset, const PackageHeader& header) {
  if (memcmp(header.magic, kPackageMagic, sizeof kPackageMagic) != 0) {
    return package_refused(PackageError::kBadMagic);
  }
  if (header.entry_count == 0) return package_refused(PackageError::kNoEntries);
  if (header.directory_offset == 0) return package_refused(PackageError::kNoDirectoryOffset);
  if ((header.flags & kStorageMask) == kStorageInvalid) {
    return package_refused(PackageError::kInvalidStorage);
  }
  // The directory's stored bytes must lie in the file, and a compressed one
  // must be able to hold the count, before anything is allocated for it.
  uint64_t start = static_cast<uint64_t>(package_offset) + header.directory_offset;
  if (!range_inside(file.size, start, directory_stored_length(header))) {
    return package_refused(PackageError::kDirectoryOutOfRange);
  }
  if (directory_is_deflated(header) &&
      !inflate_bound_allows(header.directory_stored_size, directory_content_length(header))) {
    return package_refused(PackageError::kDirectoryTooLarge);
  }
  return package_ok();
}

bool has_trailer_tag(ByteSpan file, size_t trailer_end) {
  return memcmp(file.data + trailer_end - sizeof kTrailerTag, kTrailerTag, sizeof kTrailerTag) == 0;
}

}  // namespace

PackageResult locate_package(ByteSpan file, bool from_image, uint32_t* package_offset) {
  *package_offset = 0;
  if (!from_image) return package_ok();
  if (file.size < kTrailerSize || file.size > UINT32_MAX) {
    return package_refused(PackageError::kNoTrailer);
  }
  size_t trailer_end = file.size;
  if (!has_trailer_tag(file, trailer_end)) {
    // A signed image: Authenticode appends its certificate table after the
    // trailer; the trailer then ends where the signed content ends.
    CertificateTable table;
    if (find_certificate_table(file, &table) != SignatureState::kSigned) {
      return package_refused(PackageError::kNoTrailer);
    }
    trailer_end = table.content_end;
    if (trailer_end < kTrailerSize || !has_trailer_tag(file, trailer_end)) {
      return package_refused(PackageError::kNoTrailer);
    }
  }
  *package_offset = decode_trailer(file.data + trailer_end - kTrailerSize).package_offset;
  return package_ok();
}

bool entry_size_plausible(const DirectoryEntry& entry) {
  return !entry_is_compressed(entry) || inflate_bound_allows(entry.stored_size, entry.size);
}

PackageResult read_directory(ByteSpan file, uint32_t package_offset, PackageHeader* header,
                             DirectoryEntries* entries) {
  entries->reset();
  if (!range_inside(file.size, package_offset, kHeaderSize)) {
    return package_refused(PackageError::kHeaderOutOfRange);
  }
  *header = decode_header(file.data + package_offset);
  PackageResult result = check_header(file, package_offset, *header);
  if (!result) return result;

  uint64_t start = static_cast<uint64_t>(package_offset) + header->directory_offset;
  std::unique_ptr<uint8_t[], FreeDeleter> inflated;
  const uint8_t* records = nullptr;
  result = directory_bytes(file, start, *header, &inflated, &records);
  if (!result) return result;
  DirectoryEntries decoded(static_cast<DirectoryEntry*>(
      malloc(static_cast<size_t>(directory_content_length(*header)))));
  if (decoded == nullptr) return package_refused(PackageError::kOutOfMemory);
  for (uint32_t i = 0; i < header->entry_count; ++i) {
    decoded[i] = decode_directory_entry(records + static_cast<size_t>(i) * kDirectoryEntrySize);
    result = check_entry(file, package_offset, decoded[i], i);
    if (!result) return result;
  }
  *entries = std::move(decoded);
  return package_ok();
}

bool copy_entry_content(ByteSpan file, uint32_t package_offset, const DirectoryEntry& entry,
                        uint8_t* destination) {
  uint64_t start = static_cast<uint64_t>(package_offset) + entry.offset;
  if (!range_inside(file.size, start, entry_stored_length(entry))) return false;
  if (!entry_is_compressed(entry)) {
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

const char* package_error_text(PackageError error) {
  switch (error) {
    case PackageError::kNone: return "no fault";
    case PackageError::kCannotOpen: return "the file cannot be opened";
    case PackageError::kNotAFile: return "not a file";
    case PackageError::kEmptyFile: return "the file is empty";
    case PackageError::kTooLarge: return "the file is 4 GiB or more";
    case PackageError::kCannotMap: return "the file cannot be mapped";
    case PackageError::kNoTrailer:
      return "neither a package (it does not begin with the package magic) nor a "
             "self-contained image (it does not end with the \"KRVD\" trailer, nor does it "
             "carry one before a certificate table at its end)";
    case PackageError::kHeaderOutOfRange:
      return "the package header lies beyond the end of the file";
    case PackageError::kBadMagic: return "the file does not begin with the package magic";
    case PackageError::kNoEntries: return "the header's entry count is 0";
    case PackageError::kNoDirectoryOffset: return "the header's directory offset is 0";
    case PackageError::kInvalidStorage: return "the header's directory storage is 1";
    case PackageError::kDirectoryOutOfRange:
      return "the directory lies beyond the end of the file";
    case PackageError::kDirectoryTooLarge:
      return "the header's entry count is more than its stored directory can hold";
    case PackageError::kDirectoryDamaged: return "the directory does not inflate to its entries";
    case PackageError::kOutOfMemory: return "out of memory";
    case PackageError::kEntryNameUnterminated: return "a directory entry has a name without its NUL";
    case PackageError::kEntryOutOfRange: return "an entry lies beyond the end of the file";
    case PackageError::kNoSuchEntry: return "no such entry";
    case PackageError::kEntryDamaged:
      return "an entry does not give its size (damaged stream or wrong checksum)";
    case PackageError::kChecksumsMalformed: return "the checksum section is malformed";
    case PackageError::kChecksumsUnknownVersion:
      return "the checksum section has a version this reader does not know";
    case PackageError::kHeaderChecksumMismatch:
      return "the header does not match its checksum";
    case PackageError::kDirectoryChecksumMismatch:
      return "the directory does not match its checksum";
    case PackageError::kEntryChecksumMismatch: return "an entry does not match its checksum";
    case PackageError::kHashUnavailable: return "SHA-256 is not available";
  }
  return "unknown fault";
}

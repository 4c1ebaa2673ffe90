// Why a package was refused: one reason for every check of the reader and
// of the integrity check, with the platform's error code where the platform
// refused and the entry concerned where one entry failed.
#pragma once

#include <cstdint>

enum class PackageError : uint8_t {
  kNone,
  kCannotOpen,        // the file cannot be opened (system_error)
  kNotAFile,          // a folder or a device
  kEmptyFile,         // nothing to map
  kTooLarge,          // 4 GiB or more
  kCannotMap,         // the mapping or the view failed (system_error)
  kNoTrailer,         // opened as an image: no "KRVD" tag at the end
  kHeaderOutOfRange,  // the header does not fit between package_offset and the end
  kBadMagic,
  kNoEntries,          // entry_count 0
  kNoDirectoryOffset,  // directory_offset 0
  kInvalidStorage,     // storage bits 1
  kDirectoryOutOfRange,
  kDirectoryTooLarge,  // more entries than its stored bytes can inflate to
  kDirectoryDamaged,   // does not inflate to exactly entry_count records
  kOutOfMemory,
  kEntryNameUnterminated,  // entry_index
  kEntryOutOfRange,        // entry_index: stored bytes leave the file
  kNoSuchEntry,            // an index outside the directory
  kEntryDamaged,           // entry_index: does not give exactly its size
  kChecksumsMalformed,     // the checksum section's size, storage or fields
  kChecksumsUnknownVersion,
  kHeaderChecksumMismatch,
  kDirectoryChecksumMismatch,
  kEntryChecksumMismatch,  // entry_index
  kHashUnavailable,        // the platform's SHA-256 failed (system_error)
};

struct PackageResult {
  PackageError error = PackageError::kNone;
  uint32_t system_error = 0;  // errno or GetLastError, when the platform refused
  uint32_t entry_index = 0;   // for the reasons that concern one entry
  explicit operator bool() const { return error == PackageError::kNone; }
};

inline PackageResult package_ok() { return PackageResult{}; }
inline PackageResult package_refused(PackageError error, uint32_t system_error = 0) {
  return PackageResult{error, system_error, 0};
}
inline PackageResult entry_refused(PackageError error, uint32_t entry_index) {
  return PackageResult{error, 0, entry_index};
}

// A short English description of the reason, for the publishers' tool and
// for logs ("the directory lies beyond the end of the file").
const char* package_error_text(PackageError error);

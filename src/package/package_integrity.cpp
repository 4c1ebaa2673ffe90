// The integrity check of a whole package; see package_integrity.h.
#include "package_integrity.h"

#include <cstring>

#include "entry_inflate.h"

namespace {

struct PackageParts {
  ByteSpan file;
  uint32_t package_offset;
  const PackageHeader& header;
  const DirectoryEntry* entries;
};

// The entries [first, end) of one piece: those whose stored bytes start in
// the piece's share of all the bytes `counts` takes in.
struct EntryRun {
  uint32_t first = 0;
  uint32_t end = 0;
};

template <typename Counts>
EntryRun run_of_piece(const PackageParts& parts, uint32_t piece, uint32_t pieces, Counts counts) {
  uint64_t total = 0;
  for (uint32_t i = 0; i < parts.header.entry_count; ++i) {
    if (counts(i)) total += entry_stored_length(parts.entries[i]);
  }
  // Entries lie inside a file of at most 4 GiB: the products stay far
  // below 2^64.
  const uint64_t from = total * piece / pieces;
  const uint64_t to = total * (uint64_t{piece} + 1) / pieces;
  EntryRun run{parts.header.entry_count, parts.header.entry_count};
  uint64_t before = 0;
  bool started = false;
  for (uint32_t i = 0; i < parts.header.entry_count; ++i) {
    // An entry belongs to the piece its first byte falls in; the last
    // piece takes everything after.
    bool inside = before >= from && (before < to || piece + 1 == pieces);
    if (inside && !started) {
      run.first = i;
      started = true;
    }
    if (!inside && started) {
      run.end = i;
      break;
    }
    if (counts(i)) before += entry_stored_length(parts.entries[i]);
  }
  if (!started) run.first = run.end;
  return run;
}

// Bytes at an offset from the package's first byte; read_directory has
// checked that the header, the directory and every entry lie in the file.
const uint8_t* at(const PackageParts& parts, uint64_t offset) {
  return parts.file.data + parts.package_offset + offset;
}

PackageResult digest_matches(const Sha256Function& sha256, const uint8_t* data, uint64_t size,
                             const uint8_t* expected, PackageResult mismatch) {
  uint8_t digest[kSha256Size];
  uint32_t system_error = 0;
  if (!sha256.digest(sha256.context, data, static_cast<size_t>(size), digest, &system_error)) {
    return package_refused(PackageError::kHashUnavailable, system_error);
  }
  return memcmp(digest, expected, kSha256Size) == 0 ? package_ok() : mismatch;
}

bool all_zero(const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (p[i] != 0) return false;
  }
  return true;
}

PackageResult check_section_fields(const PackageParts& parts, const DirectoryEntry& section,
                                   const uint8_t** content) {
  // Stored plain, so that its digests are read straight from the file.
  if (entry_is_compressed(section) ||
      section.size != checksums_section_size(parts.header.entry_count)) {
    return package_refused(PackageError::kChecksumsMalformed);
  }
  const uint8_t* p = at(parts, section.offset);
  if (p[kChecksumsVersionAt] != kChecksumsVersion) {
    return package_refused(PackageError::kChecksumsUnknownVersion);
  }
  if (!all_zero(p + 1, kChecksumsEntryCountAt - 1) ||
      read_le32(p + kChecksumsEntryCountAt) != parts.header.entry_count) {
    return package_refused(PackageError::kChecksumsMalformed);
  }
  *content = p;
  return package_ok();
}

PackageResult check_digests(const PackageParts& parts, uint32_t section_index,
                            const Sha256Function& sha256, uint32_t piece, uint32_t pieces) {
  const uint8_t* content = nullptr;
  PackageResult result = check_section_fields(parts, parts.entries[section_index], &content);
  if (!result) return result;
  if (piece == 0) {
    result = digest_matches(sha256, at(parts, 0), kHeaderSize, content + kChecksumsHeaderDigestAt,
                            package_refused(PackageError::kHeaderChecksumMismatch));
    if (!result) return result;
    result = digest_matches(sha256, at(parts, parts.header.directory_offset),
                            directory_stored_length(parts.header),
                            content + kChecksumsDirectoryDigestAt,
                            package_refused(PackageError::kDirectoryChecksumMismatch));
  }
  EntryRun run = run_of_piece(parts, piece, pieces, [&](uint32_t) { return true; });
  for (uint32_t i = run.first; result && i < run.end; ++i) {
    const uint8_t* expected = content + kChecksumsEntryDigestsAt + uint64_t{i} * kSha256Size;
    if (i == section_index) {
      // The section cannot hold its own digest; its record must be empty.
      if (!all_zero(expected, kSha256Size)) {
        result = package_refused(PackageError::kChecksumsMalformed);
      }
      continue;
    }
    const DirectoryEntry& entry = parts.entries[i];
    result = digest_matches(sha256, at(parts, entry.offset), entry_stored_length(entry),
                            expected, entry_refused(PackageError::kEntryChecksumMismatch, i));
  }
  return result;
}

PackageResult check_streams(const PackageParts& parts, uint32_t piece, uint32_t pieces) {
  std::unique_ptr<uint8_t[], FreeDeleter> scratch(
      static_cast<uint8_t*>(malloc(kIntegrityScratchSize)));
  if (scratch == nullptr) return package_refused(PackageError::kOutOfMemory);
  EntryRun run = run_of_piece(parts, piece, pieces, [&](uint32_t i) {
    return entry_is_compressed(parts.entries[i]);
  });
  for (uint32_t i = run.first; i < run.end; ++i) {
    const DirectoryEntry& entry = parts.entries[i];
    if (!entry_is_compressed(entry)) continue;
    if (!inflate_stream_matches(at(parts, entry.offset), entry.stored_size, entry.size,
                                scratch.get(), kIntegrityScratchSize)) {
      return entry_refused(PackageError::kEntryDamaged, i);
    }
  }
  return package_ok();
}

}  // namespace

PackageResult check_integrity(ByteSpan file, uint32_t package_offset, const PackageHeader& header,
                              const DirectoryEntry* entries, const Sha256Function& sha256,
                              uint32_t piece, uint32_t pieces) {
  if (pieces == 0 || piece >= pieces) return package_refused(PackageError::kNoSuchEntry);
  PackageParts parts{file, package_offset, header, entries};
  int section = find_entry_by_name(entries, header.entry_count, kChecksumsName);
  if (section >= 0) {
    return check_digests(parts, static_cast<uint32_t>(section), sha256, piece, pieces);
  }
  return check_streams(parts, piece, pieces);
}

PackageResult check_package_integrity_piece(const Package& package, const Sha256Function& sha256,
                                            uint32_t piece, uint32_t pieces) {
  if (package.entries == nullptr) return package_refused(PackageError::kNoSuchEntry);
  return check_integrity(ByteSpan{package.view, package.file_size}, package.package_offset,
                         package.header, package.entries.get(), sha256, piece, pieces);
}

PackageResult check_package_integrity(const Package& package, const Sha256Function& sha256) {
  return check_package_integrity_piece(package, sha256, 0, 1);
}

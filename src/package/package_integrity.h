// Whether a package's bytes are exactly what its publisher wrote, checked
// before any of it is used. With a checksum section every stored byte of the
// header, the directory and each entry is hashed and compared; without one,
// every compressed entry is inflated once, streaming, and must give exactly
// its size with a matching Adler-32. Portable: SHA-256 is handed in.
#pragma once

#include <cstdint>

#include "package.h"
#include "sha256.h"

// Refused with the reason of the first fault: a checksum section that is
// malformed or of an unknown version, a mismatching digest, a compressed
// entry that does not inflate exactly, or a failure of the hash function.
PackageResult check_package_integrity(const Package& package, const Sha256Function& sha256);

// One of `pieces` parts of the same check, for as many threads: each piece
// checks a run of entries of about equal stored bytes, and the first also
// the header and the directory. Together they check what the whole check
// does, and the first refusal in piece order is the one the whole check
// gives. A piece of a package without a checksum section brings its own
// scratch area.
PackageResult check_package_integrity_piece(const Package& package, const Sha256Function& sha256,
                                            uint32_t piece, uint32_t pieces);

// The same over the parts of an opened package.
PackageResult check_integrity(ByteSpan file, uint32_t package_offset, const PackageHeader& header,
                              const DirectoryEntry* entries, const Sha256Function& sha256,
                              uint32_t piece = 0, uint32_t pieces = 1);

// Size of the scratch area of the check without a checksum section.
constexpr size_t kIntegrityScratchSize = 64 * 1024;

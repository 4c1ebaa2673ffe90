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

// The same over the parts of an opened package.
PackageResult check_integrity(ByteSpan file, uint32_t package_offset, const PackageHeader& header,
                              const DirectoryEntry* entries, const Sha256Function& sha256);

// Size of the scratch area of the check without a checksum section.
constexpr size_t kIntegrityScratchSize = 64 * 1024;

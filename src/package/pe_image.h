// The few fields of a Windows program file that signing touches: the
// optional header's checksum, the security data directory and the
// certificate table it names. Portable and span-based: every field is
// checked against the file before it is used, and nothing is trusted.
#pragma once

#include <cstddef>
#include <cstdint>

#include "package_layout.h"

enum class PeStatus {
  kOk,
  kNotPe,                  // no "MZ", or no "PE\0\0" where e_lfanew points
  kHeadersOutsideFile,     // COFF or optional header runs past the end
  kUnknownOptionalHeader,  // magic neither PE32 nor PE32+
  kNoSecurityDirectory,    // the directory table stops before entry 4
};

// Where the signing fields are, as file offsets.
struct PeHeaders {
  uint32_t checksum_offset = 0;        // 4 bytes: OptionalHeader.CheckSum
  uint32_t security_entry_offset = 0;  // 8 bytes: DataDirectory[4]
  uint32_t certificate_offset = 0;     // the entry's first field: a file offset
  uint32_t certificate_size = 0;       // the entry's second field
};

PeStatus read_pe_headers(ByteSpan file, PeHeaders* headers);

enum class SignatureState {
  kNotPe,      // the file's headers cannot be read (see PeStatus)
  kUnsigned,   // the security directory is empty
  kSigned,     // a certificate table that ends at the file's end
  kMisplaced,  // a table outside the file, or not at its end
};

// A certificate table found at the end of the file. `content_end` is where
// the signed content ends: the table's start less the zero bytes (at most
// 7) that signing tools put before it to align it on 8 bytes.
struct CertificateTable {
  PeHeaders headers;
  uint32_t offset = 0;
  uint32_t size = 0;
  uint32_t content_end = 0;
};

// Accepts the table when it lies inside the file and ends at its end, or
// is followed by at most 7 zero bytes of alignment.
SignatureState find_certificate_table(ByteSpan file, CertificateTable* table);

// The first entry of the table when it is a PKCS#7 SignedData blob
// (WIN_CERTIFICATE revision 2.0, type 2); false otherwise.
bool first_pkcs7_certificate(ByteSpan file, const CertificateTable& table, ByteSpan* pkcs7);

// The PE checksum of `size` bytes, the 4 bytes at checksum_offset taken
// as zero: 16-bit words summed with end-around carry, plus the length.
uint32_t pe_checksum(const uint8_t* bytes, size_t size, uint32_t checksum_offset);

// How a program is copied into an image: whole when unsigned (or not a
// readable PE file), else without its certificate table.
struct ProgramCopy {
  uint32_t length = 0;       // bytes to copy from the program's start
  bool strip_signature = false;
  PeHeaders headers;         // when strip_signature
};

ProgramCopy plan_program_copy(ByteSpan program);

// After the planned bytes were copied to `copy`: zeroes the security entry
// and writes the checksum of the shortened program. Nothing for a copy
// that keeps the program whole.
void finish_program_copy(const ProgramCopy& plan, uint8_t* copy);

// The byte ranges an Authenticode digest covers in a signed file: all of
// it before the certificate table except the checksum and the security
// entry. Three ranges, in file order.
struct ByteRange {
  uint32_t offset;
  uint32_t length;
};
void authenticode_ranges(const CertificateTable& table, ByteRange ranges[3]);

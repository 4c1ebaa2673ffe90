// Reading the signing fields of a PE file and taking a signature off a
// program copied into an image. Offsets are computed in 64 bits and checked
// with range_inside before any byte is read.
#include "pe_image.h"

#include <cstring>

namespace {

constexpr uint32_t kDosHeaderSize = 0x40;
constexpr uint32_t kLfanewOffset = 0x3C;
constexpr uint32_t kPeSignatureAndCoffSize = 4 + 20;
constexpr uint32_t kOptionalSizeInCoff = 4 + 16;  // from the "PE\0\0" signature
constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr uint32_t kChecksumInOptional = 64;
constexpr uint32_t kSecurityDirectoryIndex = 4;
constexpr uint32_t kDataDirectorySize = 8;
constexpr uint32_t kCertificateAlignment = 8;
constexpr uint32_t kWinCertificateHeaderSize = 8;
constexpr uint16_t kWinCertRevision2 = 0x0200;
constexpr uint16_t kWinCertTypePkcsSignedData = 0x0002;

// Where the directory count and the directories sit in each kind of
// optional header.
struct OptionalLayout {
  uint32_t count_offset;
  uint32_t directories_offset;
};

bool optional_layout(uint16_t magic, OptionalLayout* layout) {
  if (magic == kPe32Magic) *layout = OptionalLayout{92, 96};
  else if (magic == kPe32PlusMagic) *layout = OptionalLayout{108, 112};
  else return false;
  return true;
}

bool all_zero(const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (p[i] != 0) return false;
  }
  return true;
}

// The table must not overlap the headers that a copy rewrites, and it must
// end at the file's end, or before at most 7 zero bytes of alignment.
bool table_at_end(ByteSpan file, const PeHeaders& headers, uint32_t headers_end) {
  uint32_t offset = headers.certificate_offset, size = headers.certificate_size;
  if (size == 0 || offset < headers_end) return false;
  if (!range_inside(file.size, offset, size)) return false;
  size_t tail = file.size - offset - size;
  return tail < kCertificateAlignment && all_zero(file.data + offset + size, tail);
}

PeStatus read_headers(ByteSpan file, PeHeaders* headers, uint32_t* headers_end) {
  if (file.size > UINT32_MAX) return PeStatus::kHeadersOutsideFile;
  if (file.size < kDosHeaderSize || file.data[0] != 'M' || file.data[1] != 'Z') {
    return PeStatus::kNotPe;
  }
  uint64_t pe = read_le32(file.data + kLfanewOffset);
  if (!range_inside(file.size, pe, kPeSignatureAndCoffSize)) return PeStatus::kNotPe;
  if (memcmp(file.data + pe, "PE\0\0", 4) != 0) return PeStatus::kNotPe;

  uint32_t optional_size = read_le16(file.data + pe + kOptionalSizeInCoff);
  uint64_t optional = pe + kPeSignatureAndCoffSize;
  if (!range_inside(file.size, optional, optional_size)) return PeStatus::kHeadersOutsideFile;
  OptionalLayout layout;
  if (optional_size < 2 || !optional_layout(read_le16(file.data + optional), &layout)) {
    return PeStatus::kUnknownOptionalHeader;
  }
  uint64_t entry_end = layout.directories_offset +
                       uint64_t{kSecurityDirectoryIndex + 1} * kDataDirectorySize;
  if (optional_size < entry_end) return PeStatus::kNoSecurityDirectory;
  if (read_le32(file.data + optional + layout.count_offset) <= kSecurityDirectoryIndex) {
    return PeStatus::kNoSecurityDirectory;
  }
  // Everything below lies inside the optional header, itself inside the file.
  uint64_t entry = optional + layout.directories_offset +
                   uint64_t{kSecurityDirectoryIndex} * kDataDirectorySize;
  headers->checksum_offset = static_cast<uint32_t>(optional + kChecksumInOptional);
  headers->security_entry_offset = static_cast<uint32_t>(entry);
  headers->certificate_offset = read_le32(file.data + entry);
  headers->certificate_size = read_le32(file.data + entry + 4);
  *headers_end = static_cast<uint32_t>(optional + optional_size);
  return PeStatus::kOk;
}

}  // namespace

PeStatus read_pe_headers(ByteSpan file, PeHeaders* headers) {
  uint32_t headers_end = 0;
  return read_headers(file, headers, &headers_end);
}

SignatureState find_certificate_table(ByteSpan file, CertificateTable* table) {
  *table = CertificateTable{};
  uint32_t headers_end = 0;
  PeStatus status = read_headers(file, &table->headers, &headers_end);
  if (status == PeStatus::kNoSecurityDirectory) return SignatureState::kUnsigned;
  if (status != PeStatus::kOk) return SignatureState::kNotPe;
  const PeHeaders& headers = table->headers;
  if (headers.certificate_offset == 0 && headers.certificate_size == 0) {
    return SignatureState::kUnsigned;
  }
  if (!table_at_end(file, headers, headers_end)) return SignatureState::kMisplaced;
  table->offset = headers.certificate_offset;
  table->size = headers.certificate_size;
  uint32_t end = table->offset;
  while (end > headers_end && table->offset - end < kCertificateAlignment - 1 &&
         file.data[end - 1] == 0) {
    --end;
  }
  table->content_end = end;
  return SignatureState::kSigned;
}

bool first_pkcs7_certificate(ByteSpan file, const CertificateTable& table, ByteSpan* pkcs7) {
  if (table.size < kWinCertificateHeaderSize ||
      !range_inside(file.size, table.offset, table.size)) {
    return false;
  }
  const uint8_t* entry = file.data + table.offset;
  uint32_t length = read_le32(entry);
  if (length <= kWinCertificateHeaderSize || length > table.size) return false;
  if (read_le16(entry + 4) != kWinCertRevision2 ||
      read_le16(entry + 6) != kWinCertTypePkcsSignedData) {
    return false;
  }
  *pkcs7 = ByteSpan{entry + kWinCertificateHeaderSize, length - kWinCertificateHeaderSize};
  return true;
}

uint32_t pe_checksum(const uint8_t* bytes, size_t size, uint32_t checksum_offset) {
  auto byte_at = [&](size_t i) -> uint32_t {
    bool in_field = i >= checksum_offset && i - checksum_offset < 4;
    return i < size && !in_field ? bytes[i] : 0;
  };
  uint32_t sum = 0;
  for (size_t i = 0; i < size; i += 2) {
    sum += byte_at(i) | (byte_at(i + 1) << 8);
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return sum + static_cast<uint32_t>(size);
}

ProgramCopy plan_program_copy(ByteSpan program) {
  ProgramCopy plan;
  plan.length = program.size > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(program.size);
  CertificateTable table;
  if (find_certificate_table(program, &table) == SignatureState::kSigned) {
    plan.length = table.offset;
    plan.strip_signature = true;
    plan.headers = table.headers;
  }
  return plan;
}

void finish_program_copy(const ProgramCopy& plan, uint8_t* copy) {
  if (!plan.strip_signature) return;
  memset(copy + plan.headers.security_entry_offset, 0, kDataDirectorySize);
  write_le32(copy + plan.headers.checksum_offset,
             pe_checksum(copy, plan.length, plan.headers.checksum_offset));
}

void authenticode_ranges(const CertificateTable& table, ByteRange ranges[3]) {
  // The checksum lies before the data directories, and both before the
  // table (find_certificate_table refuses a table inside the headers).
  const PeHeaders& h = table.headers;
  uint32_t after_checksum = h.checksum_offset + 4;
  uint32_t after_entry = h.security_entry_offset + kDataDirectorySize;
  ranges[0] = ByteRange{0, h.checksum_offset};
  ranges[1] = ByteRange{after_checksum, h.security_entry_offset - after_checksum};
  ranges[2] = ByteRange{after_entry, table.offset - after_entry};
}

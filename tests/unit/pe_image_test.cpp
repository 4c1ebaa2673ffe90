// The PE reading behind signed images: hostile headers are refused without
// reading outside the file, a signed image's trailer is found before its
// certificate table, and a signature is taken off a copied program.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "package_layout.h"
#include "pe_image.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kPeAt = 0x40;
constexpr uint32_t kOptionalAt = kPeAt + 24;

void put32(Bytes* b, size_t at, uint32_t v) { write_le32(b->data() + at, v); }
void put16(Bytes* b, size_t at, uint16_t v) { write_le16(b->data() + at, v); }

struct PeShape {
  uint16_t magic = 0x20B;  // PE32+
  uint16_t optional_size = 240;
  uint32_t directory_count = 16;
  size_t body = 512;  // bytes after the headers
};

uint32_t directories_at(uint16_t magic) { return magic == 0x10B ? 96 : 112; }
uint32_t security_entry_at(uint16_t magic) { return kOptionalAt + directories_at(magic) + 32; }

// A program with just the headers this reader walks, and a patterned body.
Bytes make_pe(const PeShape& shape = PeShape{}) {
  Bytes b(kOptionalAt + shape.optional_size + shape.body, 0);
  b[0] = 'M';
  b[1] = 'Z';
  put32(&b, 0x3C, kPeAt);
  memcpy(b.data() + kPeAt, "PE\0\0", 4);
  put16(&b, kPeAt + 4 + 16, shape.optional_size);
  put16(&b, kOptionalAt, shape.magic);
  uint32_t count_at = shape.magic == 0x10B ? 92 : 108;
  if (count_at + 4 <= shape.optional_size) put32(&b, kOptionalAt + count_at, shape.directory_count);
  put32(&b, kOptionalAt + 64, 0x12345678);  // a checksum to be replaced
  for (size_t i = kOptionalAt + shape.optional_size; i < b.size(); ++i) {
    b[i] = static_cast<uint8_t>(i * 7 + 1);
  }
  return b;
}

// Appends zero padding to 8 bytes and a WIN_CERTIFICATE, as signing tools
// do, and points the security entry at it.
void sign(Bytes* b, uint16_t magic = 0x20B, size_t blob = 21) {
  while (b->size() % 8 != 0) b->push_back(0);
  uint32_t offset = static_cast<uint32_t>(b->size());
  uint32_t length = static_cast<uint32_t>(8 + blob);
  uint32_t padded = (length + 7) & ~7u;
  b->resize(b->size() + padded, 0);
  put32(b, offset, length);
  put16(b, offset + 4, 0x0200);
  put16(b, offset + 6, 0x0002);
  for (size_t i = 0; i < blob; ++i) (*b)[offset + 8 + i] = static_cast<uint8_t>(0x30 + i);
  put32(b, security_entry_at(magic), offset);
  put32(b, security_entry_at(magic) + 4, padded);
}

Bytes image_of(Bytes program, uint32_t* package_offset) {
  *package_offset = static_cast<uint32_t>(program.size());
  const char package[] = "package bytes";
  program.insert(program.end(), package, package + sizeof package - 1);
  program.resize(program.size() + 8);
  put32(&program, program.size() - 8, *package_offset);
  memcpy(program.data() + program.size() - 4, "KRVD", 4);
  return program;
}

ByteSpan span(const Bytes& b) { return ByteSpan{b.data(), b.size()}; }

SignatureState state_of(const Bytes& b) {
  CertificateTable table;
  return find_certificate_table(span(b), &table);
}

struct HostileCase {
  const char* name;
  void (*damage)(Bytes*);
  SignatureState expected;
};

TEST(PeImage, HostileHeadersAreRefusedWithoutReadingOutsideTheFile) {
  const HostileCase cases[] = {
      {"no MZ", [](Bytes* b) { (*b)[0] = 'X'; }, SignatureState::kNotPe},
      {"shorter than a DOS header", [](Bytes* b) { b->resize(0x3F); }, SignatureState::kNotPe},
      {"e_lfanew past the end", [](Bytes* b) { put32(b, 0x3C, static_cast<uint32_t>(b->size())); },
       SignatureState::kNotPe},
      {"e_lfanew near 4 GiB, the sum overflows 32 bits",
       [](Bytes* b) { put32(b, 0x3C, 0xFFFFFFF0u); }, SignatureState::kNotPe},
      {"no PE signature", [](Bytes* b) { (*b)[kPeAt] = 'X'; }, SignatureState::kNotPe},
      {"optional header runs past the end",
       [](Bytes* b) { put16(b, kPeAt + 20, 0xFFFF); }, SignatureState::kNotPe},
      {"unknown optional magic", [](Bytes* b) { put16(b, kOptionalAt, 0x107); },
       SignatureState::kNotPe},
      {"optional header too short to hold the security entry",
       [](Bytes* b) { put16(b, kPeAt + 20, 112 + 32); }, SignatureState::kUnsigned},
      {"only four data directories", [](Bytes* b) { put32(b, kOptionalAt + 108, 4); },
       SignatureState::kUnsigned},
      {"table offset past the end",
       [](Bytes* b) { put32(b, security_entry_at(0x20B), static_cast<uint32_t>(b->size())); },
       SignatureState::kMisplaced},
      {"offset plus size overflows 32 bits",
       [](Bytes* b) {
         put32(b, security_entry_at(0x20B), 0xFFFFFFF0u);
         put32(b, security_entry_at(0x20B) + 4, 0x20);
       },
       SignatureState::kMisplaced},
      {"size reaches past the end",
       [](Bytes* b) { put32(b, security_entry_at(0x20B) + 4, 0x7FFFFFFF); },
       SignatureState::kMisplaced},
      {"table not ending at the file's end", [](Bytes* b) { b->push_back(1); },
       SignatureState::kMisplaced},
      {"eight zero bytes after the table", [](Bytes* b) { b->resize(b->size() + 8, 0); },
       SignatureState::kMisplaced},
      {"table over the headers", [](Bytes* b) { put32(b, security_entry_at(0x20B), 0x40); },
       SignatureState::kMisplaced},
      {"size zero with an offset", [](Bytes* b) { put32(b, security_entry_at(0x20B) + 4, 0); },
       SignatureState::kMisplaced},
      {"seven zero bytes after the table (alignment)", [](Bytes* b) { b->resize(b->size() + 7, 0); },
       SignatureState::kSigned},
  };
  for (const HostileCase& c : cases) {
    SCOPED_TRACE(c.name);
    uint32_t offset = 0;
    Bytes image = image_of(make_pe(), &offset);
    sign(&image);
    c.damage(&image);
    // An exact-size copy, so that the sanitizer sees any read past the end.
    Bytes exact(image);
    EXPECT_EQ(state_of(exact), c.expected);
    uint32_t found = 0;
    bool located = static_cast<bool>(locate_package(span(exact), true, &found));
    EXPECT_EQ(located, c.expected == SignatureState::kSigned);
    if (located) EXPECT_EQ(found, offset);
  }
}

TEST(PeImage, TrailerIsFoundBeforeTheTableWhateverThePadding) {
  for (uint16_t magic : {uint16_t{0x10B}, uint16_t{0x20B}}) {
    for (size_t extra = 0; extra < 8; ++extra) {
      SCOPED_TRACE(testing::Message() << "magic " << magic << ", body + " << extra);
      PeShape shape;
      shape.magic = magic;
      shape.body = 512 + extra;
      uint32_t offset = 0;
      Bytes image = image_of(make_pe(shape), &offset);
      size_t unpadded = image.size();
      sign(&image, magic);
      CertificateTable table;
      ASSERT_EQ(find_certificate_table(span(image), &table), SignatureState::kSigned);
      EXPECT_EQ(table.content_end, unpadded);
      uint32_t found = 0;
      ASSERT_TRUE(locate_package(span(image), true, &found));
      EXPECT_EQ(found, offset);
    }
  }
}

TEST(PeImage, UnsignedImagesAndPlainProgramsKeepTheirOldAnswers) {
  uint32_t offset = 0;
  Bytes image = image_of(make_pe(), &offset);
  uint32_t found = 0;
  ASSERT_TRUE(locate_package(span(image), true, &found));
  EXPECT_EQ(found, offset);
  EXPECT_EQ(state_of(image), SignatureState::kUnsigned);

  // A signed program with no package: its table's predecessor is no trailer.
  Bytes program = make_pe();
  sign(&program);
  EXPECT_EQ(state_of(program), SignatureState::kSigned);
  EXPECT_FALSE(locate_package(span(program), true, &found));
}

TEST(PeImage, ChecksumFoldsCarriesSkipsItsFieldAndAddsTheLength) {
  struct ChecksumCase {
    Bytes bytes;
    uint32_t field;
    uint32_t expected;
  };
  const ChecksumCase cases[] = {
      {{0x01, 0x00, 0x02, 0x00}, 100, 0x0003 + 4},
      {{0xFF, 0xFF, 0x02, 0x00}, 100, 0x0002 + 4},  // 0xFFFF + 2 folds to 2
      {{0x01, 0x00, 0x03}, 100, 0x0004 + 3},        // odd length: last byte alone
      {{0x01, 0x00, 0xAA, 0xBB, 0xCC, 0xDD, 0x05, 0x00}, 2, 0x0006 + 8},
      {{}, 0, 0},
  };
  for (const ChecksumCase& c : cases) {
    EXPECT_EQ(pe_checksum(c.bytes.data(), c.bytes.size(), c.field), c.expected);
  }
}

TEST(PeImage, ACopiedProgramLosesItsSignatureAndAnUnsignedOneStaysWhole) {
  Bytes unsigned_program = make_pe();
  ProgramCopy whole = plan_program_copy(span(unsigned_program));
  EXPECT_FALSE(whole.strip_signature);
  EXPECT_EQ(whole.length, unsigned_program.size());
  Bytes copy = unsigned_program;
  finish_program_copy(whole, copy.data());
  EXPECT_EQ(copy, unsigned_program);

  Bytes signed_program = unsigned_program;
  sign(&signed_program);
  ProgramCopy plan = plan_program_copy(span(signed_program));
  ASSERT_TRUE(plan.strip_signature);
  ASSERT_EQ(plan.length, unsigned_program.size());  // already 8-aligned: no padding
  Bytes stripped(signed_program.begin(), signed_program.begin() + plan.length);
  finish_program_copy(plan, stripped.data());
  uint32_t checksum_at = kOptionalAt + 64;
  EXPECT_EQ(read_le32(stripped.data() + checksum_at),
            pe_checksum(stripped.data(), stripped.size(), checksum_at));
  // Apart from the checksum, the copy is the program before it was signed.
  put32(&stripped, checksum_at, 0x12345678);
  EXPECT_EQ(stripped, unsigned_program);
  EXPECT_EQ(state_of(stripped), SignatureState::kUnsigned);

  // A misplaced table is not touched: the program is copied whole.
  Bytes misplaced = signed_program;
  misplaced.push_back(9);
  EXPECT_FALSE(plan_program_copy(span(misplaced)).strip_signature);
  EXPECT_EQ(plan_program_copy(span(misplaced)).length, misplaced.size());
}

TEST(PeImage, FirstCertificateIsReadOnlyWhenItsHeaderFits) {
  Bytes program = make_pe();
  sign(&program, 0x20B, 21);
  CertificateTable table;
  ASSERT_EQ(find_certificate_table(span(program), &table), SignatureState::kSigned);
  ByteSpan pkcs7{};
  ASSERT_TRUE(first_pkcs7_certificate(span(program), table, &pkcs7));
  EXPECT_EQ(pkcs7.size, 21u);
  EXPECT_EQ(pkcs7.data, program.data() + table.offset + 8);

  struct Damage {
    const char* name;
    uint32_t at;  // from the table's start
    uint32_t value;
    bool sixteen;
  };
  const Damage damages[] = {
      {"length past the table", 0, 0x1000, false},
      {"length of the header alone", 0, 8, false},
      {"revision 1.0", 4, 0x0100, true},
      {"X.509 type", 6, 0x0001, true},
  };
  for (const Damage& d : damages) {
    SCOPED_TRACE(d.name);
    Bytes damaged = program;
    if (d.sixteen) put16(&damaged, table.offset + d.at, static_cast<uint16_t>(d.value));
    else put32(&damaged, table.offset + d.at, d.value);
    EXPECT_FALSE(first_pkcs7_certificate(span(damaged), table, &pkcs7));
  }
}

TEST(PeImage, AuthenticodeRangesLeaveOutChecksumEntryAndTable) {
  Bytes program = make_pe();
  sign(&program);
  CertificateTable table;
  ASSERT_EQ(find_certificate_table(span(program), &table), SignatureState::kSigned);
  ByteRange r[3];
  authenticode_ranges(table, r);
  const uint32_t checksum = kOptionalAt + 64, entry = security_entry_at(0x20B);
  EXPECT_EQ(r[0].offset, 0u);
  EXPECT_EQ(r[0].length, checksum);
  EXPECT_EQ(r[1].offset, checksum + 4);
  EXPECT_EQ(r[1].offset + r[1].length, entry);
  EXPECT_EQ(r[2].offset, entry + 8);
  EXPECT_EQ(r[2].offset + r[2].length, table.offset);
}

}  // namespace

// The integrity check: packages whose bytes are exactly what was written
// pass in every variant; a package with one changed byte, or cut short, is
// refused with the reason that names the damaged part. The checksum
// section's layout is read back here with the test's own offsets and
// OpenSSL's SHA-256, not with the code under test.
#include <gtest/gtest.h>
#include <openssl/sha.h>

#include <functional>
#include <string>
#include <vector>

#include "hand_package.h"
#include "package_integrity.h"
#include "package_writer.h"
#include "test_support.h"

namespace {

using hand::Bytes;
using hand::Item;
using hand::Store;

std::vector<Item> mixed_items() {
  return {{"bin\\tool.exe", hand::content_of(70000, 1, false), Store::kZlibDefault},
          {"data\\plain.dat", hand::content_of(5000, 2), Store::kPlain},
          {"notes.txt", hand::content_of(9000, 3), Store::kZlibLevel9},
          {"empty.txt", {}, Store::kZlibDefault},
          {"empty_plain.txt", {}, Store::kPlain}};
}

Bytes written(const std::vector<Item>& items, PackageLayout layout) {
  std::vector<PreparedEntry> prepared;
  for (const Item& i : items) {
    PreparedEntry e;
    std::string error;
    EXPECT_TRUE(prepare_entry(i.name, i.content.data(), i.content.size(), i.how != Store::kPlain,
                              kDefaultCompressionLevel, &e, &error)) << error;
    prepared.push_back(e);
  }
  Bytes out;
  std::string error;
  EXPECT_TRUE(write_package(prepared, layout, &out, &error)) << error;
  return out;
}

PackageLayout with_checksums(uint32_t storage = kStorageDeflated) {
  PackageLayout layout;
  layout.directory_storage = storage;
  layout.checksums = true;
  return layout;
}

// The reason of the first refusal: at open, or else by the check.
PackageResult open_and_check(const Bytes& bytes, bool from_image = false) {
  test::OpenedView v(bytes, from_image);
  if (!v.ok) return v.result;
  PlatformSha256 sha256;
  return check_package_integrity(v.package, sha256.function());
}

Bytes sha256_of(const uint8_t* data, size_t size) {
  Bytes digest(SHA256_DIGEST_LENGTH);
  SHA256(data, size, digest.data());
  return digest;
}

TEST(PackageIntegrityValid, EveryVariantPassesFromPackageAndImage) {
  const std::pair<const char*, std::function<Bytes()>> cases[] = {
      {"checksums, directory compressed", [] { return written(mixed_items(), with_checksums()); }},
      {"checksums, directory plain", [] { return written(mixed_items(), with_checksums(0)); }},
      {"checksums, storage 3 and high bits", [] {
         PackageLayout layout = with_checksums(3);
         layout.extra_header_flags = 0xFFFFFFFCu;
         layout.extra_entry_flags = 0x0010;
         return written(mixed_items(), layout);
       }},
      {"no checksums, writer", [] { return written(mixed_items(), PackageLayout{}); }},
      {"no checksums, hand dir first, stored blocks", [] {
         std::vector<Item> items = mixed_items();
         items[0].how = Store::kStoredBlocksTiny;
         items[2].how = Store::kHuffmanOnly;
         return hand::directory_first_package(items, 0);
       }},
      {"no checksums, hand dir last, small window", [] {
         std::vector<Item> items = mixed_items();
         items[0].how = Store::kSmallWindow;
         items[2].how = Store::kFixed;
         return hand::directory_last_package(items, 2, Store::kRle);
       }},
  };
  for (const auto& [what, build] : cases) {
    SCOPED_TRACE(what);
    Bytes package = build();
    EXPECT_EQ(open_and_check(package).error, PackageError::kNone);
    Bytes image = hand::image_of(hand::content_of(4099, 9, false), package);
    EXPECT_EQ(open_and_check(image, true).error, PackageError::kNone);
  }
}

// What the layout promises, read with offsets written out here: version,
// count, the header's and the stored directory's digests, one record per
// entry in directory order and an empty record for the section itself.
TEST(PackageIntegrityValid, ChecksumSectionHoldsTheDocumentedDigests) {
  std::vector<Item> items = mixed_items();
  Bytes package = written(items, with_checksums());
  test::OpenedView v(package, false);
  ASSERT_TRUE(v.ok);
  const uint32_t count = v.package.header.entry_count;
  ASSERT_EQ(count, items.size() + 1);
  int index = find_entry(&v.package, ":Checksums");
  ASSERT_GE(index, 0);
  const DirectoryEntry& section = v.package.entries[index];
  EXPECT_EQ(section.flags & 1, 0) << "stored plain";
  ASSERT_EQ(section.size, 72u + 32u * count);
  const uint8_t* s = package.data() + section.offset;
  EXPECT_EQ(s[0], 1) << "version";
  EXPECT_EQ(Bytes(s + 1, s + 4), Bytes(3, 0));
  EXPECT_EQ(hand::get32(package, section.offset + 4), count);
  EXPECT_EQ(Bytes(s + 8, s + 40), sha256_of(package.data(), 32));
  uint32_t directory_offset = hand::get32(package, 20);
  uint32_t directory_stored = hand::get32(package, 28);
  ASSERT_EQ(directory_offset + directory_stored, package.size());
  EXPECT_EQ(Bytes(s + 40, s + 72), sha256_of(package.data() + directory_offset, directory_stored));
  for (uint32_t i = 0; i < count; ++i) {
    SCOPED_TRACE(v.package.entries[i].name);
    const DirectoryEntry& e = v.package.entries[i];
    Bytes record(s + 72 + 32 * i, s + 72 + 32 * (i + 1));
    if (static_cast<int>(i) == index) {
      EXPECT_EQ(record, Bytes(32, 0));
      continue;
    }
    size_t stored = (e.flags & 1) ? e.stored_size : e.size;
    EXPECT_EQ(record, sha256_of(package.data() + e.offset, stored));
  }
  // The section is not one of the files: every item is still there, whole.
  for (const Item& item : items) {
    int at = find_entry(&v.package, item.name.c_str());
    ASSERT_GE(at, 0) << item.name;
    EXPECT_EQ(v.load(at), item.content) << item.name;
  }
}

struct Damage {
  const char* what;
  std::function<void(Bytes*, const Package&)> apply;
  PackageError reason;
  int entry = -1;  // the entry the reason names, where it names one
};

size_t stored_middle(const Package& p, int index) {
  const DirectoryEntry& e = p.entries[index];
  return e.offset + ((e.flags & 1) ? e.stored_size : e.size) / 2;
}

size_t section_at(const Package& p) { return p.entries[find_entry(&p, ":Checksums")].offset; }

void flip(Bytes* b, size_t at) { (*b)[at] ^= 0x01; }

void expect_damage_refused(const Bytes& base, const Damage& d, bool from_image) {
  test::OpenedView good(base, false);
  ASSERT_TRUE(good.ok);
  Bytes damaged = base;
  d.apply(&damaged, good.package);
  if (from_image) damaged = hand::image_of(hand::bytes_of("MZ program"), damaged);
  PackageResult result = open_and_check(damaged, from_image);
  EXPECT_EQ(result.error, d.reason) << d.what << (from_image ? " (image)" : "");
  if (d.entry >= 0) {
    EXPECT_EQ(result.entry_index, static_cast<uint32_t>(d.entry)) << d.what;
  }
}

// Entry indexes in the writer's order: the section first, then the items.
TEST(PackageIntegrityDamaged, OneChangedByteIsRefusedWithItsPart) {
  const Damage damages[] = {
      {"byte of a plain entry", [](Bytes* b, const Package& p) { flip(b, stored_middle(p, 2)); },
       PackageError::kEntryChecksumMismatch, 2},
      {"byte of a compressed entry",
       [](Bytes* b, const Package& p) { flip(b, stored_middle(p, 1)); },
       PackageError::kEntryChecksumMismatch, 1},
      {"last byte (Adler-32) of a compressed entry",
       [](Bytes* b, const Package& p) {
         flip(b, p.entries[3].offset + p.entries[3].stored_size - 1);
       },
       PackageError::kEntryChecksumMismatch, 3},
      {"unread header flag bit", [](Bytes* b, const Package&) { (*b)[27] ^= 0x80; },
       PackageError::kHeaderChecksumMismatch},
      {"byte of the compressed directory",
       [](Bytes* b, const Package&) { flip(b, hand::get32(*b, 20) + 10); },
       PackageError::kDirectoryDamaged},
      {"section version", [](Bytes* b, const Package& p) { (*b)[section_at(p)] = 2; },
       PackageError::kChecksumsUnknownVersion},
      {"section reserved byte", [](Bytes* b, const Package& p) { flip(b, section_at(p) + 2); },
       PackageError::kChecksumsMalformed},
      {"section entry count", [](Bytes* b, const Package& p) { flip(b, section_at(p) + 4); },
       PackageError::kChecksumsMalformed},
      {"section's header digest", [](Bytes* b, const Package& p) { flip(b, section_at(p) + 8); },
       PackageError::kHeaderChecksumMismatch},
      {"section's directory digest",
       [](Bytes* b, const Package& p) { flip(b, section_at(p) + 71); },
       PackageError::kDirectoryChecksumMismatch},
      {"section's own empty record",
       [](Bytes* b, const Package& p) { flip(b, section_at(p) + 72 + 5); },
       PackageError::kChecksumsMalformed},
      {"section's record of entry 4",
       [](Bytes* b, const Package& p) { flip(b, section_at(p) + 72 + 32 * 4 + 31); },
       PackageError::kEntryChecksumMismatch, 4},
  };
  Bytes base = written(mixed_items(), with_checksums());
  for (const Damage& d : damages) {
    for (bool from_image : {false, true}) expect_damage_refused(base, d, from_image);
  }
}

// With the directory stored plain its damage passes the reader; the digest
// still catches it.
TEST(PackageIntegrityDamaged, PlainDirectoryDamageIsCaughtByItsDigest) {
  const Damage damages[] = {
      {"reserved field of a record", [](Bytes* b, const Package&) {
         (*b)[hand::get32(*b, 20) + 48 * 2 + 40] ^= 0x40;
       }, PackageError::kDirectoryChecksumMismatch},
      {"case of a name", [](Bytes* b, const Package&) {
         (*b)[hand::get32(*b, 20) + 48 * 3] ^= 0x20;
       }, PackageError::kDirectoryChecksumMismatch},
      {"a size shrunk by one", [](Bytes* b, const Package& p) {
         size_t at = hand::get32(*b, 20) + 48 * 2 + 36;
         hand::put32(b, at, p.entries[2].size - 1);
       }, PackageError::kDirectoryChecksumMismatch},
  };
  Bytes base = written(mixed_items(), with_checksums(0));
  for (const Damage& d : damages) expect_damage_refused(base, d, false);
}

TEST(PackageIntegrityDamaged, SectionOfTheWrongSizeOrStorageIsMalformed) {
  Bytes base = written(mixed_items(), with_checksums(0));
  test::OpenedView v(base, false);
  ASSERT_TRUE(v.ok);
  size_t record = hand::get32(base, 20) + 48 * find_entry(&v.package, ":Checksums");
  Bytes shorter = base;
  hand::put32(&shorter, record + 36, v.package.entries[0].size - 32);
  Bytes compressed = base;
  hand::put16(&compressed, record + 42, 0x11);
  hand::put32(&compressed, record + 44, v.package.entries[0].size);
  // The directory's own digest is in the section; these tell the section's
  // fault before any digest is compared.
  EXPECT_EQ(open_and_check(shorter).error, PackageError::kChecksumsMalformed);
  EXPECT_EQ(open_and_check(compressed).error, PackageError::kChecksumsMalformed);
}

TEST(PackageIntegrityDamaged, EveryCutIsRefused) {
  const Bytes packages[] = {written(mixed_items(), with_checksums()),
                            written(mixed_items(), with_checksums(0)),
                            written(mixed_items(), PackageLayout{})};
  for (const Bytes& full : packages) {
    // Every length near both ends, a sample of those between.
    for (size_t n = 0; n < full.size(); n += (n < 128 || n + 128 > full.size()) ? 1 : 61) {
      Bytes cut(full.begin(), full.begin() + n);
      ASSERT_NE(open_and_check(cut).error, PackageError::kNone) << n << " of " << full.size();
    }
  }
}

// directory_first_package puts the directory right after the header.
constexpr size_t kRecord = 32;

// Without a checksum section every compressed stream is inflated once,
// through the scratch area, and must give exactly its size.
TEST(PackageIntegrityNoSection, DamagedStreamsAreRefusedNamingTheEntry) {
  const size_t kBig = 3 * kIntegrityScratchSize + 123;  // several rounds of the scratch area
  std::vector<Item> items = {{"small", hand::content_of(3000, 4), Store::kZlibDefault},
                             {"plain", hand::content_of(100, 5), Store::kPlain},
                             {"big", hand::content_of(kBig, 6, false), Store::kStoredBlocks}};
  const Damage damages[] = {
      {"damaged stream", [](Bytes* b, const Package& p) { (*b)[stored_middle(p, 0)] ^= 0x55; },
       PackageError::kEntryDamaged, 0},
      {"Adler-32 of the big entry", [](Bytes* b, const Package& p) {
         flip(b, p.entries[2].offset + p.entries[2].stored_size - 1);
       }, PackageError::kEntryDamaged, 2},
      {"size one more", [](Bytes* b, const Package& p) {
         hand::put32(b, kRecord + 36, p.entries[0].size + 1);
       }, PackageError::kEntryDamaged, 0},
      {"size one less, big entry", [](Bytes* b, const Package& p) {
         hand::put32(b, kRecord + 48 * 2 + 36, p.entries[2].size - 1);
       }, PackageError::kEntryDamaged, 2},
      {"stored_size cut", [](Bytes* b, const Package& p) {
         hand::put32(b, kRecord + 44, p.entries[0].stored_size - 3);
       }, PackageError::kEntryDamaged, 0},
  };
  Bytes base = hand::directory_first_package(items, 0);
  EXPECT_EQ(open_and_check(base).error, PackageError::kNone);
  for (const Damage& d : damages) expect_damage_refused(base, d, false);
}

// The check split for several threads: every entry is checked by exactly
// one piece, the header and the directory by the first, and the first
// refusal in piece order is the whole check's.
struct PieceResults {
  PackageResult whole;
  std::vector<PackageResult> pieces;
};

PieceResults check_in_pieces(const Bytes& bytes, uint32_t pieces) {
  test::OpenedView v(bytes, false);
  EXPECT_TRUE(v.ok);
  PlatformSha256 sha256;
  PieceResults out{check_package_integrity(v.package, sha256.function()), {}};
  for (uint32_t piece = 0; piece < pieces; ++piece) {
    out.pieces.push_back(check_package_integrity_piece(v.package, sha256.function(), piece, pieces));
  }
  return out;
}

void expect_first_refusal_is_whole(const PieceResults& r) {
  for (const PackageResult& piece : r.pieces) {
    if (piece) continue;
    EXPECT_EQ(piece.error, r.whole.error);
    EXPECT_EQ(piece.entry_index, r.whole.entry_index);
    return;
  }
  EXPECT_EQ(r.whole.error, PackageError::kNone) << "no piece refused what the whole check did";
}

std::vector<Item> many_items() {
  std::vector<Item> items;
  for (int i = 0; i < 12; ++i) {
    items.push_back({"f" + std::to_string(i), hand::content_of(1000 + 3000 * (i % 4), 20 + i, i % 3 != 0),
                     i % 2 ? Store::kZlibDefault : Store::kPlain});
  }
  return items;
}

TEST(PackageIntegrityPieces, EachDamagedEntryIsRefusedByExactlyOnePiece) {
  const std::pair<const char*, Bytes> packages[] = {
      {"checksums", written(many_items(), with_checksums())},
      {"no checksums", written(many_items(), PackageLayout{})}};
  for (const auto& [what, base] : packages) {
    test::OpenedView good(base, false);
    ASSERT_TRUE(good.ok);
    const bool digests = find_entry(&good.package, ":Checksums") >= 0;
    for (uint32_t pieces = 1; pieces <= 5; ++pieces) {
      PieceResults intact = check_in_pieces(base, pieces);
      EXPECT_EQ(intact.whole.error, PackageError::kNone) << what;
      for (const PackageResult& piece : intact.pieces) EXPECT_EQ(piece.error, PackageError::kNone);
      for (uint32_t i = 0; i < good.package.header.entry_count; ++i) {
        const DirectoryEntry& e = good.package.entries[i];
        // Without the section only compressed streams can be proven.
        if (e.name[0] == ':' || e.size == 0 || (!digests && !entry_is_compressed(e))) continue;
        SCOPED_TRACE(std::string(what) + ", entry " + e.name + ", " + std::to_string(pieces) +
                     " pieces");
        Bytes damaged = base;
        damaged[stored_middle(good.package, static_cast<int>(i))] ^= 0x55;
        PieceResults r = check_in_pieces(damaged, pieces);
        EXPECT_EQ(r.whole.entry_index, i);
        int refusing = 0;
        for (const PackageResult& piece : r.pieces) refusing += piece ? 0 : 1;
        EXPECT_EQ(refusing, 1);
        expect_first_refusal_is_whole(r);
      }
    }
  }
}

TEST(PackageIntegrityPieces, HeaderAndDirectoryBelongToTheFirstPiece) {
  Bytes base = written(many_items(), with_checksums(0));
  Bytes header = base;
  header[27] ^= 0x80;  // an unread flag bit: only its digest tells
  Bytes directory = base;
  directory[hand::get32(directory, 20) + 48 * 3] ^= 0x20;  // case of a name
  for (const Bytes& damaged : {header, directory}) {
    PieceResults r = check_in_pieces(damaged, 3);
    EXPECT_FALSE(r.pieces[0]);
    EXPECT_TRUE(r.pieces[1]);
    EXPECT_TRUE(r.pieces[2]);
    expect_first_refusal_is_whole(r);
  }
}

bool failing_digest(void*, const uint8_t*, size_t, uint8_t*, uint32_t* system_error) {
  *system_error = 0xC0000001u;
  return false;
}

TEST(PackageIntegrityHash, AFailingHashRefusesWithItsCode) {
  Bytes package = written(mixed_items(), with_checksums());
  test::OpenedView v(package, false);
  ASSERT_TRUE(v.ok);
  PackageResult result = check_package_integrity(v.package, Sha256Function{failing_digest, nullptr});
  EXPECT_EQ(result.error, PackageError::kHashUnavailable);
  EXPECT_EQ(result.system_error, 0xC0000001u);
}

}  // namespace

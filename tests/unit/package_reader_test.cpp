// The package reader against packages from two independent builders: valid
// variants are read exactly, damaged ones are refused without a crash.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <functional>
#include <string>
#include <vector>

#include "hand_package.h"
#include "package.h"
#include "package_writer.h"
#include "test_support.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/allocator_interface.h>
#define KRV_HAVE_ASAN 1
#endif
#endif

namespace {

using hand::Bytes;
using hand::Item;
using hand::Store;

struct Expected {
  std::string name;
  Bytes content;
};

std::vector<Expected> expected_of(const std::vector<Item>& items) {
  std::vector<Expected> out;
  for (const Item& i : items) out.push_back({i.name, i.content});
  return out;
}

// Everything a reader must deliver for a valid package: the count, each
// entry found by its name and loaded exactly by both load forms, without a
// byte written past the entry's size.
void expect_reads_exactly(const Bytes& bytes, bool from_image, const std::vector<Expected>& want) {
  test::OpenedView v(bytes, from_image);
  ASSERT_TRUE(v.ok);
  ASSERT_EQ(v.package.header.entry_count, want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    SCOPED_TRACE("entry " + std::to_string(i) + " " + want[i].name);
    EXPECT_EQ(find_entry(&v.package, want[i].name.c_str()), static_cast<int>(i));
    EXPECT_EQ(v.load(static_cast<int>(i)), want[i].content);
    Bytes area(want[i].content.size() + 16, 0xA5);
    ASSERT_TRUE(load_entry_into(&v.package, static_cast<int>(i), area.data()));
    EXPECT_TRUE(std::equal(want[i].content.begin(), want[i].content.end(), area.begin()));
    for (size_t k = want[i].content.size(); k < area.size(); ++k) ASSERT_EQ(area[k], 0xA5) << k;
  }
}

Bytes text(const std::string& s) { return hand::bytes_of(s); }

std::vector<Item> mixed_items(Store compressed_how) {
  return {
      {":RegistryKeys", text(std::string("Software\\Korvinda\0ProgramPath\0ProgramName\0PatchLevel\0\x01\0\0\0\0", 58)), compressed_how},
      {"bin\\tool.exe", hand::content_of(70000, 1, false), compressed_how},
      {"data\\maps\\north.dat", hand::content_of(5000, 2), Store::kPlain},
      {"empty.txt", {}, compressed_how},
      {"empty_plain.txt", {}, Store::kPlain},
      {"one", text("x"), compressed_how},
  };
}

std::vector<uint8_t> writer_package(const std::vector<Item>& items, const PackageLayout& layout) {
  std::vector<PreparedEntry> prepared;
  for (const Item& i : items) {
    PreparedEntry e;
    std::string error;
    EXPECT_TRUE(prepare_entry(i.name, i.content.data(), i.content.size(), i.how != Store::kPlain,
                              kDefaultCompressionLevel, &e, &error)) << error;
    prepared.push_back(e);
  }
  std::vector<uint8_t> out;
  std::string error;
  EXPECT_TRUE(write_package(prepared, layout, &out, &error)) << error;
  return out;
}

struct ValidCase {
  const char* what;
  std::function<Bytes(const std::vector<Item>&)> build;
  Store how;
};

TEST(PackageReaderValid, EveryVariantReadsExactlyFromPackageAndImage) {
  const ValidCase cases[] = {
      {"writer as produced", [](const auto& i) { return writer_package(i, PackageLayout{}); },
       Store::kZlibDefault},
      {"writer storage 0", [](const auto& i) { return writer_package(i, {0, 0, 0}); },
       Store::kZlibDefault},
      {"writer storage 3", [](const auto& i) { return writer_package(i, {3, 0, 0}); },
       Store::kZlibDefault},
      {"writer extra header and entry bits",
       [](const auto& i) { return writer_package(i, {2, 0xFFFFFFFCu, 0xFFEE}); },
       Store::kZlibDefault},
      {"writer all plain, storage 3 with extra bits",
       [](const auto& i) { return writer_package(i, {3, 0x80000000u, 0x0010}); }, Store::kPlain},
      {"hand dir first storage 0, level 0",
       [](const auto& i) { return hand::directory_first_package(i, 0); }, Store::kZlibLevel0},
      {"hand dir first storage 3 + high bits, level 9",
       [](const auto& i) { return hand::directory_first_package(i, 0xFFFFFFF3u); },
       Store::kZlibLevel9},
      {"hand dir first, stored blocks",
       [](const auto& i) { return hand::directory_first_package(i, 0); }, Store::kStoredBlocks},
      {"hand dir first, tiny stored blocks",
       [](const auto& i) { return hand::directory_first_package(i, 4); }, Store::kStoredBlocksTiny},
      {"hand dir first, small window",
       [](const auto& i) { return hand::directory_first_package(i, 0); }, Store::kSmallWindow},
      {"hand dir first, huffman only",
       [](const auto& i) { return hand::directory_first_package(i, 0); }, Store::kHuffmanOnly},
      {"hand dir first, rle", [](const auto& i) { return hand::directory_first_package(i, 0); },
       Store::kRle},
      {"hand dir first, fixed codes",
       [](const auto& i) { return hand::directory_first_package(i, 0); }, Store::kFixed},
      {"hand dir last, directory in stored blocks",
       [](const auto& i) { return hand::directory_last_package(i, 2, Store::kStoredBlocksTiny); },
       Store::kZlibLevel1},
      {"hand dir last, directory level 9, high header bits",
       [](const auto& i) { return hand::directory_last_package(i, 0x7FFFFFF2u, Store::kZlibLevel9); },
       Store::kZlibDefault},
      {"hand dir last, directory small window",
       [](const auto& i) { return hand::directory_last_package(i, 2, Store::kSmallWindow); },
       Store::kStoredBlocks},
  };
  for (const ValidCase& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<Item> items = mixed_items(c.how);
    Bytes package = c.build(items);
    expect_reads_exactly(package, false, expected_of(items));
    for (size_t program_size : {size_t(0), size_t(1), size_t(4099)}) {
      SCOPED_TRACE("image with program of " + std::to_string(program_size));
      Bytes image = hand::image_of(hand::content_of(program_size, 9, false), package);
      expect_reads_exactly(image, true, expected_of(items));
      test::OpenedView v(image, true);
      EXPECT_EQ(v.package.package_offset, program_size);
    }
  }
}

TEST(PackageReaderValid, EntryFlagBitsAboveBitZeroAndReservedChangeNothing) {
  Bytes content = hand::content_of(3000, 5);
  std::vector<Item> items = {
      {"a", content, Store::kZlibDefault, 0x0010},
      {"b", content, Store::kZlibDefault, 0x0002},
      {"c", content, Store::kZlibDefault, 0xFFFE},
      {"d", content, Store::kPlain, 0xFFFE},
      {"e", content, Store::kPlain, 0x0010},
  };
  Bytes package = hand::directory_first_package(items, 0);
  for (size_t i = 0; i < items.size(); ++i) hand::put16(&package, 32 + i * 48 + 40, 0xBEEF);
  expect_reads_exactly(package, false, expected_of(items));
}

TEST(PackageReaderValid, HeaderCopyAndDirectoryAsStored) {
  std::vector<Item> items = mixed_items(Store::kZlibDefault);
  Bytes package = writer_package(items, PackageLayout{});
  test::OpenedView v(package, false);
  ASSERT_TRUE(v.ok);
  EXPECT_EQ(0, memcmp(v.package.header.magic, "Korvinda data  \x1a", 16));
  EXPECT_EQ(v.package.header.entry_count, items.size());
  EXPECT_EQ(v.package.header.flags, 2u);
  EXPECT_EQ(v.package.header.directory_offset + v.package.header.directory_stored_size,
            package.size());
  EXPECT_EQ(v.package.package_offset, 0u);
  EXPECT_EQ(v.package.entries[0].offset, 32u);
  EXPECT_EQ(v.package.entries[2].flags, 0);
  EXPECT_EQ(v.package.entries[1].flags, 0x11);
}

// Lookup: ASCII letters fold, nothing else does; first of equal names wins.
TEST(PackageReaderNames, FindEntryTable) {
  const std::string name31(31, 'q');
  std::vector<Item> items = {
      {"Readme.TXT", text("0"), Store::kPlain},
      {":StartupMsg", text("1"), Store::kZlibDefault},
      {"\xD4\xC0\xC9\xCB.txt", text("2"), Store::kPlain},   // upper-case Cyrillic
      {"\xF4\xE0\xE9\xEB.txt", text("3"), Store::kPlain},   // the same in lower case
      {"dup", text("4"), Store::kPlain},
      {"DUP", text("5"), Store::kZlibDefault},
      {"dup", text("6"), Store::kPlain},
      {"@x[", text("7"), Store::kPlain},
      {name31, text("8"), Store::kPlain},
  };
  struct Lookup {
    std::string name;
    int index;
  };
  const Lookup lookups[] = {
      {"Readme.TXT", 0}, {"readme.txt", 0}, {"README.TXT", 0}, {"rEADME.txT", 0},
      {"readme.tx", -1}, {"readme.txt2", -1}, {"", -1}, {" readme.txt", -1},
      {":startupmsg", 1}, {":STARTUPMSG", 1}, {"StartupMsg", -1},
      {"\xD4\xC0\xC9\xCB.txt", 2}, {"\xD4\xC0\xC9\xCB.TXT", 2},
      {"\xF4\xE0\xE9\xEB.txt", 3}, {"\xF4\xE0\xE9\xEB.TxT", 3},
      {"\xF4\xC0\xE9\xEB.txt", -1},  // Cyrillic case differs in one letter
      {"dup", 4}, {"DUP", 4}, {"Dup", 4},
      {"@x[", 7}, {"`x[", -1}, {"@X{", -1}, {"@X[", 7},
      {name31, 8}, {std::string(31, 'Q'), 8}, {name31 + "q", -1}, {std::string(30, 'q'), -1},
  };
  for (const auto& build : {std::function<Bytes()>([&] { return writer_package(items, {}); }),
                            std::function<Bytes()>([&] {
                              return hand::directory_first_package(items, 0);
                            })}) {
    test::OpenedView v(build(), false);
    ASSERT_TRUE(v.ok);
    for (const Lookup& l : lookups) {
      EXPECT_EQ(find_entry(&v.package, l.name.c_str()), l.index) << "lookup " << l.name;
    }
    EXPECT_EQ(v.load(find_entry(&v.package, "DuP")), text("4"));
  }
}

TEST(PackageReaderNames, FindEntryOnUnopenedPackageIsNone) {
  Package p = {};
  EXPECT_EQ(find_entry(&p, "a"), -1);
  EXPECT_EQ(load_entry(&p, 0), nullptr);
  uint8_t out[4];
  EXPECT_FALSE(load_entry_into(&p, 0, out));
  close_package(&p);
}

TEST(PackageReaderLoad, SectionLoadsExactlySizeBytesWithoutTerminator) {
  std::string keys("K\0F\0P\0L\0\x02\0\0\0", 12);  // no trailing byte after the level
  std::vector<Item> items = {{":RegistryKeys", text(keys), Store::kZlibDefault},
                             {":Folders", text(std::string("a\0\0", 3)), Store::kPlain},
                             {":FilesToRemove", {}, Store::kZlibDefault},
                             {":CommandsToExecute", {}, Store::kPlain}};
  for (const Bytes& package :
       {writer_package(items, {}), hand::directory_first_package(items, 0)}) {
    test::OpenedView v(package, false);
    ASSERT_TRUE(v.ok);
    for (int i = 0; i < 4; ++i) {
      uint8_t* buffer = load_entry(&v.package, i);
      ASSERT_NE(buffer, nullptr) << "entry " << i << ": a size of 0 still loads";
      EXPECT_EQ(Bytes(buffer, buffer + items[i].content.size()), items[i].content);
#ifdef KRV_HAVE_ASAN
      size_t allocated = __sanitizer_get_allocated_size(buffer);
      EXPECT_EQ(allocated, items[i].content.empty() ? 1u : items[i].content.size()) << i;
#endif
      free_entry_buffer(buffer);
    }
  }
}

TEST(PackageReaderLoad, BadIndexFails) {
  test::OpenedView v(writer_package(mixed_items(Store::kZlibDefault), {}), false);
  ASSERT_TRUE(v.ok);
  uint8_t out[8];
  for (int index : {-1, 6, 7, INT_MAX, INT_MIN}) {
    EXPECT_EQ(load_entry(&v.package, index), nullptr) << index;
    EXPECT_FALSE(load_entry_into(&v.package, index, out)) << index;
  }
  EXPECT_FALSE(load_entry_into(&v.package, 0, nullptr));
}

// ---- Damaged packages -----------------------------------------------------

// A package with a plain directory right after the header (records at
// 32 + 48 * i), so that every field can be damaged by hand. Entry 0 is
// compressed, entry 1 plain, entry 2 in stored blocks.
std::vector<Item> base_items() {
  return {{"first.bin", hand::content_of(4000, 3), Store::kZlibDefault},
          {"second.txt", hand::content_of(100, 4), Store::kPlain},
          {"third", hand::content_of(300, 6), Store::kStoredBlocks}};
}

size_t record_at(size_t i) { return 32 + 48 * i; }

struct Damage {
  const char* what;
  std::function<void(Bytes*)> apply;
  // False where the damage reaches just past the package's end: in an image
  // the trailer lies there, still inside the file, which is all the reader
  // promises to check.
  bool in_image_too = true;
};

void expect_refused(const Bytes& bytes, const char* what, bool in_image_too = true) {
  for (bool from_image : {false, true}) {
    if (from_image && !in_image_too) continue;
    Bytes b = from_image ? hand::image_of(text("MZ program"), bytes) : bytes;
    test::OpenedView v(b, from_image);
    EXPECT_FALSE(v.ok) << what << (from_image ? " (in an image)" : "");
    EXPECT_EQ(find_entry(&v.package, "first.bin"), -1) << what;
  }
}

TEST(PackageReaderDamaged, HeaderAndDirectoryDamageIsRefusedAtOpen) {
  const Damage damages[] = {
      {"entry_count 0", [](Bytes* b) { hand::put32(b, 16, 0); }},
      {"directory_offset 0", [](Bytes* b) { hand::put32(b, 20, 0); }},
      {"storage 1", [](Bytes* b) { hand::put32(b, 24, 1); }},
      {"storage 1 with high bits", [](Bytes* b) { hand::put32(b, 24, 0xFFFFFFFDu); }},
      {"storage 2 over a plain directory", [](Bytes* b) { hand::put32(b, 24, 2); }},
      {"entry_count one more than stored", [](Bytes* b) { hand::put32(b, 16, 4); }},
      {"entry_count huge", [](Bytes* b) { hand::put32(b, 16, 0xFFFFFFFFu); }},
      {"entry_count huge, storage 3", [](Bytes* b) {
         hand::put32(b, 16, 0x7FFFFFFFu);
         hand::put32(b, 24, 3);
       }},
      {"entry_count * 48 wraps 32 bits", [](Bytes* b) { hand::put32(b, 16, 0x05555556u); }},
      {"directory_offset at the end", [](Bytes* b) { hand::put32(b, 20, uint32_t(b->size())); }},
      {"directory_offset past the end", [](Bytes* b) { hand::put32(b, 20, 0xFFFFFFF0u); }},
      {"directory cut by the end", [](Bytes* b) { hand::put32(b, 20, uint32_t(b->size()) - 100); }},
      {"unterminated name", [](Bytes* b) { memset(b->data() + record_at(1), 'N', 32); }},
      {"entry offset at the end",
       [](Bytes* b) { hand::put32(b, record_at(1) + 32, uint32_t(b->size())); }},
      {"plain entry one byte past the end",
       [](Bytes* b) { hand::put32(b, record_at(1) + 32, uint32_t(b->size()) - 99); }, false},
      {"plain entry size huge", [](Bytes* b) { hand::put32(b, record_at(1) + 36, 0xFFFFFFFFu); }},
      {"entry offset huge", [](Bytes* b) { hand::put32(b, record_at(0) + 32, 0xFFFFFFFFu); }},
      {"stored_size past the end",
       [](Bytes* b) { hand::put32(b, record_at(0) + 44, uint32_t(b->size())); }},
      {"stored_size huge", [](Bytes* b) { hand::put32(b, record_at(2) + 44, 0xFFFFFFFFu); }},
      {"plain entry turned compressed, stored_size huge", [](Bytes* b) {
         hand::put16(b, record_at(1) + 42, 1);
         hand::put32(b, record_at(1) + 44, 0xFFFFFF00u);
       }},
  };
  Bytes base = hand::directory_first_package(base_items(), 0);
  expect_reads_exactly(base, false, expected_of(base_items()));
  for (const Damage& d : damages) {
    Bytes b = base;
    d.apply(&b);
    expect_refused(b, d.what, d.in_image_too);
  }
  for (size_t i = 0; i < 16; ++i) {
    Bytes b = base;
    b[i] ^= (i == 0 ? 0x20 : 0x01);  // 'K' -> 'k', the others off by one bit
    expect_refused(b, ("magic byte " + std::to_string(i)).c_str());
  }
}

TEST(PackageReaderDamaged, CompressedDirectoryDamageIsRefusedAtOpen) {
  std::vector<Item> items = base_items();
  Bytes base = writer_package(items, PackageLayout{});
  expect_reads_exactly(base, false, expected_of(items));
  uint32_t dir_offset = hand::get32(base, 20);
  uint32_t dir_stored = hand::get32(base, 28);
  const Damage damages[] = {
      {"directory inflates short (count one more)", [](Bytes* b) { hand::put32(b, 16, 4); }},
      {"directory inflates long (count one less)", [](Bytes* b) { hand::put32(b, 16, 2); }},
      {"huge count, huge stored size", [](Bytes* b) {
         hand::put32(b, 16, 0x7FFFFFFFu);
         hand::put32(b, 28, 0xFFFFFFFFu);
       }},
      {"huge count", [](Bytes* b) { hand::put32(b, 16, 0xFFFFFFFFu); }},
      {"stored size one byte short",
       [dir_stored](Bytes* b) { hand::put32(b, 28, dir_stored - 1); }},
      {"stored size one byte past the end",
       [dir_stored](Bytes* b) { hand::put32(b, 28, dir_stored + 1); }, false},
      {"stored size 0", [](Bytes* b) { hand::put32(b, 28, 0); }},
      {"bad Adler-32", [](Bytes* b) { b->back() ^= 0x40; }},
      {"damaged stream", [dir_offset](Bytes* b) { (*b)[dir_offset + 5] ^= 0xFF; }},
      {"bad zlib header", [dir_offset](Bytes* b) { (*b)[dir_offset] = 0x79; }},
      {"storage 0 over a compressed directory", [](Bytes* b) { hand::put32(b, 24, 0); }},
  };
  for (const Damage& d : damages) {
    Bytes b = base;
    d.apply(&b);
    expect_refused(b, d.what, d.in_image_too);
  }
}

// The directory of a package with an unterminated name, built by hand,
// compressed: refused like any other invalid package.
TEST(PackageReaderDamaged, UnterminatedNameInCompressedDirectory) {
  hand::Record r;
  r.name = Bytes(32, 'Z');
  r.offset = 32;
  r.size = 1;
  Bytes b(32, 0);
  b.push_back('x');
  Bytes directory = hand::deflate_stream(hand::directory_bytes({r}), 6);
  hand::put_header(&b, 0, 1, 33, 2, uint32_t(directory.size()));
  b.insert(b.end(), directory.begin(), directory.end());
  expect_refused(b, "32-byte name");
  r.name = Bytes(31, 'Z');
  Bytes ok(32, 0);
  ok.push_back('x');
  directory = hand::deflate_stream(hand::directory_bytes({r}), 6);
  hand::put_header(&ok, 0, 1, 33, 2, uint32_t(directory.size()));
  ok.insert(ok.end(), directory.begin(), directory.end());
  expect_reads_exactly(ok, false, {{std::string(31, 'Z'), text("x")}});
}

// Offsets count from the package's first byte; their sum with the image's
// package_offset must not wrap around 32 bits. The program part holds a copy
// of entry 1's bytes and of the directory at its start, so a reader that
// adds in 32 bits would find plausible bytes there and accept.
TEST(PackageReaderDamaged, OffsetsThatWrapWithPackageOffsetAreRefused) {
  std::vector<Item> items = base_items();
  Bytes package = hand::directory_first_package(items, 0);
  const uint32_t kWrapToZero = static_cast<uint32_t>(0x100000000ull - 1000u);

  Bytes program(1000, 0x90);
  memcpy(program.data(), items[1].content.data(), items[1].content.size());
  expect_reads_exactly(hand::image_of(program, package), true, expected_of(items));
  Bytes entry_wrapped = package;
  hand::put32(&entry_wrapped, record_at(1) + 32, kWrapToZero);
  test::OpenedView v(hand::image_of(program, entry_wrapped), true);
  EXPECT_FALSE(v.ok) << "entry offset wrapped with package_offset";

  Bytes dir_program(1000, 0x90);
  memcpy(dir_program.data(), package.data() + 32, 3 * 48);
  Bytes dir_wrapped = package;
  hand::put32(&dir_wrapped, 20, kWrapToZero);
  test::OpenedView w(hand::image_of(dir_program, dir_wrapped), true);
  EXPECT_FALSE(w.ok) << "directory offset wrapped with package_offset";
}

// Each refusal carries the reason of the first check that failed, and the
// entry it concerns: the publishers' tool words its messages from these.
TEST(PackageReaderDamaged, RefusalsCarryTheirReason) {
  struct ReasonCase {
    const char* what;
    std::function<Bytes()> make;
    bool from_image;
    PackageError reason;
    uint32_t entry_index;
  };
  const Bytes plain_dir = hand::directory_first_package(base_items(), 0);
  const Bytes deflated_dir = writer_package(base_items(), PackageLayout{});
  auto changed = [](Bytes b, std::function<void(Bytes*)> change) {
    change(&b);
    return b;
  };
  const ReasonCase cases[] = {
      {"magic", [&] { return changed(plain_dir, [](Bytes* b) { (*b)[3] ^= 1; }); }, false,
       PackageError::kBadMagic, 0},
      {"header cut", [&] { return Bytes(plain_dir.begin(), plain_dir.begin() + 31); }, false,
       PackageError::kHeaderOutOfRange, 0},
      {"entry_count 0", [&] { return changed(plain_dir, [](Bytes* b) { hand::put32(b, 16, 0); }); },
       false, PackageError::kNoEntries, 0},
      {"directory_offset 0",
       [&] { return changed(plain_dir, [](Bytes* b) { hand::put32(b, 20, 0); }); }, false,
       PackageError::kNoDirectoryOffset, 0},
      {"storage 1", [&] { return changed(plain_dir, [](Bytes* b) { hand::put32(b, 24, 1); }); },
       false, PackageError::kInvalidStorage, 0},
      {"directory past the end",
       [&] { return changed(plain_dir, [](Bytes* b) { hand::put32(b, 20, 0xFFFFFFF0u); }); }, false,
       PackageError::kDirectoryOutOfRange, 0},
      {"count beyond the inflate bound",
       [&] { return changed(deflated_dir, [](Bytes* b) { hand::put32(b, 16, 0xFFFFFFFFu); }); },
       false, PackageError::kDirectoryTooLarge, 0},
      {"compressed directory damaged",
       [&] { return changed(deflated_dir, [](Bytes* b) { b->back() ^= 0x40; }); }, false,
       PackageError::kDirectoryDamaged, 0},
      {"unterminated name of entry 1",
       [&] { return changed(plain_dir, [](Bytes* b) { memset(b->data() + record_at(1), 'N', 32); }); },
       false, PackageError::kEntryNameUnterminated, 1},
      {"entry 2 past the end", [&] {
         return changed(plain_dir, [](Bytes* b) { hand::put32(b, record_at(2) + 32, 0xFFFFFFF0u); });
       }, false, PackageError::kEntryOutOfRange, 2},
      {"image without trailer", [&] { return plain_dir; }, true, PackageError::kNoTrailer, 0},
  };
  for (const ReasonCase& c : cases) {
    test::OpenedView v(c.make(), c.from_image);
    EXPECT_EQ(v.result.error, c.reason) << c.what;
    EXPECT_EQ(v.result.entry_index, c.entry_index) << c.what;
  }

  // A stream that does not give its size: refused when that entry loads.
  Bytes damaged = changed(plain_dir, [](Bytes* b) { hand::put32(b, record_at(0) + 36, 4001); });
  test::OpenedView v(damaged, false);
  ASSERT_TRUE(v.ok);
  EntryBytes bytes;
  PackageResult loaded = load_entry_bytes(&v.package, 0, &bytes);
  EXPECT_EQ(loaded.error, PackageError::kEntryDamaged);
  EXPECT_EQ(loaded.entry_index, 0u);
  EXPECT_EQ(bytes.data, nullptr);
  EXPECT_EQ(load_entry_bytes(&v.package, 3, &bytes).error, PackageError::kNoSuchEntry);
  ASSERT_TRUE(load_entry_bytes(&v.package, 1, &bytes));
  EXPECT_EQ(Bytes(bytes.data.get(), bytes.data.get() + bytes.size), base_items()[1].content);
}

TEST(PackageReaderDamaged, TrailerDamageIsRefused) {
  Bytes package = writer_package(base_items(), PackageLayout{});
  Bytes program = text("MZ\x90\0 a program without anything appended");
  Bytes image = hand::image_of(program, package);
  expect_reads_exactly(image, true, expected_of(base_items()));
  const Damage damages[] = {
      {"tag KRVd", [](Bytes* b) { b->back() = 'd'; }},
      {"tag DVRK", [](Bytes* b) { memcpy(b->data() + b->size() - 4, "DVRK", 4); }},
      {"tag cut", [](Bytes* b) { b->pop_back(); }},
      {"package_offset past the end", [](Bytes* b) { hand::put32(b, b->size() - 8, 0xFFFFFFF0u); }},
      {"package_offset at the trailer", [](Bytes* b) { hand::put32(b, b->size() - 8, uint32_t(b->size() - 8)); }},
      {"package_offset one off", [](Bytes* b) { hand::put32(b, b->size() - 8, hand::get32(*b, b->size() - 8) + 1); }},
      {"header cut by the end of the file", [](Bytes* b) { hand::put32(b, b->size() - 8, uint32_t(b->size() - 20)); }},
  };
  for (const Damage& d : damages) {
    Bytes b = image;
    d.apply(&b);
    test::OpenedView v(b, true);
    EXPECT_FALSE(v.ok) << d.what;
  }
  test::OpenedView plain_program(program, true);
  EXPECT_FALSE(plain_program.ok) << "a program without a trailer";
  test::OpenedView image_as_package(image, false);
  EXPECT_FALSE(image_as_package.ok) << "an image named as the package file";
  test::OpenedView package_as_image(package, true);
  EXPECT_FALSE(package_as_image.ok) << "a package file opened as an image";
  for (size_t n = 0; n < 8; ++n) {
    test::OpenedView tiny(Bytes(image.end() - n, image.end()), true);
    EXPECT_FALSE(tiny.ok) << n << " bytes";
  }
}

// Every byte of a package is needed: any truncation is refused.
TEST(PackageReaderDamaged, TruncatedAtEveryLength) {
  std::vector<Item> items = base_items();
  const Bytes packages[] = {writer_package(items, PackageLayout{}),
                            hand::directory_first_package(items, 0),
                            hand::directory_last_package(items, 3)};
  for (const Bytes& full : packages) {
    for (size_t n = 0; n < full.size(); ++n) {
      Bytes cut(full.begin(), full.begin() + n);
      test::OpenedView v(cut, false);
      ASSERT_FALSE(v.ok) << "cut to " << n << " of " << full.size();
      // In an image the trailer follows the cut; once the cut is deeper
      // than the trailer, the package's last byte lies outside the file.
      if (n + kTrailerSize >= full.size()) continue;
      test::OpenedView w(hand::image_of(text("prog"), cut), true);
      ASSERT_FALSE(w.ok) << "image, package cut to " << n;
    }
  }
}

// The directory is fine but an entry's stream does not give exactly `size`
// bytes: open succeeds, that entry fails to load (both forms), the others
// still load, and nothing is written past `size`.
TEST(PackageReaderDamaged, EntryStreamsThatDoNotGiveExactlySizeFailToLoad) {
  const Damage damages[] = {
      {"size one more (short inflation)",
       [](Bytes* b) { hand::put32(b, record_at(0) + 36, 4001); }},
      {"size one less (long inflation)",
       [](Bytes* b) { hand::put32(b, record_at(0) + 36, 3999); }},
      {"size 0 of a non-empty stream", [](Bytes* b) { hand::put32(b, record_at(0) + 36, 0); }},
      {"size huge", [](Bytes* b) { hand::put32(b, record_at(0) + 36, 0xFFFFFFF0u); }},
      {"stored_size one short", [](Bytes* b) {
         hand::put32(b, record_at(0) + 44, hand::get32(*b, record_at(0) + 44) - 1);
       }},
      {"stored_size 0", [](Bytes* b) { hand::put32(b, record_at(0) + 44, 0); }},
      {"bad Adler-32", [](Bytes* b) {
         size_t end = hand::get32(*b, record_at(0) + 32) + hand::get32(*b, record_at(0) + 44);
         (*b)[end - 1] ^= 0x01;
       }},
      {"damaged stream", [](Bytes* b) { (*b)[hand::get32(*b, record_at(0) + 32) + 20] ^= 0x55; }},
      {"bad zlib header", [](Bytes* b) { (*b)[hand::get32(*b, record_at(0) + 32) + 1] ^= 0x01; }},
      {"raw deflate without zlib header", [](Bytes* b) {
         // Skip the 2-byte header: a raw deflate stream is not a zlib stream.
         uint32_t off = hand::get32(*b, record_at(0) + 32);
         hand::put32(b, record_at(0) + 32, off + 2);
         hand::put32(b, record_at(0) + 44, hand::get32(*b, record_at(0) + 44) - 2);
       }},
      {"plain entry flagged compressed", [](Bytes* b) {
         hand::put16(b, record_at(0) + 42, 0);  // entry 0 plain: its stream is not its content
         hand::put32(b, record_at(0) + 36, 10);
         hand::put16(b, record_at(1) + 42, 0x11);
         hand::put32(b, record_at(1) + 44, 100);
       }},
  };
  std::vector<Item> items = base_items();
  for (const Damage& d : damages) {
    Bytes b = hand::directory_first_package(items, 0);
    d.apply(&b);
    test::OpenedView v(b, false);
    ASSERT_TRUE(v.ok) << d.what;
    const DirectoryEntry& e = v.package.entries[0];
    bool entry0_compressed = (e.flags & 1) != 0;
    int broken = entry0_compressed ? 0 : 1;
    EXPECT_EQ(load_entry(&v.package, broken), nullptr) << d.what;
    size_t room = v.package.entries[broken].size < 100000 ? v.package.entries[broken].size : 0;
    Bytes area(room + 64, 0xA5);
    if (room == v.package.entries[broken].size) {
      EXPECT_FALSE(load_entry_into(&v.package, broken, area.data())) << d.what;
      for (size_t k = room; k < area.size(); ++k) ASSERT_EQ(area[k], 0xA5) << d.what << " " << k;
    }
    EXPECT_EQ(v.load(2), items[2].content) << d.what << ": other entries still load";
  }
}

// ---- Files ------------------------------------------------------------------

TEST(PackageFile, OpensPackageFilesAndImagesAndRefusesTheRest) {
  std::vector<Item> items = mixed_items(Store::kZlibDefault);
  Bytes package = writer_package(items, PackageLayout{});
  Bytes program = hand::content_of(5000, 11, false);
  Bytes image = hand::image_of(program, package);
  std::string package_path = test::write_scratch("update.pkg", package);
  std::string image_path = test::write_scratch("update.exe", image);
  std::string program_path = test::write_scratch("plain.exe", program);
  std::string empty_path = test::write_scratch("empty.pkg", {});
  std::string folder_path = test::scratch_path("folder");
  mkdir(folder_path.c_str(), 0700);

  struct Case {
    const char* what;
    std::string path;
    bool from_image;
    PackageError reason;
    uint32_t system_error;
  };
  const Case cases[] = {
      {"package file", package_path, false, PackageError::kNone, 0},
      {"image", image_path, true, PackageError::kNone, 0},
      {"image named as the package file", image_path, false, PackageError::kBadMagic, 0},
      {"package file opened as an image", package_path, true, PackageError::kNoTrailer, 0},
      {"program without a package", program_path, true, PackageError::kNoTrailer, 0},
      {"zero-length package file", empty_path, false, PackageError::kEmptyFile, 0},
      {"zero-length image", empty_path, true, PackageError::kEmptyFile, 0},
      {"missing file", package_path + ".missing", false, PackageError::kCannotOpen, ENOENT},
      {"a folder", folder_path, false, PackageError::kNotAFile, 0},
  };
  for (const Case& c : cases) {
    Package p;
    PackageResult result = open_package(&p, c.path.c_str(), c.from_image);
    EXPECT_EQ(result.error, c.reason) << c.what;
    EXPECT_EQ(result.system_error, c.system_error) << c.what;
    bool opened = static_cast<bool>(result);
    if (opened) {
      EXPECT_EQ(p.package_offset, c.from_image ? program.size() : 0u) << c.what;
      for (size_t i = 0; i < items.size(); ++i) {
        uint8_t* buffer = load_entry(&p, find_entry(&p, items[i].name.c_str()));
        ASSERT_NE(buffer, nullptr) << c.what << " " << items[i].name;
        EXPECT_EQ(Bytes(buffer, buffer + items[i].content.size()), items[i].content);
        free_entry_buffer(buffer);
      }
    }
    close_package(&p);
    EXPECT_FALSE(p.has_file) << c.what;
    EXPECT_FALSE(p.has_mapping) << c.what;
    EXPECT_EQ(p.view, nullptr) << c.what;
    EXPECT_EQ(p.entries, nullptr) << c.what;
  }
  rmdir(folder_path.c_str());
}

TEST(PackageFile, ZeroLengthViewIsRefused) {
  for (bool from_image : {false, true}) {
    Package p = {};
    EXPECT_FALSE(open_package_view(&p, nullptr, 0, from_image).error == PackageError::kNone);
    close_package(&p);
  }
}

}  // namespace

// The package writer: the byte layout "as produced", read back by hand and by
// zlib's own inflate (not by our reader), its variants, its errors, and
// round trips through our reader.
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "hand_package.h"
#include "package.h"
#include "package_writer.h"
#include "test_support.h"

namespace {

using hand::Bytes;

// Inflates a zlib stream with zlib alone, expecting exactly `size` bytes
// and the whole input used.
bool zlib_inflates_to(const Bytes& stream, const Bytes& want) {
  Bytes out(want.size() + 1);
  uLongf out_size = out.size();
  uLong in_size = stream.size();
  int result = uncompress2(out.data(), &out_size, stream.data(), &in_size);
  out.resize(out_size);
  return result == Z_OK && in_size == stream.size() && out == want;
}

// A zlib header that announces the default 32 KiB window and no dictionary.
bool default_zlib_header(const uint8_t* p) {
  return p[0] == 0x78 && ((p[0] << 8) | p[1]) % 31 == 0 && (p[1] & 0x20) == 0;
}

struct Content {
  std::string name;
  Bytes bytes;
  bool compress;
};

std::vector<Content> sample_contents() {
  return {{":RegistryKeys", hand::bytes_of(std::string("K\0F\0P\0L\0\x01\0\0\0\0", 13)), true},
          {"bin\\app.exe", hand::content_of(50000, 21, false), true},
          {"readme.txt", hand::content_of(777, 22), false},
          {"empty", {}, true},
          {"empty_plain", {}, false},
          {std::string(31, 'n'), hand::content_of(3, 23), true}};
}

std::vector<PreparedEntry> prepare_all(const std::vector<Content>& contents) {
  std::vector<PreparedEntry> out;
  for (const Content& c : contents) {
    PreparedEntry e;
    std::string error;
    EXPECT_TRUE(prepare_entry(c.name, c.bytes.data(), c.bytes.size(), c.compress,
                              kDefaultCompressionLevel, &e, &error)) << error;
    out.push_back(e);
  }
  return out;
}

TEST(PackageWriterLayout, AsProducedByteForByte) {
  std::vector<Content> contents = sample_contents();
  Bytes p;
  std::string error;
  ASSERT_TRUE(write_package(prepare_all(contents), PackageLayout{}, &p, &error)) << error;

  ASSERT_GE(p.size(), 32u);
  EXPECT_EQ(Bytes(p.begin(), p.begin() + 16), hand::bytes_of(std::string("Korvinda data  \x1a", 16)));
  EXPECT_EQ(hand::get32(p, 16), contents.size());
  uint32_t dir_offset = hand::get32(p, 20);
  EXPECT_EQ(hand::get32(p, 24), 2u);
  uint32_t dir_stored = hand::get32(p, 28);
  ASSERT_EQ(static_cast<size_t>(dir_offset) + dir_stored, p.size()) << "ends with the directory";

  Bytes stored_directory(p.begin() + dir_offset, p.end());
  ASSERT_TRUE(default_zlib_header(stored_directory.data()));
  Bytes directory(contents.size() * 48);
  uLongf directory_size = directory.size();
  uLong in_size = stored_directory.size();
  ASSERT_EQ(uncompress2(directory.data(), &directory_size, stored_directory.data(), &in_size), Z_OK);
  ASSERT_EQ(directory_size, contents.size() * 48) << "directory inflates to count * 48";
  ASSERT_EQ(in_size, stored_directory.size());

  uint32_t expected_offset = 32;
  for (size_t i = 0; i < contents.size(); ++i) {
    SCOPED_TRACE(contents[i].name);
    const uint8_t* r = directory.data() + i * 48;
    Bytes name(r, r + 32);
    Bytes want_name = hand::bytes_of(contents[i].name);
    want_name.resize(32, 0);
    EXPECT_EQ(name, want_name) << "name padded with NULs";
    uint32_t offset = hand::get32(directory, i * 48 + 32);
    uint32_t size = hand::get32(directory, i * 48 + 36);
    uint16_t reserved = static_cast<uint16_t>(r[40] | (r[41] << 8));
    uint16_t flags = static_cast<uint16_t>(r[42] | (r[43] << 8));
    uint32_t stored_size = hand::get32(directory, i * 48 + 44);
    EXPECT_EQ(offset, expected_offset) << "entries one after another from 32";
    EXPECT_EQ(size, contents[i].bytes.size());
    EXPECT_EQ(reserved, 0);
    if (contents[i].compress) {
      EXPECT_EQ(flags, 0x11);
      Bytes stream(p.begin() + offset, p.begin() + offset + stored_size);
      ASSERT_GE(stream.size(), 2u);
      EXPECT_TRUE(default_zlib_header(stream.data()));
      EXPECT_TRUE(zlib_inflates_to(stream, contents[i].bytes));
      expected_offset += stored_size;
    } else {
      EXPECT_EQ(flags, 0);
      EXPECT_EQ(Bytes(p.begin() + offset, p.begin() + offset + size), contents[i].bytes);
      expected_offset += size;
    }
  }
  EXPECT_EQ(expected_offset, dir_offset) << "directory right after the last entry";
}

TEST(PackageWriterLayout, VariantsSetExactlyTheirBits) {
  struct Case {
    PackageLayout layout;
    uint32_t header_flags;
    uint16_t compressed_flags;
    uint16_t plain_flags;
  };
  const Case cases[] = {
      {{0, 0, 0}, 0, 0x11, 0},
      {{3, 0, 0}, 3, 0x11, 0},
      {{2, 0xFFFFFFFCu, 0}, 0xFFFFFFFEu, 0x11, 0},
      {{0, 0x7FF0u | 3u, 0}, 0x7FF0u, 0x11, 0},  // storage comes from directory_storage only
      {{2, 0, 0x8000}, 2, 0x8011, 0x8000},
      {{3, 0x40, 0xFFEE}, 0x43, 0xFFFF, 0xFFEE},
  };
  std::vector<Content> contents = {{"z", hand::content_of(900, 1), true},
                                   {"p", hand::content_of(40, 2), false}};
  for (const Case& c : cases) {
    Bytes p;
    std::string error;
    ASSERT_TRUE(write_package(prepare_all(contents), c.layout, &p, &error)) << error;
    EXPECT_EQ(hand::get32(p, 24), c.header_flags);
    uint32_t dir_offset = hand::get32(p, 20);
    Bytes directory;
    if ((c.header_flags & 3) == 2) {
      directory.resize(96);
      uLongf n = 96;
      ASSERT_EQ(uncompress(directory.data(), &n, p.data() + dir_offset, p.size() - dir_offset), Z_OK);
      EXPECT_EQ(hand::get32(p, 28), p.size() - dir_offset);
    } else {
      directory.assign(p.begin() + dir_offset, p.end());
      ASSERT_EQ(directory.size(), 96u) << "a plain directory is count * 48 bytes";
      EXPECT_EQ(hand::get32(p, 28), 0u);
    }
    EXPECT_EQ(directory[42] | (directory[43] << 8), c.compressed_flags);
    EXPECT_EQ(directory[48 + 42] | (directory[48 + 43] << 8), c.plain_flags);
    EXPECT_EQ(hand::get32(directory, 48 + 44), 0u) << "plain entries carry stored_size 0";

    test::OpenedView v(p, false);
    ASSERT_TRUE(v.ok);
    EXPECT_EQ(v.load(0), contents[0].bytes);
    EXPECT_EQ(v.load(1), contents[1].bytes);
  }
}

TEST(PackageWriterErrors, RefusesWhatNoPackageCanHold) {
  PreparedEntry e;
  std::string error;
  uint8_t byte = 1;
  for (const std::string& name : {std::string(), std::string(32, 'a'), std::string("a\0b", 3)}) {
    error.clear();
    EXPECT_FALSE(prepare_entry(name, &byte, 1, true, kDefaultCompressionLevel, &e, &error))
        << name.size();
    EXPECT_FALSE(error.empty());
  }
  EXPECT_TRUE(prepare_entry(std::string(31, 'a'), &byte, 1, false, kDefaultCompressionLevel, &e,
                            &error));

  Bytes p = {1, 2, 3};
  error.clear();
  EXPECT_FALSE(write_package({}, PackageLayout{}, &p, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(p, (Bytes{1, 2, 3})) << "output untouched on failure";

  PreparedEntry too_long;
  too_long.name = std::string(32, 'x');
  error.clear();
  EXPECT_FALSE(write_package({too_long}, PackageLayout{}, &p, &error));
  EXPECT_FALSE(error.empty());
}

TEST(PackageWriterImage, ProgramPackageAndTrailer) {
  Bytes program = hand::content_of(1234, 5, false);
  Bytes package;
  std::string error;
  ASSERT_TRUE(write_package(prepare_all(sample_contents()), PackageLayout{}, &package, &error));
  Bytes image;
  ASSERT_TRUE(make_image(program, package, &image, &error)) << error;
  ASSERT_EQ(image.size(), program.size() + package.size() + 8);
  EXPECT_EQ(Bytes(image.begin(), image.begin() + 1234), program);
  EXPECT_EQ(Bytes(image.begin() + 1234, image.end() - 8), package);
  EXPECT_EQ(hand::get32(image, image.size() - 8), 1234u);
  EXPECT_EQ(Bytes(image.end() - 4, image.end()), hand::bytes_of("KRVD"));
}

// Writer to reader: every content size class, plain and compressed, every
// layout, from memory and from files, package and image.
TEST(PackageWriterRoundTrip, ReaderGivesBackEveryEntry) {
  std::vector<Content> contents;
  const size_t sizes[] = {0, 1, 2, 31, 32, 47, 48, 1000, 65535, 65536, 65537, 300000};
  uint32_t seed = 100;
  for (size_t n : sizes) {
    for (bool compress : {true, false}) {
      for (bool noise : {true, false}) {
        std::string name = "f" + std::to_string(n) + (compress ? "z" : "p") + (noise ? "n" : "t");
        contents.push_back({name, hand::content_of(n, ++seed, !noise), compress});
      }
    }
  }
  for (int i = 0; i < 300; ++i) {
    contents.push_back({"many\\" + std::to_string(i), hand::content_of(i % 7, ++seed), i % 2 == 0});
  }
  const PackageLayout layouts[] = {{2, 0, 0}, {0, 0, 0}, {3, 0xF0, 0x10}};
  for (const PackageLayout& layout : layouts) {
    Bytes p;
    std::string error;
    ASSERT_TRUE(write_package(prepare_all(contents), layout, &p, &error)) << error;
    Bytes image;
    ASSERT_TRUE(make_image(hand::content_of(777, 1, false), p, &image, &error));
    std::string package_path = test::write_scratch("p" + std::to_string(layout.directory_storage), p);
    std::string image_path = test::write_scratch("i" + std::to_string(layout.directory_storage), image);
    for (int mode = 0; mode < 2; ++mode) {
      Package pkg = {};
      bool from_image = mode == 1;
      ASSERT_TRUE(open_package(&pkg, from_image ? image_path.c_str() : package_path.c_str(),
                               from_image));
      ASSERT_EQ(pkg.header.entry_count, contents.size());
      for (size_t i = 0; i < contents.size(); ++i) {
        int index = find_entry(&pkg, contents[i].name.c_str());
        ASSERT_EQ(index, static_cast<int>(i)) << contents[i].name;
        uint8_t* buffer = load_entry(&pkg, index);
        ASSERT_NE(buffer, nullptr) << contents[i].name;
        EXPECT_EQ(Bytes(buffer, buffer + contents[i].bytes.size()), contents[i].bytes)
            << contents[i].name;
        free_entry_buffer(buffer);
      }
      close_package(&pkg);
    }
  }
}

TEST(PackageWriterRoundTrip, EveryCompressionLevelReadsBack) {
  Bytes content = hand::content_of(20000, 3);
  for (int level : {kDefaultCompressionLevel, 0, 1, 6, 9}) {
    PreparedEntry e;
    std::string error;
    ASSERT_TRUE(prepare_entry("x", content.data(), content.size(), true, level, &e, &error))
        << level << " " << error;
    EXPECT_TRUE(default_zlib_header(e.stored.data())) << level;
    EXPECT_TRUE(zlib_inflates_to(e.stored, content)) << level;
    Bytes p;
    ASSERT_TRUE(write_package({e}, PackageLayout{}, &p, &error));
    test::OpenedView v(p, false);
    ASSERT_TRUE(v.ok);
    EXPECT_EQ(v.load(0), content) << level;
  }
}

}  // namespace

// Packages written entry by entry: the same bytes as the package writer
// lays out in memory, whatever the threads, the memory allowed in flight or
// the size above which files are streamed.
#include <gtest/gtest.h>

#include "package.h"
#include "package_build.h"
#include "package_file_writer.h"
#include "package_integrity.h"
#include "package_writer.h"
#include "tool_support.h"

namespace {

std::string incompressible(size_t size, uint32_t seed) {
  std::string out(size, '\0');
  for (char& c : out) {
    seed ^= seed << 13;
    seed ^= seed >> 17;
    seed ^= seed << 5;
    c = static_cast<char>(seed);
  }
  return out;
}

class PackageStreamTest : public ScratchTest {
 protected:
  // Opens a written package and returns each entry's name and content.
  std::vector<std::pair<std::string, std::string>> entries_of(const fs::path& path) {
    Package package{};
    std::vector<std::pair<std::string, std::string>> out;
    EXPECT_TRUE(open_package(&package, path.c_str(), false)) << path;
    for (uint32_t i = 0; package.entries != nullptr && i < package.header.entry_count; ++i) {
      uint8_t* content = load_entry(&package, static_cast<int>(i));
      EXPECT_NE(content, nullptr) << package.entries[i].name;
      if (content == nullptr) continue;
      out.emplace_back(package.entries[i].name,
                       std::string(reinterpret_cast<char*>(content), package.entries[i].size));
      free_entry_buffer(content);
    }
    close_package(&package);
    return out;
  }

  PackageContent tree_content() {
    const std::pair<const char*, std::string> kFiles[] = {
        {"a.txt", std::string(300000, 'a')},
        {"b.bin", incompressible(200000, 7)},
        {"c\\empty.txt", ""},
        {"d.txt", "short text"},
        {"e.bin", incompressible(70000, 9) + std::string(90000, 'e')},
    };
    PackageContent content;
    content.has_registry = true;
    content.key_path = "SOFTWARE\\K";
    content.folder_value = "Path";
    content.program_value = "Program";
    content.level_value = "Level";
    content.level = 3;
    for (const auto& [path, bytes] : kFiles) {
      std::string disk = path;
      for (char& c : disk) c = c == '\\' ? '/' : c;
      write_file(dir_ / "tree" / disk, bytes);
      content.files.push_back(TreeFile{path, dir_ / "tree" / disk});
      contents_[path] = bytes;
    }
    return content;
  }

  std::map<std::string, std::string> contents_;
};

TEST_F(PackageStreamTest, WriterLaysOutTheBytesOfThePackageWriter) {
  std::vector<PreparedEntry> entries = {compressed_entry(":Folders", std::string("x\0\0", 3)),
                                        plain_entry("plain.txt", "plain content"),
                                        compressed_entry("deflated.txt", std::string(5000, 'z')),
                                        plain_entry("empty.txt", "")};
  std::vector<uint8_t> expected;
  std::string error;
  ASSERT_TRUE(write_package(entries, PackageLayout{}, &expected, &error)) << error;

  PackageFileWriter writer;
  ASSERT_TRUE(writer.open((dir_ / "p.krv").u8string(), &error)) << error;
  for (const PreparedEntry& e : entries) {
    ASSERT_TRUE(writer.add_entry(e.name, e.size, e.flags != 0, e.stored.data(), e.stored.size(), &error));
  }
  uint64_t size = 0;
  ASSERT_TRUE(writer.finish(&size, &error)) << error;
  // The entries lie byte for byte where the package writer puts them; the
  // checksum section follows them and the reader's own check proves it.
  std::string streamed = read_file(dir_ / "p.krv");
  EXPECT_EQ(streamed.size(), size);
  uint32_t entries_end = read_le32(expected.data() + kHeaderDirectoryOffsetAt);
  ASSERT_GE(streamed.size(), entries_end);
  EXPECT_EQ(streamed.substr(kHeaderSize, entries_end - kHeaderSize),
            std::string(expected.begin() + kHeaderSize, expected.begin() + entries_end));
  Package package{};
  ASSERT_TRUE(open_package(&package, (dir_ / "p.krv").c_str(), false));
  ASSERT_EQ(package.header.entry_count, entries.size() + 1);
  EXPECT_STREQ(package.entries[entries.size()].name, kChecksumsName);
  PlatformSha256 sha256;
  PackageResult checked = check_package_integrity(package, sha256.function());
  EXPECT_TRUE(checked) << package_error_text(checked.error);
  close_package(&package);
  EXPECT_TRUE(temp_leftovers(dir_).empty());
}

TEST_F(PackageStreamTest, SameBytesWhateverTheThreadsAndMemoryInFlight) {
  PackageContent content = tree_content();
  struct Variant {
    unsigned threads;
    uint64_t in_flight;
  };
  const Variant kVariants[] = {{1, 1}, {4, 1}, {3, 400000}, {8, 1ull << 30}};
  std::string first;
  for (const Variant& v : kVariants) {
    BuildOptions options;
    options.threads = v.threads;
    options.memory_in_flight = v.in_flight;
    std::string error;
    uint64_t size = 0;
    fs::path out = dir_ / "p.krv";
    ASSERT_TRUE(build_package_file(content, options, out.u8string(), &size, &error)) << error;
    std::string bytes = read_file(out);
    EXPECT_EQ(bytes.size(), size);
    if (first.empty()) first = bytes;
    EXPECT_EQ(bytes, first) << v.threads << " threads, " << v.in_flight << " bytes in flight";
  }
  for (const auto& [name, bytes] : entries_of(dir_ / "p.krv")) {
    if (name[0] != ':') EXPECT_EQ(bytes, contents_[name]) << name;
  }
}

TEST_F(PackageStreamTest, StreamedFilesReadBackAndStayPlainWhenDeflateDoesNotShrinkThem) {
  PackageContent content = tree_content();
  BuildOptions options;
  options.streamed_above = 100000;  // a.txt, b.bin and e.bin go through the stream
  std::string error;
  uint64_t size = 0;
  ASSERT_TRUE(build_package_file(content, options, (dir_ / "p.krv").u8string(), &size, &error)) << error;
  EXPECT_EQ(fs::file_size(dir_ / "p.krv"), size);
  auto entries = entries_of(dir_ / "p.krv");
  // The files, :RegistryKeys and :Checksums.
  ASSERT_EQ(entries.size(), content.files.size() + 2);
  for (const auto& [name, bytes] : entries) {
    if (name[0] != ':') EXPECT_EQ(bytes, contents_[name]) << name;
  }
  Package package{};
  ASSERT_TRUE(open_package(&package, (dir_ / "p.krv").c_str(), false));
  const std::pair<const char*, bool> kStorage[] = {
      {"a.txt", true}, {"b.bin", false}, {"e.bin", true}, {"c\\empty.txt", false}};
  for (const auto& [name, compressed] : kStorage) {
    int index = find_entry(&package, name);
    ASSERT_GE(index, 0) << name;
    EXPECT_EQ((package.entries[index].flags & kEntryCompressed) != 0, compressed) << name;
  }
  close_package(&package);
}

TEST_F(PackageStreamTest, AFileThatCannotBeReadIsNamedWithTheReasonAndNothingIsLeft) {
  PackageContent content = tree_content();
  content.files.insert(content.files.begin() + 2, TreeFile{"gone.txt", dir_ / "tree" / "gone.txt"});
  for (uint64_t streamed_above : {uint64_t{0}, uint64_t{1} << 30}) {
    BuildOptions options;
    options.streamed_above = streamed_above;
    std::string error;
    uint64_t size = 0;
    EXPECT_FALSE(build_package_file(content, options, (dir_ / "p.krv").u8string(), &size, &error));
    EXPECT_NE(error.find("gone.txt\": No such file or directory"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(dir_ / "p.krv"));
    EXPECT_TRUE(temp_leftovers(dir_).empty());
  }
}

}  // namespace

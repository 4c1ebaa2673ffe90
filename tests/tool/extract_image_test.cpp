// krvpack extract never writes outside its folder; krvpack image makes the
// image byte for byte and only from a package that verifies.
#include <nlohmann/json.hpp>

#include "package.h"
#include "package_writer.h"
#include "section_builders.h"
#include "tool_support.h"

namespace {

using nlohmann::json;

void write_package_file(const fs::path& path, const std::vector<PreparedEntry>& entries) {
  std::vector<uint8_t> bytes;
  std::string error;
  ASSERT_TRUE(write_package(entries, PackageLayout{}, &bytes, &error)) << error;
  write_file(path, std::string(bytes.begin(), bytes.end()));
}

PreparedEntry registry_entry() {
  return plain_entry(kRegistryKeysName,
                     build_registry_keys("SOFTWARE\\K", "ProgramPath", "ProgramName", "PatchLevel", 1));
}

class ExtractTest : public ScratchTest {};

struct EscapeCase {
  const char* label;
  std::vector<PreparedEntry> entries;
};

TEST_F(ExtractTest, RefusesEveryPathThatLeavesTheFolderAndWritesNothing) {
  const std::vector<EscapeCase> kCases = {
      {"dot-dot", {compressed_entry("..\\evil.txt", "evil")}},
      {"deep dot-dot", {compressed_entry("a\\..\\..\\evil.txt", "evil")}},
      {"drive", {plain_entry("C:evil.txt", "evil")}},
      {"leading separator", {plain_entry("\\evil.txt", "evil")}},
      {"through the name table",
       {plain_entry(kXlatNamesTableName, build_name_table({{"TMP0000000000000001", "..\\..\\evil.txt"}})),
        compressed_entry("TMP0000000000000001", "evil")}},
      {"folder list", {plain_entry(kFoldersName, build_string_list({"..\\evil"}))}},
  };
  for (const EscapeCase& c : kCases) {
    SCOPED_TRACE(c.label);
    fs::path case_dir = dir_ / c.label;
    std::vector<PreparedEntry> entries = {registry_entry(), compressed_entry("good.txt", "good")};
    entries.insert(entries.end(), c.entries.begin(), c.entries.end());
    write_package_file(case_dir / "p.krv", entries);
    fs::path target = case_dir / "a" / "b" / "x";
    RunResult r = run_krvpack({"extract", (case_dir / "p.krv").u8string(), "-C", target.u8string()});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("krvpack: refusing"), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_FALSE(fs::exists(target / "good.txt"));
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(case_dir)) {
      EXPECT_EQ(e.path().filename().u8string().find("evil"), std::string::npos) << e.path();
    }
    RunResult verified = run_krvpack({"verify", (case_dir / "p.krv").u8string()});
    EXPECT_EQ(verified.exit_code, 1);
    EXPECT_NE(verified.err.find("installation folder"), std::string::npos) << verified.err;
  }
}

TEST_F(ExtractTest, RefusesToWriteThroughALinkInTheFolder) {
  write_package_file(dir_ / "p.krv", {registry_entry(), compressed_entry("link\\a.txt", "a")});
  fs::create_directories(dir_ / "outside");
  fs::create_directories(dir_ / "x");
  fs::create_directory_symlink(dir_ / "outside", dir_ / "x" / "link");
  RunResult r = run_krvpack({"extract", (dir_ / "p.krv").u8string(), "-C", (dir_ / "x").u8string()});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("link"), std::string::npos) << r.err;
  EXPECT_TRUE(fs::is_empty(dir_ / "outside"));
}

class ImageTest : public ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    write_file(dir_ / "app/app.exe", std::string(5000, 'a') + "program");
    write_file(dir_ / "app" / fs::u8path("данные.txt"), "текст");
    write_file(dir_ / "m.toml", "level = 1\nsource = \"app\"\n[registry]\nkey = \"SOFTWARE\\\\K\"\n");
    RunResult built = run_krvpack({"build", (dir_ / "m.toml").u8string(), "-o", (dir_ / "p.krv").u8string()});
    ASSERT_EQ(built.exit_code, 0) << built.err;
    program_ = minimal_pe(false, std::string(3000, '\x90') + "end of program");
    write_file(dir_ / "PATCH.EXE", program_);
  }
  std::string program_;
};

TEST_F(ImageTest, ImageIsProgramPackageAndTrailer) {
  RunResult r = run_krvpack({"image", (dir_ / "PATCH.EXE").u8string(), (dir_ / "p.krv").u8string(),
                             "-o", (dir_ / "UPDATE.EXE").u8string()});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  uint32_t e = static_cast<uint32_t>(program_.size());
  std::string trailer = {static_cast<char>(e), static_cast<char>(e >> 8), static_cast<char>(e >> 16),
                         static_cast<char>(e >> 24), 'K', 'R', 'V', 'D'};
  EXPECT_EQ(read_file(dir_ / "UPDATE.EXE"), program_ + read_file(dir_ / "p.krv") + trailer);

  RunResult listed = run_krvpack({"list", "--json", (dir_ / "UPDATE.EXE").u8string()});
  ASSERT_EQ(listed.exit_code, 0) << listed.err;
  json report = json::parse(listed.out);
  EXPECT_EQ(report["kind"], "image");
  EXPECT_EQ(report["package_offset"], e);
  RunResult verified = run_krvpack({"verify", (dir_ / "UPDATE.EXE").u8string()});
  EXPECT_EQ(verified.exit_code, 0) << verified.err;
  RunResult extracted = run_krvpack({"extract", (dir_ / "UPDATE.EXE").u8string(), "-C", (dir_ / "x").u8string()});
  ASSERT_EQ(extracted.exit_code, 0) << extracted.err;
  EXPECT_EQ(snapshot(dir_ / "x"), snapshot(dir_ / "app"));
}

TEST_F(ImageTest, DamagedPackageIsRefusedAndNoImageIsLeft) {
  Package opened;
  ASSERT_TRUE(open_package(&opened, (dir_ / "p.krv").c_str(), false));
  int index = find_entry(&opened, "app.exe");
  ASSERT_GE(index, 0);
  DirectoryEntry entry = opened.entries[index];
  close_package(&opened);
  ASSERT_TRUE(entry.flags & kEntryCompressed);
  std::string package = read_file(dir_ / "p.krv");
  size_t middle = entry.offset + entry.stored_size / 2;
  package[middle] = static_cast<char>(package[middle] ^ 0x55);
  write_file(dir_ / "bad.krv", package);
  RunResult verified = run_krvpack({"verify", (dir_ / "bad.krv").u8string()});
  EXPECT_EQ(verified.exit_code, 1);
  EXPECT_NE(verified.err.find("entry \"app.exe\": an entry does not match its checksum"),
            std::string::npos) << verified.err;

  RunResult r = run_krvpack({"image", (dir_ / "PATCH.EXE").u8string(), (dir_ / "bad.krv").u8string(),
                             "-o", (dir_ / "UPDATE.EXE").u8string()});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_FALSE(fs::exists(dir_ / "UPDATE.EXE"));
  EXPECT_TRUE(temp_leftovers(dir_).empty());
}

TEST_F(ImageTest, AnImageIsNotTakenAsThePackage) {
  ASSERT_EQ(run_krvpack({"image", (dir_ / "PATCH.EXE").u8string(), (dir_ / "p.krv").u8string(), "-o",
                         (dir_ / "UPDATE.EXE").u8string()}).exit_code, 0);
  RunResult r = run_krvpack({"image", (dir_ / "PATCH.EXE").u8string(), (dir_ / "UPDATE.EXE").u8string(),
                             "-o", (dir_ / "TWICE.EXE").u8string()});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("already a self-contained image"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(dir_ / "TWICE.EXE"));
}

struct DamageCase {
  const char* label;
  size_t offset;
  char value;
  const char* message;
};

TEST_F(ImageTest, VerifyNamesTheFirstFaultOfTheHeader) {
  const DamageCase kCases[] = {
      {"magic", 0, 'k', "does not begin with the package magic"},
      {"entry count", 16, 0, "entry count is 0"},
      {"storage", 24, 1, "directory storage is 1"},
  };
  std::string good = read_file(dir_ / "p.krv");
  for (const DamageCase& c : kCases) {
    std::string bad = good;
    if (c.offset == 16) bad.replace(16, 4, std::string(4, '\0'));
    else bad[c.offset] = c.value;
    write_file(dir_ / "bad.krv", bad);
    RunResult r = run_krvpack({"verify", (dir_ / "bad.krv").u8string()});
    EXPECT_EQ(r.exit_code, 1) << c.label;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.label << ": " << r.err;
  }
}

}  // namespace

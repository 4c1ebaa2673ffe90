// krvpack and the checksum section: build and diff always write it, list
// shows each file's SHA-256, and verify, extract and image refuse a package
// with one changed byte, naming the entry.
#include <openssl/sha.h>

#include <nlohmann/json.hpp>

#include "package.h"
#include "package_writer.h"
#include "tool_support.h"

namespace {

using nlohmann::json;

const char kManifest[] = R"(level = 2
source = "app"

[registry]
key = "SOFTWARE\\Korvinda\\App"
)";

std::string noise(size_t size, uint32_t seed) {
  std::string out(size, '\0');
  for (char& c : out) {
    seed ^= seed << 13;
    seed ^= seed >> 17;
    seed ^= seed << 5;
    c = static_cast<char>(seed);
  }
  return out;
}

std::string sha256_hex(const std::string& data) {
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const unsigned char*>(data.data()), data.size(), digest);
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char b : digest) {
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 15]);
  }
  return out;
}

class IntegrityTest : public ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    std::string text;
    for (int i = 0; i < 300; ++i) text += "line " + std::to_string(i % 9) + "\n";
    files_ = {{"app.exe", text}, {"media/clip.bin", noise(40000, 7)}, {"empty.txt", ""}};
    for (const auto& [path, content] : files_) write_file(dir_ / "app" / path, content);
    write_file(dir_ / "m.toml", kManifest);
    RunResult r = run_krvpack({"build", (dir_ / "m.toml").u8string(), "-o", package().u8string()});
    ASSERT_EQ(r.exit_code, 0) << r.err;
  }

  fs::path package() const { return dir_ / "p.krv"; }

  // The stored bytes of one entry, as the directory places them.
  std::pair<size_t, size_t> stored_range(const std::string& name) {
    Package opened;
    EXPECT_TRUE(open_package(&opened, package().c_str(), false));
    int index = find_entry(&opened, name.c_str());
    EXPECT_GE(index, 0) << name;
    std::pair<size_t, size_t> range{0, 0};
    if (index >= 0) {
      const DirectoryEntry& e = opened.entries[index];
      range = {e.offset, (e.flags & kEntryCompressed) ? e.stored_size : e.size};
    }
    close_package(&opened);
    return range;
  }

  std::map<std::string, std::string> files_;
};

TEST_F(IntegrityTest, BuildWritesTheSectionAndListShowsEachFilesDigest) {
  RunResult listed = run_krvpack({"list", "--json", package().u8string()});
  ASSERT_EQ(listed.exit_code, 0) << listed.err;
  json report = json::parse(listed.out);
  EXPECT_EQ(report["schema"], 2);
  EXPECT_TRUE(report["checksums"].get<bool>());
  std::map<std::string, std::string> digests;
  bool has_section = false;
  for (const json& e : report["entries"]) {
    ASSERT_EQ(e["sha256"].get<std::string>().size(), 64u) << e["name"];
    if (e["name"] == ":Checksums") has_section = e["section"].get<bool>();
    if (!e["section"].get<bool>()) digests[e["path"]] = e["sha256"];
  }
  EXPECT_TRUE(has_section);
  ASSERT_EQ(digests.size(), files_.size());
  for (const auto& [path, content] : files_) {
    std::string stored_path = path;
    for (char& c : stored_path) c = c == '/' ? '\\' : c;
    EXPECT_EQ(digests[stored_path], sha256_hex(content)) << path;
  }
  RunResult verified = run_krvpack({"verify", package().u8string()});
  EXPECT_EQ(verified.exit_code, 0) << verified.err;
  EXPECT_EQ(verified.err.find("warning"), std::string::npos) << verified.err;
}

TEST_F(IntegrityTest, DiffWritesTheSectionToo) {
  write_file(dir_ / "new" / "app.exe", "version 2");
  write_file(dir_ / "old" / "app.exe", "version 1");
  write_file(dir_ / "d.toml", "level = 3\n[registry]\nkey = \"SOFTWARE\\\\Korvinda\\\\App\"\n");
  RunResult made = run_krvpack({"diff", (dir_ / "old").u8string(), (dir_ / "new").u8string(), "-m",
                                (dir_ / "d.toml").u8string(), "-o", (dir_ / "d.krv").u8string()});
  ASSERT_EQ(made.exit_code, 0) << made.err;
  RunResult listed = run_krvpack({"list", "--json", (dir_ / "d.krv").u8string()});
  ASSERT_EQ(listed.exit_code, 0) << listed.err;
  EXPECT_TRUE(json::parse(listed.out)["checksums"].get<bool>());
}

// One byte changed in a file stored plain (it does not shrink) and in one
// stored compressed: every command that reads the package refuses it, and
// names the entry.
TEST_F(IntegrityTest, OneChangedByteIsRefusedByEveryCommand) {
  const std::string original = read_file(package());
  for (const char* name : {"media\\clip.bin", "app.exe"}) {
    SCOPED_TRACE(name);
    auto [offset, length] = stored_range(name);
    ASSERT_GT(length, 0u);
    std::string damaged = original;
    damaged[offset + length / 2] ^= 0x04;
    write_file(dir_ / "bad.krv", damaged);
    const std::string bad = (dir_ / "bad.krv").u8string();

    RunResult verified = run_krvpack({"verify", bad});
    EXPECT_EQ(verified.exit_code, 1);
    EXPECT_NE(verified.err.find(std::string("entry \"") + name + "\": an entry does not match its checksum"),
              std::string::npos) << verified.err;
    RunResult extracted = run_krvpack({"extract", bad, "-C", (dir_ / "x").u8string()});
    EXPECT_EQ(extracted.exit_code, 1);
    EXPECT_FALSE(fs::exists(dir_ / "x"));
    write_file(dir_ / "PATCH.EXE", "MZ a program");
    RunResult imaged = run_krvpack({"image", (dir_ / "PATCH.EXE").u8string(), bad, "-o",
                                    (dir_ / "UPDATE.EXE").u8string()});
    EXPECT_EQ(imaged.exit_code, 1);
    EXPECT_FALSE(fs::exists(dir_ / "UPDATE.EXE"));
  }
}

// A package from another writer, without the section: verify warns, checks
// every compressed stream, and refuses a damaged one.
TEST_F(IntegrityTest, WithoutTheSectionStreamsAreStillChecked) {
  std::vector<PreparedEntry> entries = {
      compressed_entry(":RegistryKeys", std::string("SOFTWARE\\K\0F\0P\0L\0\x01\0\0\0\0", 22)),
      compressed_entry("readme.txt", std::string(5000, 'r')),
      plain_entry("plain.bin", "plain bytes")};
  std::vector<uint8_t> bytes;
  std::string error;
  ASSERT_TRUE(write_package(entries, PackageLayout{}, &bytes, &error)) << error;
  std::string package(bytes.begin(), bytes.end());
  write_file(dir_ / "other.krv", package);
  RunResult verified = run_krvpack({"verify", (dir_ / "other.krv").u8string()});
  EXPECT_EQ(verified.exit_code, 0) << verified.err;
  EXPECT_NE(verified.err.find("no :Checksums section"), std::string::npos) << verified.err;

  // The stream of readme.txt follows the registry section's.
  size_t readme = 32 + entries[0].stored.size();
  package[readme + entries[1].stored.size() - 2] ^= 0x10;  // inside its Adler-32
  write_file(dir_ / "other.krv", package);
  verified = run_krvpack({"verify", (dir_ / "other.krv").u8string()});
  EXPECT_EQ(verified.exit_code, 1);
  EXPECT_NE(verified.err.find("entry \"readme.txt\": an entry does not give its size"),
            std::string::npos) << verified.err;
}

}  // namespace

// A damaged package never touches the installation: PATCH.EXE proves the
// whole package before its first prompt and its first write, and refuses
// one changed byte anywhere (or a cut) with the usage message, no box, and
// every file, folder and the patch level as they were.
#include <dirent.h>
#include <sys/stat.h>

#include <functional>
#include <map>

#include "package.h"
#include "update_fixture.h"

namespace {

const char kUsage[] = "Usage: PATCH.EXE resource_nm [output_nm MAKEEXE]";
constexpr int32_t kInstalledLevel = 4;

// Relative path to content, "<dir>" for a folder: the whole installation.
void snapshot_into(const std::string& root, const std::string& relative,
                   std::map<std::string, std::string>* out) {
  DIR* dir = opendir((root + relative).c_str());
  if (dir == nullptr) return;
  while (dirent* item = readdir(dir)) {
    std::string name = item->d_name;
    if (name == "." || name == "..") continue;
    std::string path = relative + "/" + name;
    struct stat info;
    if (stat((root + path).c_str(), &info) != 0) continue;
    if (S_ISDIR(info.st_mode)) {
      (*out)[path] = "<dir>";
      snapshot_into(root, path, out);
    } else {
      std::string bytes;
      e2e::read_file(root + path, &bytes);
      (*out)[path] = bytes;
    }
  }
  closedir(dir);
}

struct Damage {
  const char* what;
  bool checksums;
  std::function<void(std::vector<uint8_t>*, const Package&)> apply;
};

class IntegrityTest : public UpdateTest {
 protected:
  void SetUp() override {
    UpdateTest::SetUp();
    ASSERT_TRUE(e2e::write_file(app("data.bin"), std::string("old data")));
    ASSERT_TRUE(e2e::write_file(app("obsolete.txt"), std::string("to be removed")));
  }

  // Every phase would leave a trace: a box, a folder, a replaced file (one
  // stored plain, one compressed), a removal and the new level.
  std::vector<uint8_t> update_package(bool checksums) const {
    std::string noise(3000, '\0');
    uint32_t x = 12345;
    for (char& c : noise) c = static_cast<char>((x = x * 1103515245u + 12345u) >> 16);
    PackageLayout layout;
    layout.checksums = checksums;
    return package_of({registry_keys(kInstalledLevel + 1),
                       compressed_entry(kStartupMsgName, build_startup_message("Caption", "Go?")),
                       compressed_entry(kFoldersName, build_string_list({"plugins"})),
                       plain_entry("data.bin", noise),
                       compressed_entry("readme.txt", std::string(4000, 'r')),
                       compressed_entry(kFilesToRemoveName, build_string_list({"obsolete.txt"}))},
                      layout);
  }

  std::map<std::string, std::string> installation() const {
    std::map<std::string, std::string> tree;
    snapshot_into(app_dir_, "", &tree);
    return tree;
  }
};

size_t middle_of(const Package& p, const char* name) {
  const DirectoryEntry& e = p.entries[find_entry(&p, name)];
  return e.offset + ((e.flags & kEntryCompressed) ? e.stored_size : e.size) / 2;
}

TEST_F(IntegrityTest, ADamagedPackageIsRefusedBeforeAnythingIsShownOrWritten) {
  const Damage damages[] = {
      {"byte of a file stored plain", true,
       [](std::vector<uint8_t>* b, const Package& p) { (*b)[middle_of(p, "data.bin")] ^= 1; }},
      {"byte of a compressed file", true,
       [](std::vector<uint8_t>* b, const Package& p) { (*b)[middle_of(p, "readme.txt")] ^= 1; }},
      {"byte of the directory", true,
       [](std::vector<uint8_t>* b, const Package& p) { (*b)[p.header.directory_offset + 9] ^= 1; }},
      {"byte of the checksum section", true,
       [](std::vector<uint8_t>* b, const Package& p) { (*b)[middle_of(p, ":Checksums")] ^= 1; }},
      {"cut by 40 bytes", true,
       [](std::vector<uint8_t>* b, const Package&) { b->resize(b->size() - 40); }},
      {"no checksum section, damaged stream", false,
       [](std::vector<uint8_t>* b, const Package& p) { (*b)[middle_of(p, "readme.txt")] ^= 0x55; }},
  };
  for (const Damage& d : damages) {
    SCOPED_TRACE(d.what);
    std::vector<uint8_t> package = update_package(d.checksums);
    Package opened;
    ASSERT_TRUE(open_package_view(&opened, package.data(), package.size(), false));
    d.apply(&package, opened);
    close_package(&opened);
    std::map<std::string, std::string> before = installation();

    e2e::RunResult r = e2e::run_patch(apply(package, true, kInstalledLevel));
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.final_state.status, kUsage) << e2e::describe(r);
    EXPECT_TRUE(r.waited_for_ok) << e2e::describe(r);
    EXPECT_TRUE(r.boxes.empty()) << "no startup box for a damaged package";
    EXPECT_EQ(installation(), before) << "no file, folder or .bak changed";
    ASSERT_EQ(r.reads.size(), 1u);
    EXPECT_EQ(r.reads[0].data, std::string("\x04\0\0\0", 4)) << "the level stays";
  }
}

// The same package whole, with and without the section, applies in full.
TEST_F(IntegrityTest, AnIntactPackageAppliesWithOrWithoutTheSection) {
  for (bool checksums : {true, false}) {
    SCOPED_TRACE(checksums ? "with checksums" : "without checksums");
    ASSERT_TRUE(e2e::write_file(app("data.bin"), std::string("old data")));
    ASSERT_TRUE(e2e::write_file(app("obsolete.txt"), std::string("to be removed")));
    rmdir(app("plugins").c_str());
    std::vector<uint8_t> package = update_package(checksums);
    e2e::Scenario s = apply(package, true, kInstalledLevel);
    s.answers = {"ok"};
    e2e::RunResult r = e2e::run_patch(s);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.boxes.size(), 1u) << e2e::describe(r);
    EXPECT_EQ(content("readme.txt"), std::string(4000, 'r'));
    EXPECT_EQ(content("data.bin").size(), 3000u);
    EXPECT_TRUE(is_dir("plugins"));
    EXPECT_FALSE(exists("obsolete.txt"));
    EXPECT_FALSE(exists(":Checksums")) << "the section is never written as a file";
    ASSERT_EQ(r.reads.size(), 1u);
    EXPECT_EQ(r.reads[0].data, std::string("\x05\0\0\0", 4));
  }
}

}  // namespace

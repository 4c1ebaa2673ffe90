// krvpack diff: an update package that turns an installation of OLD into
// one of NEW when applied in the updater's order.
#include <nlohmann/json.hpp>

#include "tool_support.h"

namespace {

using nlohmann::json;

const char kManifest[] = R"(level = 3
[registry]
key = "SOFTWARE\\Korvinda\\App"
)";

class DiffTest : public ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    const fs::path old_dir = dir_ / "old", new_dir = dir_ / "new";
    write_file(old_dir / "app.exe", "version 1");
    write_file(old_dir / "same.txt", "unchanged");
    write_file(old_dir / "gone/deep/x.txt", "x");
    write_file(old_dir / "gone/y.txt", "y");
    write_file(old_dir / "keep/old.txt", "old");
    write_file(old_dir / "data/stay.txt", "stays");
    write_file(new_dir / "app.exe", "version 2");
    write_file(new_dir / "same.txt", "unchanged");
    write_file(new_dir / "added.txt", "added");
    write_file(new_dir / "new/sub/file.txt", "nested");
    fs::create_directories(new_dir / "new/empty");
    fs::create_directories(new_dir / "keep");
    write_file(new_dir / "data/stay.txt", "stays");
    write_file(new_dir / fs::u8path("Новая папка/файл.txt"), "Кириллица");
    write_file(dir_ / "m.toml", kManifest);
  }

  json diff_json(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = {"diff", (dir_ / "old").u8string(), (dir_ / "new").u8string(),
                                     "-o", (dir_ / "d.krv").u8string()};
    args.insert(args.end(), extra.begin(), extra.end());
    RunResult made = run_krvpack(args);
    EXPECT_EQ(made.exit_code, 0) << made.err;
    RunResult listed = run_krvpack({"list", "--json", (dir_ / "d.krv").u8string()});
    EXPECT_EQ(listed.exit_code, 0) << listed.err;
    return listed.exit_code == 0 ? json::parse(listed.out) : json();
  }
};

std::vector<std::string> file_paths(const json& report) {
  std::vector<std::string> out;
  for (const json& e : report["entries"]) {
    if (!e["section"].get<bool>()) out.push_back(e["path"]);
  }
  return out;
}

TEST_F(DiffTest, AddedChangedFoldersAndRemovalsInTheUpdatersOrder) {
  json report = diff_json({"--manifest", (dir_ / "m.toml").u8string()});
  EXPECT_EQ(file_paths(report), (std::vector<std::string>{"added.txt", "app.exe", "new\\sub\\file.txt",
                                                          "Новая папка\\файл.txt"}));
  json s = report["sections"];
  EXPECT_EQ(s["folders"]["items"], json({"new", "new\\empty", "new\\sub", "Новая папка"}));
  EXPECT_EQ(s["remove"]["items"],
            json({"gone\\deep\\x.txt", "gone\\y.txt", "keep\\old.txt", "gone\\deep", "gone"}));
  EXPECT_EQ(s["registry"]["level"], 3);
  RunResult verified = run_krvpack({"verify", (dir_ / "d.krv").u8string()});
  EXPECT_EQ(verified.exit_code, 0) << verified.err;
}

// Applies the package as the updater does: folders, files, then removals
// in list order (a name is tried as a file, then as an empty folder).
TEST_F(DiffTest, ApplyingThePackageToOldGivesNew) {
  json report = diff_json();
  fs::copy(dir_ / "old", dir_ / "inst", fs::copy_options::recursive);
  RunResult extracted = run_krvpack({"extract", (dir_ / "d.krv").u8string(), "-C", (dir_ / "inst").u8string()});
  ASSERT_EQ(extracted.exit_code, 0) << extracted.err;
  for (const json& name : report["sections"]["remove"]["items"]) {
    std::string path = name.get<std::string>();
    std::replace(path.begin(), path.end(), '\\', '/');
    fs::path target = dir_ / "inst" / fs::u8path(path);
    std::error_code ec;
    if (fs::is_regular_file(target)) fs::remove(target, ec);
    if (fs::is_directory(target) && fs::is_empty(target)) fs::remove(target, ec);
  }
  EXPECT_EQ(snapshot(dir_ / "inst"), snapshot(dir_ / "new"));
}

TEST_F(DiffTest, NameThatOnlyChangesCaseIsRewrittenNotRemoved) {
  write_file(dir_ / "old/Readme.txt", "old text");
  write_file(dir_ / "new/README.txt", "new text");
  json report = diff_json();
  std::vector<std::string> files = file_paths(report);
  EXPECT_NE(std::find(files.begin(), files.end(), "README.txt"), files.end());
  for (const json& name : report["sections"]["remove"]["items"]) EXPECT_NE(name, "Readme.txt");
}

TEST_F(DiffTest, FileBecomingFolderIsRefused) {
  write_file(dir_ / "old/thing", "a file");
  write_file(dir_ / "new/thing/inside.txt", "now a folder");
  RunResult r = run_krvpack({"diff", (dir_ / "old").u8string(), (dir_ / "new").u8string(), "-o",
                             (dir_ / "d.krv").u8string()});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("\"thing\" is a file in OLD and a folder in NEW"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(dir_ / "d.krv"));
}

TEST_F(DiffTest, ManifestMayNotNameContent) {
  write_file(dir_ / "m.toml", std::string("source = \"x\"\n") + kManifest);
  RunResult r = run_krvpack({"diff", (dir_ / "old").u8string(), (dir_ / "new").u8string(), "-m",
                             (dir_ / "m.toml").u8string(), "-o", (dir_ / "d.krv").u8string()});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("m.toml:1: \"source\" has no place"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(dir_ / "d.krv"));
}

}  // namespace

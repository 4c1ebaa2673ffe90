// krvpack build: a manifest and a folder give a package that lists,
// verifies and extracts back to the same tree, the same bytes every time.
#include <nlohmann/json.hpp>

#include "cp1251.h"
#include "package.h"
#include "section_builders.h"
#include "tool_support.h"

namespace {

using nlohmann::json;

const char kManifest[] = R"(level = 7
source = "app"
folders = ["logs", "logs/old"]
remove = ["obsolete.dll", "old folder"]

[registry]
key = "SOFTWARE\\Korvinda\\Приложение"
level_value = "Уровень"

[startup]
caption = "Обновление «Корвинда»"
text = """Первая строка
Вторая строка"""

[[command]]
program = "tools/fix it.exe"
arguments = "/quiet \"x\""
wait = true

[[command]]
program = "C:\\Windows\\notepad.exe"
in_install_dir = false
)";

std::string incompressible(size_t size) {
  std::string out(size, '\0');
  uint32_t x = 2463534242u;
  for (char& c : out) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x);
  }
  return out;
}

// Files in the order given; a second tree built in the other order must
// give the same package.
std::vector<std::pair<std::string, std::string>> fixture_files() {
  std::string text;
  for (int i = 0; i < 200; ++i) text += "line " + std::to_string(i % 7) + " of the program\n";
  return {
      {"app.exe", text},
      {"data/maps/north.dat", "north"},
      {"random.bin", incompressible(64 * 1024)},
      {"empty.txt", ""},
      {"a folder with a long name/файл с пробелом.txt", "spaced"},
      {"Документы/отчёт.txt", "Cyrillic"},
      {"abcdefghijklmnopqrstuvwxyz0123", "30 bytes"},
      {"abcdefghijklmnopqrstuvwxyz01234", "31 bytes"},
      {"TMP0000000000000002", "looks like a substitute name"},
  };
}

class BuildTest : public ScratchTest {
 protected:
  void make_tree(const fs::path& root, bool reversed) {
    auto files = fixture_files();
    if (reversed) std::reverse(files.begin(), files.end());
    for (const auto& [path, content] : files) write_file(root / fs::u8path(path), content);
  }

  fs::path build(const std::string& name, std::vector<std::string> extra = {}) {
    fs::path out = dir_ / name;
    std::vector<std::string> args = {"build", (dir_ / "m.toml").u8string(), "-o", out.u8string()};
    args.insert(args.end(), extra.begin(), extra.end());
    RunResult r = run_krvpack(args);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    return out;
  }

  void SetUp() override {
    ScratchTest::SetUp();
    make_tree(dir_ / "app", false);
    write_file(dir_ / "m.toml", kManifest);
  }
};

TEST_F(BuildTest, ListVerifyExtractGiveBackTheTree) {
  fs::path package = build("p.krv");
  RunResult verified = run_krvpack({"verify", package.u8string()});
  EXPECT_EQ(verified.exit_code, 0) << verified.err;
  EXPECT_NE(verified.out.find("OK"), std::string::npos);

  RunResult extracted = run_krvpack({"extract", package.u8string(), "-C", (dir_ / "x").u8string()});
  ASSERT_EQ(extracted.exit_code, 0) << extracted.err;
  auto expected = snapshot(dir_ / "app");
  expected["logs"] = "<dir>";
  expected["logs/old"] = "<dir>";
  EXPECT_EQ(snapshot(dir_ / "x"), expected);
}

TEST_F(BuildTest, SubstituteNamesAndNameTableAsTheUpdaterReadsThem) {
  fs::path package = build("p.krv");
  RunResult listed = run_krvpack({"list", "--json", package.u8string()});
  ASSERT_EQ(listed.exit_code, 0) << listed.err;
  json report = json::parse(listed.out);
  std::map<std::string, std::string> name_of;  // path -> directory name
  for (const json& e : report["entries"]) {
    if (!e["section"].get<bool>()) name_of[e["path"].get<std::string>()] = e["name"];
  }
  // Sorted by path: "TMP...2" < "a folder..." < "abc...01234" in byte order.
  EXPECT_EQ(name_of["TMP0000000000000002"], "TMP0000000000000001");
  EXPECT_EQ(name_of["a folder with a long name\\файл с пробелом.txt"], "TMP0000000000000002");
  EXPECT_EQ(name_of["abcdefghijklmnopqrstuvwxyz01234"], "TMP0000000000000003");
  EXPECT_EQ(name_of["abcdefghijklmnopqrstuvwxyz0123"], "abcdefghijklmnopqrstuvwxyz0123");
  EXPECT_EQ(name_of["Документы\\отчёт.txt"], "Документы\\отчёт.txt");
  EXPECT_EQ(name_of["data\\maps\\north.dat"], "data\\maps\\north.dat");

  Package opened;
  ASSERT_TRUE(open_package(&opened, package.c_str(), false));
  int index = find_entry(&opened, ":XlatNamesTable");
  ASSERT_GE(index, 0);
  uint8_t* table = load_entry(&opened, index);
  ASSERT_NE(table, nullptr);
  std::string spaced, error;
  ASSERT_TRUE(utf8_to_cp1251("a folder with a long name\\файл с пробелом.txt", &spaced, &error));
  std::string expected = std::string("TMP0000000000000001\0TMP0000000000000002\0", 40) +
                         "TMP0000000000000002" + '\0' + spaced + '\0' + "TMP0000000000000003" +
                         '\0' + "abcdefghijklmnopqrstuvwxyz01234" + '\0' + '\0' + '\0';
  EXPECT_EQ(std::string(reinterpret_cast<char*>(table), opened.entries[index].size), expected);
  free_entry_buffer(table);
  close_package(&opened);
}

TEST_F(BuildTest, SectionsCarryTheManifestInWindows1251) {
  RunResult listed = run_krvpack({"list", "--json", build("p.krv").u8string()});
  ASSERT_EQ(listed.exit_code, 0) << listed.err;
  json s = json::parse(listed.out)["sections"];
  EXPECT_EQ(s["registry"]["key"], "SOFTWARE\\Korvinda\\Приложение");
  EXPECT_EQ(s["registry"]["folder_value"], "ProgramPath");
  EXPECT_EQ(s["registry"]["program_value"], "ProgramName");
  EXPECT_EQ(s["registry"]["level_value"], "Уровень");
  EXPECT_EQ(s["registry"]["level"], 7);
  EXPECT_EQ(s["startup"]["caption"], "Обновление «Корвинда»");
  EXPECT_EQ(s["startup"]["text"], "Первая строка\r\nВторая строка");
  EXPECT_EQ(s["folders"]["items"], json({"logs", "logs\\old"}));
  EXPECT_EQ(s["remove"]["items"], json({"obsolete.dll", "old folder"}));
  ASSERT_EQ(s["commands"]["records"].size(), 2u);
  json first = s["commands"]["records"][0];
  EXPECT_EQ(first["program"], "tools\\fix it.exe");
  EXPECT_EQ(first["arguments"], "/quiet \"x\"");
  EXPECT_EQ(first["flags"], 3);
  json second = s["commands"]["records"][1];
  EXPECT_EQ(second["program"], "C:\\Windows\\notepad.exe");
  EXPECT_EQ(second["flags"], 0);
  EXPECT_TRUE(s["commands"]["complete"].get<bool>());
}

TEST_F(BuildTest, IncompressibleFilesAreStoredPlain) {
  RunResult listed = run_krvpack({"list", "--json", build("p.krv").u8string()});
  ASSERT_EQ(listed.exit_code, 0) << listed.err;
  json report = json::parse(listed.out);
  for (const json& e : report["entries"]) {
    if (e["name"] == "random.bin") {
      EXPECT_FALSE(e["compressed"].get<bool>());
      EXPECT_EQ(e["stored_size"], 64 * 1024);
    }
    if (e["name"] == "app.exe") {
      EXPECT_TRUE(e["compressed"].get<bool>());
      EXPECT_LT(e["stored_size"].get<int>(), e["size"].get<int>() / 4);
    }
  }
}

TEST_F(BuildTest, SameInputsGiveTheSameBytes) {
  fs::path first = build("one.krv");
  fs::path second = build("two.krv", {"-j", "1"});
  // The same files created in the other order, in another folder.
  fs::rename(dir_ / "app", dir_ / "app-first");
  make_tree(dir_ / "app", true);
  fs::path third = build("three.krv", {"-j", "3"});
  std::string bytes = read_file(first);
  ASSERT_FALSE(bytes.empty());
  EXPECT_EQ(read_file(second), bytes);
  EXPECT_EQ(read_file(third), bytes);
}

TEST_F(BuildTest, ExplicitFileListTakesOnlyThoseFiles) {
  std::string manifest = "files = [\"app.exe\", \"Документы/отчёт.txt\"]\n" + std::string(kManifest);
  write_file(dir_ / "m.toml", manifest);
  fs::path package = build("p.krv");
  RunResult extracted = run_krvpack({"extract", package.u8string(), "-C", (dir_ / "x").u8string()});
  ASSERT_EQ(extracted.exit_code, 0) << extracted.err;
  auto tree = snapshot(dir_ / "x");
  EXPECT_EQ(tree.count("app.exe"), 1u);
  EXPECT_EQ(tree.count("Документы/отчёт.txt"), 1u);
  EXPECT_EQ(tree.count("random.bin"), 0u);
}

TEST_F(BuildTest, ListShowsReadableText) {
  RunResult listed = run_krvpack({"list", build("p.krv").u8string()});
  ASSERT_EQ(listed.exit_code, 0) << listed.err;
  for (const char* expected : {"Обновление «Корвинда»", "Вторая строка", "TMP0000000000000002",
                               "a folder with a long name\\файл с пробелом.txt", "[wait, in install dir]",
                               "HKEY_LOCAL_MACHINE\\SOFTWARE\\Korvinda\\Приложение", "logs\\old"}) {
    EXPECT_NE(listed.out.find(expected), std::string::npos) << expected;
  }
}

}  // namespace

// krvpack.exe under Wine with the ANSI code page 1252 (an English Windows):
// Cyrillic paths in and out of every subcommand, the same package as the
// Linux build makes.
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <nlohmann/json.hpp>

#include "tool_support.h"

namespace {

using nlohmann::json;

std::string shell_quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// "/tmp/а б" -> "Z:\tmp\а б" (UTF-8, as the command line carries it).
std::string wine_path(const fs::path& path) {
  std::string out = "Z:" + path.u8string();
  for (char& c : out) c = c == '/' ? '\\' : c;
  return out;
}

std::string without_cr(std::string text) {
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  return text;
}

class KrvpackExeTest : public ScratchTest {
 protected:
  static void SetUpTestSuite() {
    setenv("WINEPREFIX", KRVPACK_EXE_PREFIX, 1);
    setenv("WINEARCH", "win64", 1);
    setenv("WINEDEBUG", "-all", 1);
    setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);
    // Code page 1252: Cyrillic has no ANSI form in this session.
    setenv("LANG", "en_US.UTF-8", 1);
    setenv("LC_ALL", "en_US.UTF-8", 1);
    unsetenv("DISPLAY");  // console programs only
    std::string stamp = std::string(KRVPACK_EXE_PREFIX) + "/krv-prefix-ready";
    if (!fs::exists(stamp)) {
      fs::create_directories(KRVPACK_EXE_PREFIX);
      prefix_ready_ = std::system("timeout 300 wineboot -i >/dev/null 2>&1") == 0 &&
                      std::system("timeout 120 wineserver -w >/dev/null 2>&1") == 0;
      if (prefix_ready_) write_file(stamp, "ready\n");
    } else {
      prefix_ready_ = true;
    }
  }

  static void TearDownTestSuite() { std::system("wineserver -k >/dev/null 2>&1"); }

  void SetUp() override {
    ScratchTest::SetUp();
    ASSERT_TRUE(prefix_ready_) << "cannot prepare the Wine prefix " << KRVPACK_EXE_PREFIX;
  }

  RunResult run_exe(const std::vector<std::string>& arguments) {
    std::string command = "timeout 300 wine " + shell_quoted(KRVPACK_EXE);
    for (const std::string& a : arguments) command += " " + shell_quoted(a);
    fs::path out = dir_ / "stdout.txt", err = dir_ / "stderr.txt";
    command += " >" + shell_quoted(out.u8string()) + " 2>" + shell_quoted(err.u8string()) + " </dev/null";
    RunResult r;
    // Now and then wine ends with code 1 before krvpack.exe ran, printing
    // nothing; krvpack itself never fails without a word on stderr.
    for (int attempt = 1; attempt <= 3; ++attempt) {
      int status = std::system(command.c_str());
      r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      r.out = without_cr(read_file(out));
      r.err = without_cr(read_file(err));
      if (r.exit_code != 1 || !r.out.empty() || !r.err.empty()) break;
      fprintf(stderr, "wine ended with code 1 before krvpack.exe ran; starting it again\n");
    }
    return r;
  }

  static bool prefix_ready_;
};

bool KrvpackExeTest::prefix_ready_ = false;

TEST_F(KrvpackExeTest, BuildsListsVerifiesImagesAndExtractsWithCyrillicPaths) {
  fs::path project = dir_ / fs::u8path("Проект обновления");
  const std::pair<const char*, std::string> kFiles[] = {
      {"Программа/приложение.exe", std::string(20000, 'p') + "конец"},
      {"Программа/Справка.txt", "Справка по программе"},
      {"Программа/данные/карта.dat", std::string(5000, '\x01')},
  };
  for (const auto& [path, content] : kFiles) write_file(project / fs::u8path(path), content);
  write_file(project / fs::u8path("манифест.toml"),
             "level = 3\nsource = \"Программа\"\n[registry]\nkey = \"SOFTWARE\\\\Корвинда\"\n"
             "[startup]\ncaption = \"Обновление\"\ntext = \"Будет установлена версия 3\"\n");
  fs::path manifest = project / fs::u8path("манифест.toml");
  fs::path package = project / fs::u8path("новый.krv");

  RunResult built = run_exe({"build", wine_path(manifest), "-o", wine_path(package)});
  ASSERT_EQ(built.exit_code, 0) << built.err;
  RunResult native = run_krvpack({"build", manifest.u8string(), "-o", (dir_ / "native.krv").u8string()});
  ASSERT_EQ(native.exit_code, 0) << native.err;
  EXPECT_EQ(read_file(package), read_file(dir_ / "native.krv")) << "the two builds differ";

  RunResult listed = run_exe({"list", "--json", wine_path(package)});
  ASSERT_EQ(listed.exit_code, 0) << listed.err;
  json report = json::parse(listed.out, nullptr, false);
  ASSERT_FALSE(report.is_discarded()) << listed.out;
  EXPECT_EQ(report["file"], wine_path(package));
  EXPECT_EQ(report["sections"]["startup"]["caption"], "Обновление");
  EXPECT_EQ(report["sections"]["registry"]["key"], "SOFTWARE\\Корвинда");
  std::vector<std::string> paths;
  for (const json& e : report["entries"]) {
    if (!e["section"].get<bool>()) paths.push_back(e["path"]);
  }
  EXPECT_EQ(paths, (std::vector<std::string>{"Справка.txt", "данные\\карта.dat", "приложение.exe"}));

  RunResult verified = run_exe({"verify", wine_path(package)});
  EXPECT_EQ(verified.exit_code, 0) << verified.err;
  EXPECT_NE(verified.out.find(wine_path(package) + ": OK"), std::string::npos) << verified.out;

  fs::path program = project / fs::u8path("программа обновления.exe");
  fs::copy_file(fs::path(KRV_WINDOWS_BUILD_DIR) / "PATCH.EXE", program);
  fs::path image = project / fs::u8path("обновление.exe");
  RunResult imaged = run_exe({"image", wine_path(program), wine_path(package), "-o", wine_path(image)});
  ASSERT_EQ(imaged.exit_code, 0) << imaged.err;
  std::string image_bytes = read_file(image);
  std::string head = read_file(program) + read_file(package);
  EXPECT_EQ(image_bytes.substr(0, head.size()), head);
  EXPECT_EQ(image_bytes.size(), head.size() + 8);

  fs::path unpacked = project / fs::u8path("распаковка");
  RunResult extracted = run_exe({"extract", wine_path(image), "-C", wine_path(unpacked)});
  ASSERT_EQ(extracted.exit_code, 0) << extracted.err;
  EXPECT_EQ(snapshot(unpacked), snapshot(project / fs::u8path("Программа")));
}

TEST_F(KrvpackExeTest, FailuresNameCyrillicPathsReadably) {
  fs::path missing = dir_ / fs::u8path("нет такого.krv");
  RunResult r = run_exe({"verify", wine_path(missing)});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("krvpack: " + wine_path(missing) + ": no such file"), std::string::npos) << r.err;
}

}  // namespace

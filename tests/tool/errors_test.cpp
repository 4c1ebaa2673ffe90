// Every failure of krvpack: one "krvpack: ..." line on stderr, exit code 1,
// and no output or temporary file left behind.
#include "tool_support.h"

namespace {

const char kGoodRegistry[] = "[registry]\nkey = \"SOFTWARE\\\\K\"\n";

struct ErrorCase {
  const char* label;
  std::string manifest;
  const char* message;  // expected part of the one stderr line
};

class ErrorsTest : public ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    write_file(dir_ / "app/app.exe", "program");
  }

  void expect_failure(const std::vector<std::string>& args, const std::string& message,
                      const fs::path& output) {
    RunResult r = run_krvpack(args);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err.rfind("krvpack: ", 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(r.err.find('\r'), std::string::npos) << "no progress bar off a terminal";
    EXPECT_NE(r.err.find(message), std::string::npos) << "wanted: " << message << "\ngot: " << r.err;
    EXPECT_FALSE(fs::exists(output));
    EXPECT_TRUE(temp_leftovers(output.parent_path()).empty());
  }
};

TEST_F(ErrorsTest, ManifestFaultsNameTheLine) {
  const std::vector<ErrorCase> kCases = {
      {"missing source", std::string("level = 1\nsource = \"nope\"\n") + kGoodRegistry,
       "m.toml:2: source folder"},
      {"unmappable character",
       std::string("level = 1\nsource = \"app\"\n") + kGoodRegistry +
           "[startup]\ncaption = \"Привет 😀\"\ntext = \"x\"\n",
       "m.toml:6: startup.caption: character \"😀\" (U+1F600) at position 8 has no Windows-1251 form"},
      {"unknown key in a table",
       std::string("level = 1\nsource = \"app\"\n") + kGoodRegistry + "kee = \"x\"\n",
       "m.toml:5: unknown key \"registry.kee\""},
      {"unknown top-level key", std::string("levle = 1\nlevel = 1\n") + kGoodRegistry,
       "m.toml:1: unknown key \"levle\""},
      {"unknown command key",
       std::string("level = 1\n") + kGoodRegistry + "[[command]]\nprogram = \"a.exe\"\nwiat = true\n",
       "m.toml:6: unknown key \"command.wiat\""},
      {"TOML syntax", std::string("level = 1\n") + kGoodRegistry + "caption = \"unterminated\n",
       "m.toml:4:"},
      {"level out of range", std::string("level = 4294967296\n") + kGoodRegistry,
       "m.toml:1: \"level\" must be a whole number"},
      {"registry missing", "level = 1\nsource = \"app\"\n", "the [registry] table is missing"},
      {"registry key missing", "level = 1\n[registry]\nfolder_value = \"X\"\n",
       "m.toml:2: \"registry.key\" is missing"},
      {"listed file missing",
       std::string("level = 1\nsource = \"app\"\nfiles = [\"app.exe\",\n  \"gone.dll\"]\n") + kGoodRegistry,
       "m.toml:4: file"},
      {"escaping folder", std::string("level = 1\nfolders = [\"../x\"]\n") + kGoodRegistry,
       "m.toml:2: path \"../x\" has a \"..\" part"},
      {"wrong type", std::string("level = 1\n") + kGoodRegistry + "[[command]]\nprogram = \"a.exe\"\nwait = 1\n",
       "m.toml:6: \"command.wait\" must be true or false"},
  };
  for (const ErrorCase& c : kCases) {
    SCOPED_TRACE(c.label);
    write_file(dir_ / "m.toml", c.manifest);
    fs::path output = dir_ / "out" / "p.krv";
    fs::create_directories(output.parent_path());
    expect_failure({"build", (dir_ / "m.toml").u8string(), "-o", output.u8string()}, c.message, output);
  }
}

TEST_F(ErrorsTest, TreeFaultsNameTheFile) {
  write_file(dir_ / "m.toml", std::string("level = 1\nsource = \"app\"\n") + kGoodRegistry);
  fs::path output = dir_ / "p.krv";
  write_file(dir_ / "app" / fs::u8path("日本.txt"), "x");
  expect_failure({"build", (dir_ / "m.toml").u8string(), "-o", output.u8string()},
                 "character \"日\" (U+65E5)", output);
  fs::remove(dir_ / "app" / fs::u8path("日本.txt"));
  write_file(dir_ / "app/Data/a.txt", "x");
  write_file(dir_ / "app/data/b.txt", "x");
  expect_failure({"build", (dir_ / "m.toml").u8string(), "-o", output.u8string()},
                 "differ only in letter case", output);
}

TEST_F(ErrorsTest, UnwritableOutputLeavesNothing) {
  write_file(dir_ / "m.toml", std::string("level = 1\nsource = \"app\"\n") + kGoodRegistry);
  expect_failure({"build", (dir_ / "m.toml").u8string(), "-o", (dir_ / "no/such/p.krv").u8string()},
                 "the output folder", dir_ / "no/such/p.krv");
  // An existing folder of that name is refused before any work.
  fs::create_directories(dir_ / "taken.krv" / "inside");
  RunResult r = run_krvpack({"build", (dir_ / "m.toml").u8string(), "-o", (dir_ / "taken.krv").u8string()});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("is a folder"), std::string::npos) << r.err;
  EXPECT_TRUE(fs::is_directory(dir_ / "taken.krv" / "inside"));
  EXPECT_TRUE(temp_leftovers(dir_).empty());
}

TEST_F(ErrorsTest, FailedRunKeepsThePreviousOutput) {
  write_file(dir_ / "p.krv", "previous package");
  write_file(dir_ / "m.toml", std::string("level = 1\nsource = \"app\"\n") + kGoodRegistry + "kee = 1\n");
  RunResult r = run_krvpack({"build", (dir_ / "m.toml").u8string(), "-o", (dir_ / "p.krv").u8string()});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(read_file(dir_ / "p.krv"), "previous package");
}

TEST_F(ErrorsTest, MissingOrInvalidInputs) {
  write_file(dir_ / "empty.krv", "");
  write_file(dir_ / "text.krv", "just some text, neither package nor image");
  const std::pair<std::vector<std::string>, const char*> kCases[] = {
      {{"list", (dir_ / "none.krv").u8string()}, "no such file"},
      {{"verify", (dir_ / "empty.krv").u8string()}, "the file is empty"},
      {{"verify", (dir_ / "text.krv").u8string()}, "neither a package"},
      {{"extract", (dir_ / "text.krv").u8string(), "-C", (dir_ / "x").u8string()}, "neither a package"},
      {{"diff", (dir_ / "nope").u8string(), (dir_ / "app").u8string(), "-o", (dir_ / "d.krv").u8string()},
       "is not a folder"},
      {{"image", (dir_ / "none.exe").u8string(), (dir_ / "text.krv").u8string(), "-o",
        (dir_ / "u.exe").u8string()},
       "neither a package"},
  };
  for (const auto& [args, message] : kCases) {
    SCOPED_TRACE(args[0]);
    RunResult r = run_krvpack(args);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err.rfind("krvpack: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
  }
  EXPECT_FALSE(fs::exists(dir_ / "x"));
  EXPECT_FALSE(fs::exists(dir_ / "d.krv"));
  EXPECT_FALSE(fs::exists(dir_ / "u.exe"));
}

TEST(UsageTest, EverySubcommandHasHelpAndUsageErrorsFail) {
  for (const char* command : {"build", "diff", "list", "verify", "extract", "image"}) {
    RunResult help = run_krvpack({command, "--help"});
    EXPECT_EQ(help.exit_code, 0) << command;
    EXPECT_NE(help.out.find("Usage"), std::string::npos) << command << ": " << help.out;
    RunResult bare = run_krvpack({command});
    EXPECT_EQ(bare.exit_code, 2) << command;
    EXPECT_EQ(bare.err.rfind("krvpack: ", 0), 0u) << bare.err;
  }
  EXPECT_EQ(run_krvpack({}).exit_code, 2);
  EXPECT_EQ(run_krvpack({"unpack"}).exit_code, 2);
}

}  // namespace

// What a publisher meets: every mistake named in one run, refusals that say
// what to write instead, warnings for updates that do nothing useful, and
// the program's own name, version and subcommands.
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "package_writer.h"
#include "section_builders.h"
#include "tool_support.h"

namespace {

using nlohmann::json;

const char kGoodRegistry[] = "[registry]\nkey = \"SOFTWARE\\\\K\"\n";

size_t lines(const std::string& text) { return std::count(text.begin(), text.end(), '\n'); }

class PublisherTest : public ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    write_file(dir_ / "app/app.exe", "program");
  }

  // Exit 1, each message on a "krvpack: " line, nothing written.
  void expect_refused(const std::vector<std::string>& args, const std::vector<std::string>& messages,
                      const fs::path& output) {
    RunResult r = run_krvpack(args);
    EXPECT_EQ(r.exit_code, 1) << r.err;
    for (const std::string& m : messages) {
      EXPECT_NE(r.err.find(m), std::string::npos) << "wanted: " << m << "\ngot: " << r.err;
    }
    size_t start = 0;
    while (start < r.err.size()) {
      EXPECT_EQ(r.err.compare(start, 9, "krvpack: "), 0) << r.err.substr(start);
      start = r.err.find('\n', start) + 1;
      if (start == 0) break;
    }
    EXPECT_FALSE(fs::exists(output));
    EXPECT_TRUE(temp_leftovers(output.parent_path()).empty());
  }
};

TEST_F(PublisherTest, EveryManifestProblemIsNamedInOneRun) {
  write_file(dir_ / "m.toml", std::string("levle = 1\n"
                                          "files = [\"app.exe\", \"gone.dll\", \"CON.txt\", \"x./y\"]\n"
                                          "[registry]\n"
                                          "key = \"HKLM\\\\SOFTWARE\\\\K\"\n"
                                          "kee = 2\n"
                                          "[startup]\n"
                                          "caption = \"日 and 😀\"\n"
                                          "text = \"ok\"\n"
                                          "source = \"app\"\n"
                                          "[[command]]\n"
                                          "program = \"a.exe\"\n"
                                          "wiat = true\n"));
  fs::path output = dir_ / "p.krv";
  expect_refused({"build", (dir_ / "m.toml").u8string(), "-o", output.u8string()},
                 {"m.toml:1: unknown key \"levle\"",
                  "m.toml:2: path \"CON.txt\" is the device name CON",
                  "m.toml:2: path \"x./y\" part \"x.\" ends with a dot",
                  "m.toml:4: registry.key begins with the root \"HKLM\"",
                  "m.toml:5: unknown key \"registry.kee\"",
                  "(U+65E5) at position 1", "(U+1F600) at position 7",
                  "m.toml:9: unknown key \"startup.source\" (keys after a [table] header belong to "
                  "that table: move \"source\" above the first table)",
                  "m.toml:12: unknown key \"command.wiat\"",
                  "\"level\" (the package's patch level) is missing"},
                 output);
}

TEST_F(PublisherTest, RegistryKeyWithItsRootOrEmptyIsRefusedWithWhatToWrite) {
  const std::pair<const char*, const char*> kCases[] = {
      {"HKEY_LOCAL_MACHINE\\\\SOFTWARE\\\\A", "begins with the root \"HKEY_LOCAL_MACHINE\""},
      {"HKLM\\\\SOFTWARE\\\\A", "begins with the root \"HKLM\""},
      {"hkcu\\\\Software\\\\A", "begins with the root \"hkcu\""},
      {"HKEY_CURRENT_USER", "begins with the root"},
      {"\\\\SOFTWARE\\\\A", "begins with a backslash"},
      {"", "is empty"},
  };
  fs::path output = dir_ / "p.krv";
  for (const auto& [key, message] : kCases) {
    SCOPED_TRACE(key);
    write_file(dir_ / "m.toml", std::string("level = 1\nsource = \"app\"\n[registry]\nkey = \"") + key + "\"\n");
    expect_refused({"build", (dir_ / "m.toml").u8string(), "-o", output.u8string()},
                   {std::string("m.toml:4: registry.key ") + message,
                    "write the path below HKEY_LOCAL_MACHINE, as in key = \"SOFTWARE\\\\Maker\\\\App\""},
                   output);
  }
  write_file(dir_ / "m.toml", "level = 1\nsource = \"app\"\n[registry]\nkey = \"SOFTWARE\\\\HKLM\"\n");
  RunResult r = run_krvpack({"build", (dir_ / "m.toml").u8string(), "-o", output.u8string()});
  EXPECT_EQ(r.exit_code, 0) << r.err;
}

// One tree holding every kind of name Windows cannot hold or tell apart:
// diff and build both name them all.
TEST_F(PublisherTest, TreeNamesThatWindowsCannotHoldAreAllNamed) {
  write_file(dir_ / "old/app.exe", "v1");
  const char* kBadFiles[] = {"trail.", "trail ", "CON", "nul.txt", "back\\slash.txt", "sub./x.txt"};
  for (const char* name : kBadFiles) write_file(dir_ / "new" / name, "x");
  write_file(dir_ / "new/Data.txt", "1");
  write_file(dir_ / "new/data.TXT", "2");
  write_file(dir_ / "secret.txt", "the publisher's own file");
  fs::create_symlink(dir_ / "secret.txt", dir_ / "new/escape.txt");
  write_file(dir_ / "new/real.txt", "inside");
  fs::create_symlink("real.txt", dir_ / "new/alias.txt");  // a link inside the tree is the file
  std::vector<std::string> messages = {
      "trail.\": the name ends with a dot", "trail \": the name ends with a blank",
      "CON\": the name is the device name CON", "nul.txt\": the name is the device name NUL",
      "back\\slash.txt\": the name holds a backslash", "sub.\": the name ends with a dot",
      "\"Data.txt\" and \"data.TXT\" differ only in letter case",
      "escape.txt\" is a link to \"" + (dir_ / "secret.txt").u8string() + "\", outside the folder"};
  fs::path output = dir_ / "p.krv";
  expect_refused({"diff", (dir_ / "old").u8string(), (dir_ / "new").u8string(), "-o", output.u8string()},
                 messages, output);
  RunResult r = run_krvpack({"diff", (dir_ / "old").u8string(), (dir_ / "new").u8string(), "-o", output.u8string()});
  EXPECT_EQ(lines(r.err), messages.size()) << "one line per offender, none for what lies below them\n" << r.err;
  write_file(dir_ / "m.toml", std::string("level = 1\nsource = \"new\"\n") + kGoodRegistry);
  expect_refused({"build", (dir_ / "m.toml").u8string(), "-o", output.u8string()}, messages, output);

  for (const char* name : kBadFiles) fs::remove_all(dir_ / "new" / fs::path(name).begin()->string());
  fs::remove(dir_ / "new/data.TXT");
  fs::remove(dir_ / "new/escape.txt");
  RunResult built = run_krvpack({"build", (dir_ / "m.toml").u8string(), "-o", output.u8string()});
  ASSERT_EQ(built.exit_code, 0) << built.err;
  RunResult extracted = run_krvpack({"extract", output.u8string(), "-C", (dir_ / "x").u8string()});
  ASSERT_EQ(extracted.exit_code, 0) << extracted.err;
  EXPECT_EQ(read_file(dir_ / "x/alias.txt"), "inside");
}

TEST_F(PublisherTest, OutputFolderIsCheckedBeforeAnyWork) {
  write_file(dir_ / "m.toml", std::string("level = 1\nsource = \"app\"\n") + kGoodRegistry);
  write_file(dir_ / "p.krv", "a package");
  const std::pair<std::vector<std::string>, const char*> kCases[] = {
      {{"build", (dir_ / "m.toml").u8string(), "-o", (dir_ / "no/such/p.krv").u8string()},
       "the output folder"},
      {{"diff", (dir_ / "app").u8string(), (dir_ / "app").u8string(), "-o", (dir_ / "no/d.krv").u8string()},
       "the output folder"},
      {{"image", (dir_ / "m.toml").u8string(), (dir_ / "p.krv").u8string(), "-o", (dir_ / "no/u.exe").u8string()},
       "the output folder"},
      {{"build", (dir_ / "m.toml").u8string(), "-o", (dir_ / "app").u8string()}, "is a folder"},
  };
  for (const auto& [args, message] : kCases) {
    SCOPED_TRACE(args[0]);
    fs::path output = fs::u8path(args.back());
    expect_refused(args, {std::string(message)}, output / "never");
    EXPECT_FALSE(fs::exists(dir_ / "no"));
  }
}

TEST_F(PublisherTest, UpdatesThatDoNothingUsefulAreWarnedAbout) {
  write_file(dir_ / "v1/app.exe", "same");
  write_file(dir_ / "v1/tools/setup.exe", "setup");
  write_file(dir_ / "v2/app.exe", "same");
  write_file(dir_ / "v2/tools/setup.exe", "setup");
  struct Case {
    const char* label;
    const char* program;
    bool expect_command_warning;
  };
  const Case kCases[] = {{"program in the trees", "tools/setup.exe", false},
                         {"program in the trees, other case", "TOOLS/Setup.EXE", false},
                         {"program in neither tree", "tools/setpu.exe", true}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.label);
    write_file(dir_ / "m.toml", std::string("level = 2\n") + kGoodRegistry + "[[command]]\nprogram = \"" +
                                    c.program + "\"\n");
    RunResult r = run_krvpack({"diff", (dir_ / "v1").u8string(), (dir_ / "v2").u8string(), "-m",
                               (dir_ / "m.toml").u8string(), "-o", (dir_ / "p.krv").u8string()});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.err.find("krvpack: warning: OLD_DIR and NEW_DIR hold the same files"), std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("is in neither OLD_DIR nor NEW_DIR") != std::string::npos,
              c.expect_command_warning)
        << r.err;
  }
  write_file(dir_ / "v2/app.exe", "changed");
  RunResult r = run_krvpack({"diff", (dir_ / "v1").u8string(), (dir_ / "v2").u8string(), "-m",
                             (dir_ / "m.toml").u8string(), "-o", (dir_ / "p.krv").u8string()});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.err.find("the same files"), std::string::npos) << r.err;
}

TEST_F(PublisherTest, ImageRefusesAProgramThatIsNotABareWindowsProgram) {
  write_file(dir_ / "m.toml", std::string("level = 1\nsource = \"app\"\n") + kGoodRegistry);
  ASSERT_EQ(run_krvpack({"build", (dir_ / "m.toml").u8string(), "-o", (dir_ / "p.krv").u8string()}).exit_code, 0);
  write_file(dir_ / "PATCH.EXE", minimal_pe(false, "code"));
  write_file(dir_ / "lib.dll", minimal_pe(true, "code"));
  write_file(dir_ / "mz.exe", "MZ" + std::string(200, '\x90'));
  write_file(dir_ / "text.exe", "echo hello");
  ASSERT_EQ(run_krvpack({"image", (dir_ / "PATCH.EXE").u8string(), (dir_ / "p.krv").u8string(), "-o",
                         (dir_ / "UPDATE.EXE").u8string()}).exit_code, 0);
  const std::pair<const char*, const char*> kCases[] = {
      {"lib.dll", "it is a DLL, not a program"},
      {"mz.exe", "it is not a Windows program (no PE header)"},
      {"text.exe", "it is not a Windows program (no \"MZ\" header)"},
      {"p.krv", "it is a package, not a program"},
      {"UPDATE.EXE", "it already carries a package"},
  };
  for (const auto& [program, message] : kCases) {
    SCOPED_TRACE(program);
    expect_refused({"image", (dir_ / program).u8string(), (dir_ / "p.krv").u8string(), "-o",
                    (dir_ / "OUT.EXE").u8string()},
                   {std::string("the program \"") + (dir_ / program).u8string() + "\": " + message},
                   dir_ / "OUT.EXE");
  }
}

// Installed as `cmake --install` lays it out, or with PATCH.EXE beside it.
TEST_F(PublisherTest, ImageTakesTheInstalledUpdaterProgramWhenNoneIsGiven) {
  write_file(dir_ / "m.toml", std::string("level = 1\nsource = \"app\"\n") + kGoodRegistry);
  ASSERT_EQ(run_krvpack({"build", (dir_ / "m.toml").u8string(), "-o", (dir_ / "p.krv").u8string()}).exit_code, 0);
  const std::string program = minimal_pe(false, "the installed updater");
  const std::pair<const char*, const char*> kLayouts[] = {
      {"usr/bin/krvpack", "usr/share/krvpack/PATCH.EXE"}, {"tool/krvpack", "tool/PATCH.EXE"}};
  for (const auto& [tool, updater] : kLayouts) {
    SCOPED_TRACE(tool);
    fs::create_directories((dir_ / tool).parent_path());
    fs::copy_file(KRVPACK_BINARY, dir_ / tool);
    RunResult missing = run_program((dir_ / tool).u8string(),
                                    {"image", (dir_ / "p.krv").u8string(), "-o", (dir_ / "U.EXE").u8string()});
    EXPECT_EQ(missing.exit_code, 1);
    EXPECT_NE(missing.err.find("no PATCH.EXE installed beside krvpack"), std::string::npos) << missing.err;
    write_file(dir_ / updater, program);
    RunResult r = run_program((dir_ / tool).u8string(),
                              {"image", (dir_ / "p.krv").u8string(), "-o", (dir_ / "U.EXE").u8string()});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(read_file(dir_ / "U.EXE").substr(0, program.size()), program);
    fs::remove(dir_ / "U.EXE");
  }
}

TEST_F(PublisherTest, DecomposedLettersAreComposedBeforeConversion) {
  write_file(dir_ / "app" / fs::u8path("Нови\u0306.txt"), "x");
  write_file(dir_ / "m.toml", std::string("level = 1\nsource = \"app\"\n") + kGoodRegistry +
                                  "[startup]\ncaption = \"Е\u0308лка\"\ntext = \"Мои\u0306\"\n");
  RunResult r = run_krvpack({"build", (dir_ / "m.toml").u8string(), "-o", (dir_ / "p.krv").u8string()});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  RunResult listed = run_krvpack({"list", "--json", (dir_ / "p.krv").u8string()});
  ASSERT_EQ(listed.exit_code, 0) << listed.err;
  json report = json::parse(listed.out);
  EXPECT_EQ(report["sections"]["startup"]["caption"], "Ёлка");
  EXPECT_EQ(report["sections"]["startup"]["text"], "Мой");
  bool found = false;
  for (const json& e : report["entries"]) found = found || e["path"] == "Новй.txt";
  EXPECT_TRUE(found) << listed.out;
}

TEST_F(PublisherTest, VerifyNamesEveryEntryWindowsCannotHold) {
  std::vector<PreparedEntry> entries = {
      plain_entry(":RegistryKeys", build_registry_keys("SOFTWARE\\K", "P", "N", "L", 1)),
      plain_entry("CON", "x"), plain_entry("ok.txt", "x"), plain_entry("trail.", "x"),
      plain_entry("dir \\a.txt", "x"), plain_entry("A.txt", "x"), plain_entry("a.TXT", "x"),
      plain_entry(":Folders", std::string("aux\0\0", 5))};
  std::vector<uint8_t> package;
  std::string error;
  ASSERT_TRUE(write_package(entries, PackageLayout{}, &package, &error)) << error;
  write_file(dir_ / "bad.krv", std::string(package.begin(), package.end()));
  RunResult r = run_krvpack({"verify", (dir_ / "bad.krv").u8string()});
  EXPECT_EQ(r.exit_code, 1);
  for (const char* message : {"file entry \"CON\": \"CON\" is the device name CON",
                              "file entry \"trail.\": \"trail.\" ends with a dot",
                              "file entry \"dir \\a.txt\": \"dir \" ends with a blank",
                              "\"A.txt\" and \"a.TXT\" differ only in letter case",
                              ":Folders item \"aux\": \"aux\" is the device name AUX"}) {
    EXPECT_NE(r.err.find(message), std::string::npos) << message << "\n" << r.err;
  }
  EXPECT_EQ(r.err.find("ok.txt"), std::string::npos) << r.err;
}

TEST(ProgramTest, NamesItselfItsVersionAndUnknownSubcommands) {
  RunResult version = run_krvpack({"--version"});
  EXPECT_EQ(version.exit_code, 0);
  EXPECT_EQ(version.out.rfind("krvpack 1.0.0 (commit ", 0), 0u) << version.out;
  EXPECT_NE(version.out.find(')'), std::string::npos);
  EXPECT_EQ(version.out.find("commit unknown"), std::string::npos) << version.out;

  RunResult help = run_krvpack({"--help"});
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_NE(help.out.find("Usage: krvpack"), std::string::npos) << help.out;

  RunResult unknown = run_krvpack({"unpack", "x.krv"});
  EXPECT_EQ(unknown.exit_code, 2);
  EXPECT_NE(unknown.err.find("unknown subcommand \"unpack\""), std::string::npos) << unknown.err;
}

}  // namespace

// The spine of PATCH.EXE under Wine: the usage message for every command
// line or package that cannot be used, the progress window itself, and
// images built with MAKEEXE.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "harness.h"
#include "package.h"
#include "package_writer.h"
#include "section_builders.h"

namespace {

const std::string kUsage = "Usage: PATCH.EXE resource_nm [output_nm MAKEEXE]";

std::string read_or_missing(const std::string& path) {
  std::string bytes;
  return e2e::read_file(path, &bytes) ? bytes : "<missing>";
}

std::vector<uint8_t> package_of(const std::vector<PreparedEntry>& entries) {
  std::vector<uint8_t> bytes;
  std::string error;
  EXPECT_TRUE(write_package(entries, PackageLayout{}, &bytes, &error)) << error;
  return bytes;
}

// A package that steers nowhere: the usage cases must not depend on what
// the phases would do with it.
std::vector<uint8_t> small_package() {
  return package_of({compressed_entry("readme.txt", "an entry that is only read"),
                     plain_entry("data\\plain.bin", std::string("\x01\x02\x00\x03", 4))});
}

std::vector<uint8_t> bytes_of(const std::string& text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

std::string text_of(const std::vector<uint8_t>& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

// Every final state of these tests is read the same way: exit code 0 on
// every path, control 1001 empty, and the button "OK" when the run ended.
void expect_usage_and_wait(const e2e::RunResult& r) {
  ASSERT_TRUE(r.ok) << e2e::describe(r);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.final_state.status, kUsage) << e2e::describe(r);
  EXPECT_EQ(r.final_state.status2, "");
  EXPECT_TRUE(r.waited_for_ok) << e2e::describe(r);
  EXPECT_FALSE(r.closed_by_itself);
  EXPECT_TRUE(r.final_state.button_visible);
  EXPECT_EQ(r.final_state.button_text, "OK");
  EXPECT_TRUE(r.ended_after_ok) << "one click on OK ends the program";
  EXPECT_TRUE(r.boxes.empty());
}

void expect_closed_at_once(const e2e::RunResult& r) {
  ASSERT_TRUE(r.ok) << e2e::describe(r);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_TRUE(r.closed_by_itself) << e2e::describe(r);
  EXPECT_FALSE(r.waited_for_ok);
  EXPECT_TRUE(r.boxes.empty());
}

class SpineTest : public E2eTest {
 protected:
  void SetUp() override {
    E2eTest::SetUp();
    // A copy of the program in the work folder, so that images and runs
    // started by a relative name find it there.
    std::string program;
    ASSERT_TRUE(e2e::read_file(e2e::patch_exe(), &program)) << e2e::patch_exe();
    program_bytes_ = program;
    program_ = work_path("PATCH.EXE");
    ASSERT_TRUE(e2e::write_file(program_, program));
  }

  std::string wine(const std::string& name) const { return e2e::wine_path(work_path(name)); }
  std::string quoted(const std::string& name) const { return e2e::quoted(wine(name)); }

  // The work folder's PATCH.EXE, started with this command line from the
  // work folder.
  e2e::Scenario run_from_work(const std::string& command_line) const {
    e2e::Scenario s;
    s.exe = program_;
    s.cwd = work_dir_;
    s.command_line = command_line;
    return s;
  }

  std::string program_;
  std::string program_bytes_;
};

// ---- the usage message -------------------------------------------------------

struct UsageCase {
  const char* name;
  std::string file;  // written to the work folder first, unless empty
  std::string bytes;
  std::string arguments;  // after the program's quoted name; "<raw>" prefix: whole line
};

TEST_F(SpineTest, EveryUnusableCommandLineOrPackageShowsTheUsageMessageAndWaitsForOk) {
  std::vector<uint8_t> image_bytes;
  std::string error;
  ASSERT_TRUE(make_image(bytes_of(program_bytes_), small_package(), &image_bytes, &error))
      << error;
  std::string package = text_of(small_package());
  std::string bad_magic = package;
  bad_magic[0] = 'k';
  const std::vector<UsageCase> cases = {
      {"program without an appended package", "", "", ""},
      {"package file missing", "", "", "missing.krv"},
      {"empty package file", "empty.krv", "", "empty.krv"},
      {"not a package (magic differs)", "bad.krv", bad_magic, "bad.krv"},
      {"self-contained image named as the package", "image.exe", text_of(image_bytes),
       "image.exe"},
      {"keyword in lower case", "p.krv", package, "p.krv out.exe makeexe"},
      {"keyword misspelt, more arguments after it", "p.krv", package,
       "p.krv out.exe MAKEEX extra"},
      {"no argument at all: two adjacent quotes", "", "", "<raw>\"\""},
      {"no argument at all: a high byte first", "", "", "<raw>\xC0PATCH.EXE"},
  };
  for (const UsageCase& c : cases) {
    SCOPED_TRACE(c.name);
    if (!c.file.empty()) ASSERT_TRUE(e2e::write_file(work_path(c.file), c.bytes));
    std::string line = c.arguments.rfind("<raw>", 0) == 0
                           ? c.arguments.substr(5)
                           : quoted("PATCH.EXE") + (c.arguments.empty() ? "" : " " + c.arguments);
    e2e::Scenario s = run_from_work(line);
    s.expected_end = e2e::End::kWaitsForOk;
    e2e::RunResult r = e2e::run_patch(s);
    expect_usage_and_wait(r);
    if (c.arguments.find("out.exe") != std::string::npos) {
      EXPECT_FALSE(e2e::file_exists(work_path("out.exe"))) << "no image without the keyword";
    }
  }
}

// ---- the window ----------------------------------------------------------------

// An installation the package finds, and a startup message: the box holds
// the worker in the middle of its run, so the window can be seen there.
class WindowTest : public SpineTest {
 protected:
  e2e::Scenario startup_message_run(const std::string& answer) {
    std::string app = work_path("app");
    EXPECT_EQ(mkdir(app.c_str(), 0755), 0);
    EXPECT_TRUE(e2e::write_file(app + "/app.exe", std::string("installed")));
    const std::string key = "SOFTWARE\\KorvindaTests\\Spine";
    std::vector<uint8_t> package = package_of(
        {compressed_entry(kRegistryKeysName,
                          build_registry_keys(key, "ProgramPath", "ProgramName", "PatchLevel", 7)),
         compressed_entry(kStartupMsgName,
                          build_startup_message(e2e::cp1251("Обновление"),
                                                e2e::cp1251("Установить обновление?")))});
    EXPECT_TRUE(e2e::write_file(work_path("update.krv"), package));
    e2e::Scenario s = run_from_work(quoted("PATCH.EXE") + " " + quoted("update.krv"));
    e2e::reg_delete_key(&s, key);
    e2e::reg_set_sz(&s, key, "ProgramPath", e2e::wine_path(app));
    e2e::reg_set_sz(&s, key, "ProgramName", "app.exe");
    s.answers = {answer};
    return s;
  }
};

TEST_F(WindowTest, IsCentredHidesItsButtonDuringTheRunAndEndsOnlyByOk) {
  e2e::Scenario s = startup_message_run("ok");
  s.try_close = true;
  s.screenshot_png = e2e::artifacts_dir() + "/final-window.png";
  s.expected_end = e2e::End::kWaitsForOk;
  unlink(s.screenshot_png.c_str());
  e2e::RunResult r = e2e::run_patch(s);
  ASSERT_TRUE(r.ok) << e2e::describe(r);
  EXPECT_EQ(r.exit_code, 0);

  // During the run, while the startup message is open.
  ASSERT_EQ(r.boxes.size(), 1u) << e2e::describe(r);
  const e2e::MessageBoxSeen& box = r.boxes[0];
  EXPECT_EQ(box.caption, e2e::cp1251("Обновление"));
  EXPECT_EQ(box.text, e2e::cp1251("Установить обновление?"));
  EXPECT_EQ(box.icon, "information");
  EXPECT_EQ(box.buttons, "ok,cancel");
  EXPECT_TRUE(box.owned_by_window);
  EXPECT_FALSE(box.window.button_visible) << "the button stays hidden until the run ends";
  EXPECT_EQ(box.window.status, "") << "the status line starts empty";
  EXPECT_EQ(box.window.status2, "");

  // At the end: the last status text, the button "OK", 1001 still empty.
  EXPECT_TRUE(r.waited_for_ok) << e2e::describe(r);
  EXPECT_EQ(r.final_state.status, e2e::cp1251("Обновление успешно установлено!\r\n"));
  EXPECT_EQ(r.final_state.status2, "");
  EXPECT_TRUE(r.final_state.button_visible);
  EXPECT_EQ(r.final_state.button_text, "OK");

  // Centred on the primary screen: half of screen size minus window size,
  // truncated toward zero.
  ASSERT_TRUE(r.has_geometry) << e2e::describe(r);
  int width = r.right - r.left;
  int height = r.bottom - r.top;
  EXPECT_GT(width, 0);
  EXPECT_GT(height, 0);
  EXPECT_EQ(r.left, (r.screen_width - width) / 2);
  EXPECT_EQ(r.top, (r.screen_height - height) / 2);

  // The caption's button, Close in the system menu, Alt+F4 and WM_CLOSE all
  // arrive as IDCANCEL, which the window ignores; Enter and Esc do not reach
  // a dialog manager at all. Only OK ends it.
  for (const char* how :
       {"enter", "escape", "caption_button", "system_menu", "alt_f4", "wm_close"}) {
    EXPECT_EQ(r.close_attempts[how], "stayed") << how << "\n" << e2e::describe(r);
  }
  EXPECT_TRUE(r.ended_after_ok);
  EXPECT_TRUE(r.screenshot_saved);
  EXPECT_TRUE(e2e::file_exists(s.screenshot_png)) << s.screenshot_png;
}

TEST_F(WindowTest, CancelAtTheStartupMessageClosesTheWindowAtOnce) {
  e2e::Scenario s = startup_message_run("cancel");
  s.expected_end = e2e::End::kClosesByItself;
  e2e::RunResult r = e2e::run_patch(s);
  ASSERT_TRUE(r.ok) << e2e::describe(r);
  EXPECT_EQ(r.exit_code, 0);
  ASSERT_EQ(r.boxes.size(), 1u) << e2e::describe(r);
  EXPECT_TRUE(r.closed_by_itself) << e2e::describe(r);
  EXPECT_FALSE(r.waited_for_ok);
  EXPECT_EQ(r.final_state.status2, "");
}

// ---- MAKEEXE -------------------------------------------------------------------

class MakeImageTest : public SpineTest {
 protected:
  e2e::Scenario make_image_run(const std::string& package, const std::string& output) {
    // The program's file is the first argument: the program's own name.
    e2e::Scenario s = run_from_work(quoted("PATCH.EXE") + " " + quoted(package) + " " +
                                    quoted(output) + " MAKEEXE");
    s.expected_end = e2e::End::kClosesByItself;
    return s;
  }

  // The entries of a package as the reader gives them: name and content.
  static std::vector<std::pair<std::string, std::string>> entries_of(const std::string& path,
                                                                     bool from_image) {
    std::vector<std::pair<std::string, std::string>> entries;
    Package package{};
    bool opened = static_cast<bool>(open_package(&package, path.c_str(), from_image));
    EXPECT_TRUE(opened) << path;
    for (uint32_t i = 0; opened && i < package.header.entry_count; ++i) {
      const DirectoryEntry& e = package.entries[i];
      uint8_t* content = load_entry(&package, static_cast<int>(i));
      EXPECT_NE(content, nullptr) << e.name;
      if (content == nullptr) continue;
      entries.emplace_back(std::string(e.name, strnlen(e.name, sizeof e.name)),
                           std::string(reinterpret_cast<char*>(content), e.size));
      free_entry_buffer(content);
    }
    close_package(&package);
    return entries;
  }
};

TEST_F(MakeImageTest, BuildsAnImageThatCarriesThePackageIntactAndClosesAtOnce) {
  std::vector<uint8_t> package = small_package();
  ASSERT_TRUE(e2e::write_file(work_path("update.krv"), package));
  // An existing output is replaced whatever it held, even a longer file.
  ASSERT_TRUE(e2e::write_file(work_path("out.exe"), std::string(program_bytes_.size() * 2, 'x')));

  e2e::RunResult r = e2e::run_patch(make_image_run("update.krv", "out.exe"));
  expect_closed_at_once(r);

  std::string image = read_or_missing(work_path("out.exe"));
  const size_t e = program_bytes_.size();
  const size_t p = package.size();
  ASSERT_EQ(image.size(), e + p + 8) << "E + P + 8 bytes";
  EXPECT_TRUE(image.compare(0, e, program_bytes_) == 0) << "the program, whole";
  EXPECT_TRUE(image.compare(e, p, std::string(package.begin(), package.end())) == 0);
  EXPECT_EQ(image.substr(e + p, 4), e2e::dword_bytes(static_cast<uint32_t>(e)));
  EXPECT_EQ(image.substr(e + p + 4), "KRVD");

  auto from_package = entries_of(work_path("update.krv"), false);
  EXPECT_EQ(from_package.size(), 2u);
  EXPECT_EQ(entries_of(work_path("out.exe"), true), from_package);

  // The image, started by itself, finds its own package: no usage message.
  e2e::Scenario own;
  own.exe = work_path("out.exe");
  own.cwd = work_dir_;
  own.expected_end = e2e::End::kWaitsForOk;  // the package names no installation
  e2e::RunResult run = e2e::run_patch(own);
  ASSERT_TRUE(run.ok) << e2e::describe(run);
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_NE(run.final_state.status, kUsage) << e2e::describe(run);
  EXPECT_NE(run.final_state.status, "") << e2e::describe(run);
}

TEST_F(MakeImageTest, AnImageBuiltFromAnImagePointsToTheNewPackage) {
  ASSERT_TRUE(e2e::write_file(work_path("first.krv"), small_package()));
  std::vector<uint8_t> second =
      package_of({compressed_entry("second.txt", "the second package's only entry")});
  ASSERT_TRUE(e2e::write_file(work_path("second.krv"), second));
  expect_closed_at_once(e2e::run_patch(make_image_run("first.krv", "first.exe")));

  std::string first_image = read_or_missing(work_path("first.exe"));
  e2e::Scenario s = run_from_work(quoted("first.exe") + " " + quoted("second.krv") + " " +
                                  quoted("second.exe") + " MAKEEXE");
  s.exe = work_path("first.exe");
  s.expected_end = e2e::End::kClosesByItself;
  expect_closed_at_once(e2e::run_patch(s));

  std::string image = read_or_missing(work_path("second.exe"));
  ASSERT_EQ(image.size(), first_image.size() + second.size() + 8);
  EXPECT_EQ(image.substr(0, first_image.size()), first_image);
  EXPECT_EQ(image.substr(image.size() - 8, 4),
            e2e::dword_bytes(static_cast<uint32_t>(first_image.size())));
  auto entries = entries_of(work_path("second.exe"), true);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].first, "second.txt");
}

struct NoImageCase {
  const char* name;
  std::string package;  // file name in the work folder, "" for none written
  std::string package_bytes;
  std::string output;
  std::string program_argument;  // the program's name as the command line gives it
  bool output_existed;
};

TEST_F(MakeImageTest, WhenNoImageCanBeMadeNothingIsLeftBehindAndInputsStayUnchanged) {
  const std::string package = text_of(small_package());
  const std::vector<NoImageCase> cases = {
      // The output is created, then the empty package cannot be mapped:
      // the incomplete output is removed, and with it what was there.
      {"empty package file", "empty.krv", "", "out1.exe", "\"PATCH.EXE\"", false},
      {"empty package file over an existing output", "empty.krv", "", "old.exe",
       "\"PATCH.EXE\"", true},
      {"package file missing", "", "", "out2.exe", "\"PATCH.EXE\"", false},
      // A bare name without its extension does not open.
      {"program named without its extension", "update.krv", package, "out3.exe", "PATCH",
       false},
  };
  for (const NoImageCase& c : cases) {
    SCOPED_TRACE(c.name);
    if (!c.package.empty()) ASSERT_TRUE(e2e::write_file(work_path(c.package), c.package_bytes));
    if (c.output_existed) ASSERT_TRUE(e2e::write_file(work_path(c.output), "old image"));
    std::string package_name = c.package.empty() ? "missing.krv" : c.package;
    e2e::Scenario s = run_from_work(c.program_argument + " " + quoted(package_name) + " " +
                                    quoted(c.output) + " MAKEEXE");
    s.expected_end = e2e::End::kClosesByItself;
    e2e::RunResult r = e2e::run_patch(s);
    expect_closed_at_once(r);
    EXPECT_FALSE(e2e::file_exists(work_path(c.output))) << "no incomplete image is left";
    EXPECT_EQ(read_or_missing(program_), program_bytes_);
  }
}

// Sizes beyond the image's 32-bit fields are refused before the output is
// created, so an existing output stays as it was. Sparse files keep this
// cheap: their size is real, their bytes are never written.
TEST_F(MakeImageTest, SizesOf4GiBAreRefusedBeforeTheOutputIsTouched) {
  const uint64_t k4GiB = uint64_t{1} << 32;
  const uint64_t e = program_bytes_.size();
  const struct {
    const char* name;
    uint64_t package_size;
  } cases[] = {
      {"package of 4 GiB", k4GiB},
      {"E + P + 8 is exactly 4 GiB", k4GiB - e - 8},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(e2e::write_file(work_path("huge.krv"), ""));
    ASSERT_EQ(truncate(work_path("huge.krv").c_str(), static_cast<off_t>(c.package_size)), 0);
    ASSERT_TRUE(e2e::write_file(work_path("old.exe"), "old image"));
    expect_closed_at_once(e2e::run_patch(make_image_run("huge.krv", "old.exe")));
    EXPECT_EQ(read_or_missing(work_path("old.exe")), "old image");
  }
}

TEST_F(MakeImageTest, NamingAnInputAsTheOutputLeavesItUnchanged) {
  const std::string package = text_of(small_package());
  ASSERT_TRUE(e2e::write_file(work_path("update.krv"), package));
  for (const char* output : {"update.krv", "PATCH.EXE"}) {
    SCOPED_TRACE(output);
    expect_closed_at_once(e2e::run_patch(make_image_run("update.krv", output)));
    EXPECT_EQ(read_or_missing(work_path("update.krv")), package);
    EXPECT_EQ(read_or_missing(program_), program_bytes_);
  }
}

}  // namespace

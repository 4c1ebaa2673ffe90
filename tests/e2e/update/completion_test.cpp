// Removal of listed files and folders, the outcome of the run, and the road
// of one typical update: an image built with MAKEEXE, started without
// arguments, applied, then started again.
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>

#include "update_fixture.h"

namespace {

class CompletionTest : public UpdateTest {};

TEST_F(CompletionTest, RemovesListedFilesAndEmptyFoldersInOrder) {
  ASSERT_TRUE(e2e::write_file(app("old.txt"), std::string("old")));
  ASSERT_EQ(mkdir(app("empty").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(app("full").c_str(), 0755), 0);
  ASSERT_TRUE(e2e::write_file(app("full/keep.txt"), std::string("k")));
  ASSERT_EQ(mkdir(app("early").c_str(), 0755), 0);
  ASSERT_TRUE(e2e::write_file(app("early/a.txt"), std::string("a")));
  ASSERT_EQ(mkdir(app("late").c_str(), 0755), 0);
  ASSERT_TRUE(e2e::write_file(app("late/b.txt"), std::string("b")));
  ASSERT_TRUE(e2e::write_file(app("tmp0000000000000001"), std::string("not translated")));
  ASSERT_TRUE(e2e::write_file(app("after_cut.txt"), std::string("stays")));
  // A name list whose last name is cut off before its terminator.
  std::string removals = build_string_list({"old.txt", "missing.txt", "empty", "full", "early",
                                            "early\\a.txt", "late\\b.txt", "late",
                                            "tmp0000000000000001", "after_cut.txt"});
  removals.resize(removals.size() - 3);
  e2e::Scenario s = apply(package_of({
      registry_keys(3), compressed_entry("TMP0000000000000001", "x"),
      compressed_entry(kXlatNamesTableName,
                       build_name_table({{"TMP0000000000000001", "translated.txt"}})),
      compressed_entry(kFilesToRemoveName, removals)}));
  s.expected_end = e2e::End::kWaitsForOk;
  e2e::RunResult r = e2e::run_patch(s);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_FALSE(exists("old.txt"));
  EXPECT_FALSE(exists("empty"));
  EXPECT_TRUE(exists("full/keep.txt"));
  EXPECT_TRUE(is_dir("early")) << "listed before its contents, so not yet empty";
  EXPECT_FALSE(exists("early/a.txt"));
  EXPECT_FALSE(exists("late"));
  EXPECT_FALSE(exists("tmp0000000000000001")) << "removal names are not translated";
  EXPECT_EQ(content("translated.txt"), "x");
  EXPECT_EQ(content("after_cut.txt"), "stays");
  EXPECT_EQ(r.final_state.status, text(kInstalled));
}

TEST_F(CompletionTest, LevelIsWrittenOnlyWithoutFailures) {
  struct Case {
    const char* name;
    bool fail_a_file;
    bool level_before;
  } cases[] = {
      {"level value created", false, false},
      {"level value replaced", false, true},
      {"a failed file leaves the level alone but removal still runs", true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(e2e::write_file(app("gone.txt"), std::string("x")));
    std::vector<PreparedEntry> entries = {registry_keys(8),
                                          compressed_entry(kFilesToRemoveName,
                                                           build_string_list({"gone.txt"}))};
    if (c.fail_a_file) {
      ASSERT_TRUE(e2e::write_file(app("blocker"), std::string("file")));
      entries.push_back(compressed_entry("blocker\\x.txt", "x"));
    }
    e2e::Scenario s = apply(package_of(entries), c.level_before, 3);
    s.expected_end = e2e::End::kWaitsForOk;
    e2e::RunResult r = e2e::run_patch(s);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_TRUE(r.waited_for_ok);
    EXPECT_FALSE(exists("gone.txt"));
    ASSERT_EQ(r.reads[0].found, c.level_before || !c.fail_a_file);
    EXPECT_EQ(r.reads[0].type, 4u);
    EXPECT_EQ(r.reads[0].data, e2e::dword_bytes(c.fail_a_file ? 3 : 8));
    EXPECT_EQ(r.final_state.status == text(kInstalled), !c.fail_a_file) << e2e::describe(r);
  }
}

// The whole road of a typical update, from a double click on the image to
// the exit, then the same image once more.
TEST_F(CompletionTest, TheRoadOfOneTypicalUpdate) {
  ASSERT_TRUE(e2e::write_file(app("readme.txt"), std::string("version 1")));
  ASSERT_TRUE(e2e::write_file(app("obsolete.dll"), std::string("old library")));
  std::string tool;
  ASSERT_TRUE(e2e::read_file(e2e::fake_tool_exe(), &tool));
  ASSERT_TRUE(e2e::write_file(app("setup_tool.exe"), tool));
  CommandSpec first;
  first.wait_for_exit = true;
  first.in_install_dir = true;
  first.program = "setup_tool.exe";
  first.arguments = "register";
  CommandSpec second = first;
  second.arguments = "refresh";
  const std::string caption = text("Обновление Корвинда");
  const std::string message = text("Будет установлено обновление 2.\r\nПродолжить?");
  const std::string long_name = "plugins\\extra long plugin name.dll";
  std::vector<uint8_t> package = package_of({
      registry_keys(2),
      compressed_entry(kStartupMsgName, build_startup_message(caption, message)),
      compressed_entry("readme.txt", "version 2"),
      compressed_entry("TMP0000000000000001", "plugin"),
      compressed_entry(kXlatNamesTableName, build_name_table({{"TMP0000000000000001", long_name}})),
      compressed_entry(kFoldersName, build_string_list({"plugins"})),
      compressed_entry(kCommandsToExecuteName, build_commands({first, second})),
      compressed_entry(kFilesToRemoveName, build_string_list({"obsolete.dll"})),
  });
  const std::string package_path = work_path("update.krv");
  const std::string image_path = work_path("update.exe");
  ASSERT_TRUE(e2e::write_file(package_path, package));

  e2e::Scenario make = e2e::patch_scenario(
      {e2e::quoted(e2e::wine_path(package_path)), e2e::quoted(e2e::wine_path(image_path)),
       "MAKEEXE"});
  make.expected_end = e2e::End::kClosesByItself;
  e2e::RunResult made = e2e::run_patch(make);
  ASSERT_TRUE(made.ok) << made.error;
  EXPECT_TRUE(made.closed_by_itself);
  ASSERT_TRUE(e2e::file_exists(image_path));

  e2e::Scenario s;
  s.exe = image_path;
  s.command_line = e2e::quoted(e2e::wine_path(image_path));
  register_installation(&s);
  e2e::reg_set_dword(&s, key_, "PatchLevel", 1);
  e2e::reg_read(&s, key_, "PatchLevel");
  s.answers = {"ok"};
  s.screenshot_png = e2e::artifacts_dir() + "/road-final-window.png";
  s.expected_end = e2e::End::kWaitsForOk;
  e2e::RunResult r = e2e::run_patch(s);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.exit_code, 0);
  ASSERT_EQ(r.boxes.size(), 1u) << e2e::describe(r);
  EXPECT_FALSE(r.boxes[0].window.button_visible) << "hidden while the run goes on\n" << e2e::describe(r);
  EXPECT_EQ(r.boxes[0].window.status, "");
  EXPECT_EQ(r.boxes[0].caption, caption);
  EXPECT_EQ(r.boxes[0].text, message);
  EXPECT_EQ(content("readme.txt"), "version 2");
  EXPECT_EQ(content("plugins/extra long plugin name.dll"), "plugin");
  EXPECT_FALSE(exists("readme.txt.bak"));
  EXPECT_FALSE(exists("obsolete.dll"));
  std::istringstream log(content("fake_tool_calls.log"));
  std::string line1, line2, line3;
  std::getline(log, line1);
  std::getline(log, line2);
  EXPECT_FALSE(std::getline(log, line3));
  EXPECT_EQ(line1.substr(0, line1.find('|')), "DUMMY register");
  EXPECT_EQ(line2.substr(0, line2.find('|')), "DUMMY refresh");
  EXPECT_EQ(line1.substr(line1.find('|') + 1).rfind(e2e::wine_path(app_dir_), 0), 0u);
  EXPECT_EQ(r.final_state.status, text(kInstalled));
  EXPECT_TRUE(r.final_state.button_visible);
  EXPECT_EQ(r.final_state.button_text, "OK");
  EXPECT_TRUE(r.waited_for_ok);
  EXPECT_TRUE(r.ended_after_ok);
  ASSERT_TRUE(r.reads[0].found);
  EXPECT_EQ(r.reads[0].type, 4u);
  EXPECT_EQ(r.reads[0].data, e2e::dword_bytes(2));
  EXPECT_TRUE(r.screenshot_saved);

  // Again: the installed level is now the package's, so the level question
  // follows the startup message; Cancel there ends the run untouched.
  ASSERT_TRUE(e2e::write_file(app("readme.txt"), std::string("edited")));
  e2e::Scenario again;
  again.exe = image_path;
  again.command_line = e2e::quoted(e2e::wine_path(image_path));
  again.answers = {"ok", "cancel"};
  again.expected_end = e2e::End::kClosesByItself;
  e2e::RunResult second_run = e2e::run_patch(again);
  ASSERT_TRUE(second_run.ok) << second_run.error;
  EXPECT_EQ(second_run.exit_code, 0);
  ASSERT_EQ(second_run.boxes.size(), 2u) << e2e::describe(second_run);
  EXPECT_EQ(second_run.boxes[1].text, text(kLevelPrompt));
  EXPECT_TRUE(second_run.closed_by_itself);
  EXPECT_EQ(content("readme.txt"), "edited");
}

}  // namespace

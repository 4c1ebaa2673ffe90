// Finding the installation: registry, application file, startup message and
// the patch-level question, and what the user sees on each way out.
#include <unistd.h>

#include <cstdio>
#include <functional>

#include "update_fixture.h"

namespace {

using Setup = std::function<void(const std::string& key, e2e::Scenario*)>;

struct NotFoundCase {
  const char* name;
  bool with_registry_keys;
  Setup setup;
};

class InstallationTest : public UpdateTest {
 protected:
  std::vector<uint8_t> marked_package(bool with_registry_keys) {
    std::vector<PreparedEntry> entries;
    if (with_registry_keys) entries.push_back(registry_keys(3));
    entries.push_back(compressed_entry("marker.txt", "written"));
    return package_of(entries);
  }
};

TEST_F(InstallationTest, EveryWayOfNotFindingTheInstallationEndsInOneMessage) {
  const NotFoundCase cases[] = {
      {"no :RegistryKeys section", false, [](const std::string&, e2e::Scenario*) {}},
      {"key missing", true,
       [](const std::string& key, e2e::Scenario* s) { e2e::reg_delete_key(s, key); }},
      {"folder value missing", true,
       [](const std::string& key, e2e::Scenario* s) { e2e::reg_delete_value(s, key, "ProgramPath"); }},
      {"program value missing", true,
       [](const std::string& key, e2e::Scenario* s) { e2e::reg_delete_value(s, key, "ProgramName"); }},
      {"application file missing", true,
       [](const std::string& key, e2e::Scenario* s) {
         e2e::reg_set_sz(s, key, "ProgramName", "missing.exe");
       }},
      {"folder value longer than 512 bytes", true,
       [](const std::string& key, e2e::Scenario* s) {
         e2e::reg_set_sz(s, key, "ProgramPath", std::string(600, 'x'));
       }},
      {"folder value of 512 bytes without terminator", true,
       [](const std::string& key, e2e::Scenario* s) {
         e2e::reg_set_binary(s, key, "ProgramPath", std::string(512, 'x'));
       }},
  };
  for (const NotFoundCase& c : cases) {
    SCOPED_TRACE(c.name);
    e2e::Scenario s = apply(marked_package(c.with_registry_keys));
    c.setup(key_, &s);
    s.expected_end = e2e::End::kWaitsForOk;
    e2e::RunResult r = e2e::run_patch(s);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_TRUE(r.waited_for_ok) << e2e::describe(r);
    EXPECT_EQ(r.final_state.status, text(kNotFound));
    EXPECT_TRUE(r.boxes.empty());
    EXPECT_FALSE(exists("marker.txt"));
    EXPECT_FALSE(r.reads[0].found) << "the patch level must not be written";
  }
}

TEST_F(InstallationTest, AMalformedRegistrySectionCountsAsNotFound) {
  // Three strings only, then the content ends: nothing may be read past it.
  std::string cut = build_registry_keys(key_, "ProgramPath", "ProgramName", "PatchLevel", 1);
  const size_t lengths[] = {cut.size() - 3, key_.size() + 5, 0};
  for (size_t length : lengths) {
    SCOPED_TRACE(length);
    e2e::Scenario s = apply(package_of({compressed_entry(kRegistryKeysName, cut.substr(0, length)),
                                        compressed_entry("marker.txt", "x")}));
    s.expected_end = e2e::End::kWaitsForOk;
    e2e::RunResult r = e2e::run_patch(s);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.final_state.status, text(kNotFound));
    EXPECT_FALSE(exists("marker.txt"));
  }
}

TEST_F(InstallationTest, FolderValueFormsAndAFolderNamedLikeTheProgram) {
  struct Case {
    const char* name;
    std::string folder_suffix;
    bool expand_type;
    bool program_is_folder;
  } cases[] = {
      {"folder without backslash", "", false, false},
      {"folder with backslash", "\\", false, false},
      {"folder as REG_EXPAND_SZ", "", true, false},
      {"a folder in place of the program file", "", false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    remove(app(kProgram).c_str());
    rmdir(app(kProgram).c_str());
    if (c.program_is_folder) {
      ASSERT_EQ(mkdir(app(kProgram).c_str(), 0755), 0);
    } else {
      ASSERT_TRUE(e2e::write_file(app(kProgram), std::string("program")));
    }
    remove(app("marker.txt").c_str());
    e2e::Scenario s = apply(package_of({registry_keys(2), compressed_entry("marker.txt", "new")}));
    std::string folder = e2e::wine_path(app_dir_) + c.folder_suffix;
    if (c.expand_type) e2e::reg_set_expand_sz(&s, key_, "ProgramPath", folder);
    else e2e::reg_set_sz(&s, key_, "ProgramPath", folder);
    s.expected_end = e2e::End::kWaitsForOk;
    e2e::RunResult r = e2e::run_patch(s);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.final_state.status, text(kInstalled)) << e2e::describe(r);
    EXPECT_EQ(content("marker.txt"), "new");
  }
}

struct LevelCase {
  const char* name;
  const char* installed_type;  // none, dword, sz
  int64_t installed;
  int32_t package_level;
  bool prompt;
};

TEST_F(InstallationTest, PatchLevelComparisonIsSignedAndOnlyDwordsCount) {
  const LevelCase cases[] = {
      {"no level value, package 1", "none", 0, 1, false},
      {"no level value, package 0", "none", 0, 0, true},
      {"level stored as a string counts as 0", "sz", 9, 1, false},
      {"level -1 is below 1", "dword", -1, 1, false},
      {"equal levels", "dword", 5, 5, true},
      {"later level installed", "dword", 6, 5, true},
      {"earlier level installed", "dword", 4, 5, false},
  };
  for (const LevelCase& c : cases) {
    SCOPED_TRACE(c.name);
    e2e::Scenario s = apply(package_of({registry_keys(c.package_level),
                                        compressed_entry("marker.txt", c.name)}));
    if (std::string(c.installed_type) == "dword") {
      e2e::reg_set_dword(&s, key_, "PatchLevel", c.installed);
    } else if (std::string(c.installed_type) == "sz") {
      e2e::reg_set_sz(&s, key_, "PatchLevel", std::to_string(c.installed));
    }
    s.answers = {"ok"};
    s.expected_end = e2e::End::kWaitsForOk;
    e2e::RunResult r = e2e::run_patch(s);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.exit_code, 0);
    ASSERT_EQ(r.boxes.size(), c.prompt ? 1u : 0u) << e2e::describe(r);
    if (c.prompt) {
      EXPECT_EQ(r.boxes[0].caption, "!");
      EXPECT_EQ(r.boxes[0].text, text(kLevelPrompt));
      EXPECT_EQ(r.boxes[0].icon, "exclamation");
      EXPECT_EQ(r.boxes[0].buttons, "ok,cancel");
      EXPECT_TRUE(r.boxes[0].owned_by_window);
    }
    EXPECT_EQ(content("marker.txt"), c.name);
    EXPECT_EQ(r.final_state.status, text(kInstalled));
    ASSERT_TRUE(r.reads[0].found);
    EXPECT_EQ(r.reads[0].type, 4u);
    EXPECT_EQ(r.reads[0].data, e2e::dword_bytes(static_cast<uint32_t>(c.package_level)));
  }
}

TEST_F(InstallationTest, RefusingEitherQuestionClosesAtOnceAndTouchesNothing) {
  ASSERT_TRUE(e2e::write_file(app("data.txt"), std::string("old")));
  const std::string startup = build_startup_message(text("Обновление"), text("Установить?\r\nДа"));
  struct Case {
    const char* name;
    bool with_startup;
    std::vector<std::string> answers;
    size_t boxes;
  } cases[] = {
      {"Cancel at the startup message", true, {"cancel"}, 1},
      {"startup message closed", true, {"close"}, 1},
      {"OK at the startup message, Cancel at the level prompt", true, {"ok", "cancel"}, 2},
      {"Cancel at the level prompt", false, {"cancel"}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<PreparedEntry> entries = {registry_keys(5), compressed_entry("data.txt", "new")};
    if (c.with_startup) entries.push_back(compressed_entry(kStartupMsgName, startup));
    e2e::Scenario s = apply(package_of(entries), true, 5);
    s.answers = c.answers;
    s.expected_end = e2e::End::kClosesByItself;
    e2e::RunResult r = e2e::run_patch(s);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_TRUE(r.closed_by_itself) << e2e::describe(r);
    EXPECT_EQ(r.boxes.size(), c.boxes);
    EXPECT_EQ(r.final_state.status, "");
    EXPECT_EQ(content("data.txt"), "old");
    EXPECT_FALSE(exists("data.txt.bak"));
    ASSERT_TRUE(r.reads[0].found);
    EXPECT_EQ(r.reads[0].data, e2e::dword_bytes(5));
  }
}

TEST_F(InstallationTest, StartupMessageShowsThePackagesOwnCaptionAndText) {
  // The section stands last in the directory and is named in another case.
  const std::string caption = text("Обновление «Корвинда»");
  const std::string body = text("Будет установлено обновление 7.\r\nПродолжить?");
  std::vector<PreparedEntry> entries = {registry_keys(7), compressed_entry("a.txt", "a"),
                                        compressed_entry(":STARTUPMSG",
                                                         build_startup_message(caption, body))};
  e2e::Scenario s = apply(package_of(entries));
  s.answers = {"ok"};
  s.expected_end = e2e::End::kWaitsForOk;
  e2e::RunResult r = e2e::run_patch(s);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.exit_code, 0);
  ASSERT_EQ(r.boxes.size(), 1u) << e2e::describe(r);
  EXPECT_EQ(r.boxes[0].caption, caption);
  EXPECT_EQ(r.boxes[0].text, body);
  EXPECT_EQ(r.boxes[0].icon, "information");
  EXPECT_EQ(r.boxes[0].buttons, "ok,cancel");
  EXPECT_TRUE(r.boxes[0].owned_by_window);
  EXPECT_EQ(r.boxes[0].window.status, "") << "nothing is shown before the box";
  EXPECT_EQ(content("a.txt"), "a");
  EXPECT_TRUE(r.waited_for_ok);
}

TEST_F(InstallationTest, AStartupMessageCutShortShowsWhatItHolds) {
  const struct {
    const char* name;
    std::string section;
    std::string caption, text;
  } cases[] = {
      {"caption only, no text", std::string("Title\0", 6), "Title", ""},
      {"text cut before its terminator", std::string("Title\0Body", 10), "Title", "Body"},
      {"empty section", std::string(), "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    e2e::Scenario s = apply(package_of({registry_keys(1), compressed_entry(kStartupMsgName, c.section)}));
    s.answers = {"cancel"};
    s.expected_end = e2e::End::kClosesByItself;
    e2e::RunResult r = e2e::run_patch(s);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.exit_code, 0);
    ASSERT_EQ(r.boxes.size(), 1u) << e2e::describe(r);
    EXPECT_EQ(r.boxes[0].caption, c.caption);
    EXPECT_EQ(r.boxes[0].text, c.text);
    EXPECT_TRUE(r.closed_by_itself);
  }
}

}  // namespace

namespace {

TEST_F(InstallationTest, APackageWithADamagedSectionIsRefusedBeforeAnythingIsTouched) {
  ASSERT_TRUE(e2e::write_file(app("keep.txt"), std::string("kept")));
  PreparedEntry removals = compressed_entry(kFilesToRemoveName, build_string_list({"keep.txt"}));
  removals.stored.back() ^= 0xFF;  // the stream's checksum no longer holds
  e2e::Scenario s = apply(package_of({registry_keys(1), compressed_entry("new.txt", "new"),
                                      removals}));
  s.expected_end = e2e::End::kWaitsForOk;
  e2e::RunResult r = e2e::run_patch(s);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_TRUE(r.waited_for_ok);
  EXPECT_EQ(r.final_state.status, "Usage: PATCH.EXE resource_nm [output_nm MAKEEXE]");
  EXPECT_EQ(content("keep.txt"), "kept");
  EXPECT_FALSE(exists("new.txt"));
  EXPECT_FALSE(r.reads[0].found);
}

}  // namespace

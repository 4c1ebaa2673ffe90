// External commands: order, folder, command line, waiting, the marker file
// and the one message box; then removal and the recorded patch level.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <sstream>

#include "update_fixture.h"

namespace {

class CommandsTest : public UpdateTest {
 protected:
  void SetUp() override {
    UpdateTest::SetUp();
    // The stand-in program, copied into the installation like a real tool.
    std::string tool;
    ASSERT_TRUE(e2e::read_file(e2e::fake_tool_exe(), &tool)) << e2e::fake_tool_exe();
    ASSERT_EQ(mkdir(app("bin").c_str(), 0755), 0);
    ASSERT_TRUE(e2e::write_file(app("bin/tool.exe"), tool));
  }

  static CommandSpec in_app(const std::string& arguments, bool wait = true) {
    CommandSpec c;
    c.wait_for_exit = wait;
    c.in_install_dir = true;
    c.program = "bin\\tool.exe";
    c.arguments = arguments;
    return c;
  }

  e2e::RunResult run(const std::string& commands, std::vector<std::string> answers = {}) {
    e2e::Scenario s = apply(package_of({registry_keys(8), compressed_entry("new.txt", "new"),
                                        compressed_entry(kCommandsToExecuteName, commands)}));
    s.answers = answers;
    s.expected_end = e2e::End::kWaitsForOk;
    e2e::RunResult r = e2e::run_patch(s);
    EXPECT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_TRUE(r.waited_for_ok) << e2e::describe(r);
    return r;
  }

  // Lines the stand-in program logged: "<command line>|<current folder>".
  std::vector<std::string> calls() const {
    std::vector<std::string> lines;
    if (!exists("fake_tool_calls.log")) return lines;
    std::istringstream in(content("fake_tool_calls.log"));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  // The calls once `count` have been logged: a program the updater did not
  // wait for may still be starting when the run ends.
  std::vector<std::string> calls_once(size_t count) const {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    std::vector<std::string> lines = calls();
    while (lines.size() < count && std::chrono::steady_clock::now() < deadline) {
      usleep(20 * 1000);
      lines = calls();
    }
    return lines;
  }

  std::string folder() const {
    // The folder the programs see: the installation folder (the platform
    // may report it without the trailing backslash).
    return e2e::wine_path(app_dir_);
  }

  void expect_failure_box(const e2e::RunResult& r) {
    ASSERT_EQ(r.boxes.size(), 1u) << e2e::describe(r);
    EXPECT_EQ(r.boxes[0].caption, "!");
    EXPECT_EQ(r.boxes[0].text, text(kCommandsFailed));
    EXPECT_EQ(r.boxes[0].icon, "exclamation");
    EXPECT_EQ(r.boxes[0].buttons, "ok");
    EXPECT_TRUE(r.boxes[0].owned_by_window);
    EXPECT_NE(r.final_state.status, text(kInstalled));
    EXPECT_FALSE(r.reads[0].found) << "no level after a failed command";
  }

  static bool starts_with(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
  }
};

TEST_F(CommandsTest, ProgramsRunInOrderInTheInstallationFolder) {
  CommandSpec plain = in_app("");
  plain.extra_flag_bits = 0xFC;  // ignored bits
  e2e::RunResult r = run(build_commands({in_app("first a b"), plain, in_app("sleep=300 third", false),
                                         in_app("fourth")}));
  EXPECT_TRUE(r.boxes.empty()) << e2e::describe(r);
  EXPECT_EQ(r.final_state.status, text(kInstalled));
  ASSERT_TRUE(r.reads[0].found);
  EXPECT_EQ(r.reads[0].data, e2e::dword_bytes(8));
  std::vector<std::string> lines = calls_once(4);  // the third was not waited for
  ASSERT_EQ(lines.size(), 4u) << content("fake_tool_calls.log");
  EXPECT_TRUE(starts_with(lines[0], "DUMMY first a b|" + folder())) << lines[0];
  EXPECT_TRUE(starts_with(lines[1], "DUMMY |" + folder())) << lines[1];
  // The third was only started, so it and the fourth run side by side and
  // may log in either order.
  bool third_first = starts_with(lines[2], "DUMMY sleep=300 third|");
  EXPECT_TRUE(starts_with(lines[third_first ? 2 : 3], "DUMMY sleep=300 third|"));
  EXPECT_TRUE(starts_with(lines[third_first ? 3 : 2], "DUMMY fourth|"));
  EXPECT_EQ(content("new.txt"), "new");
}

TEST_F(CommandsTest, WaitingOnlyWhereTheRecordAsks) {
  // A program started without waiting writes its marker late: the test after
  // the next program finds it, so that program counts as failed.
  e2e::RunResult waited = run(build_commands({in_app("sleep=700 touch=done.txt"), in_app("check")}),
                              {});
  EXPECT_TRUE(waited.boxes.empty());
  EXPECT_TRUE(exists("done.txt"));

  // The first, not waited for, leaves its marker only once the second has
  // started, and the second ends only once the marker is there: so the
  // marker is absent when the first is looked at and present after the
  // second, whatever the machine's speed.
  remove(app("fake_tool_calls.log").c_str());
  e2e::RunResult late =
      run(build_commands({in_app("await=second_started marker", false),
                          in_app("touch=second_started await=krv_patch_apply_err.txt second"),
                          in_app("third")}),
          {"ok"});
  expect_failure_box(late);
  std::vector<std::string> lines = calls();
  ASSERT_EQ(lines.size(), 2u) << content("fake_tool_calls.log");
  EXPECT_FALSE(exists("krv_patch_apply_err.txt"));
}

TEST_F(CommandsTest, AFailureEndsTheListWithOneBox) {
  struct Case {
    const char* name;
    std::string commands;
    bool marker_before;   // left over from an earlier run
    bool marker_folder;   // a folder of the marker's name
    size_t programs_run;
  } cases[] = {
      {"marker after the second of three",
       build_commands({in_app("one"), in_app("two marker"), in_app("three")}), false, false, 2},
      {"marker left from before fails the first program",
       build_commands({in_app("one"), in_app("two")}), true, false, 1},
      {"a folder named like the marker counts",
       build_commands({in_app("one marker_dir"), in_app("two")}), false, false, 1},
      {"a program that cannot be started",
       build_commands({in_app("one"), [] {
                         CommandSpec missing;
                         missing.in_install_dir = true;
                         missing.program = "bin\\missing.exe";
                         return missing;
                       }(), in_app("three")}),
       false, false, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    remove(app("fake_tool_calls.log").c_str());
    rmdir(app("krv_patch_apply_err.txt").c_str());
    remove(app("krv_patch_apply_err.txt").c_str());
    if (c.marker_before) ASSERT_TRUE(e2e::write_file(app("krv_patch_apply_err.txt"), std::string()));
    e2e::RunResult r = run(c.commands, {"ok"});
    expect_failure_box(r);
    EXPECT_EQ(calls().size(), c.programs_run) << content("fake_tool_calls.log");
    EXPECT_EQ(is_dir("krv_patch_apply_err.txt"), std::string(c.name).find("folder") != std::string::npos);
    if (!is_dir("krv_patch_apply_err.txt")) EXPECT_FALSE(exists("krv_patch_apply_err.txt"));
    EXPECT_EQ(content("new.txt"), "new") << "files written earlier stay written";
  }
}

TEST_F(CommandsTest, ListsThatEndEarly) {
  const std::string two = build_commands({in_app("one"), in_app("two")});
  const size_t first_record = build_commands({in_app("one")}).size() - 2;
  const struct {
    const char* name;
    std::string commands;
    size_t programs_run;
  } cases[] = {
      {"first record is the end record", std::string("\x03\0", 2), 0},
      {"list cut inside its second record",
       two.substr(0, first_record + 6), 1},
      {"empty section", std::string(), 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    remove(app("fake_tool_calls.log").c_str());
    e2e::RunResult r = run(c.commands);
    EXPECT_TRUE(r.boxes.empty()) << e2e::describe(r);
    EXPECT_EQ(calls().size(), c.programs_run);
    EXPECT_EQ(r.final_state.status, text(kInstalled));
  }
}

TEST_F(CommandsTest, AProgramPathOutsideTheInstallationIsUsedAsItStands) {
  CommandSpec absolute;
  absolute.wait_for_exit = true;
  absolute.program = e2e::wine_path(app("bin/tool.exe"));
  absolute.arguments = "absolute";
  CommandSpec relative;  // relative to the updater's own current folder
  relative.wait_for_exit = true;
  relative.program = "tool.exe";
  relative.arguments = "relative";
  e2e::Scenario s = apply(package_of({registry_keys(1),
                                      compressed_entry(kCommandsToExecuteName,
                                                       build_commands({absolute, relative}))}));
  s.cwd = app("bin");
  s.expected_end = e2e::End::kWaitsForOk;
  e2e::RunResult r = e2e::run_patch(s);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_TRUE(r.boxes.empty()) << e2e::describe(r);
  std::vector<std::string> lines = calls();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(starts_with(lines[0], "DUMMY absolute|" + folder()));
  EXPECT_TRUE(starts_with(lines[1], "DUMMY relative|" + folder()));
}

TEST_F(CommandsTest, TooLongACommandLineFailsThatCommand) {
  e2e::RunResult r = run(build_commands({in_app(std::string(1100, 'a')), in_app("after")}), {"ok"});
  expect_failure_box(r);
  EXPECT_TRUE(calls().empty());
}

}  // namespace

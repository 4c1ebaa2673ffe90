// Unattended runs (/quiet, /passive, /force, /log) and the end of a run that
// failed: exit codes, windows and boxes that must not appear, the log file,
// and a final status text that tells the failure.
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <regex>
#include <set>
#include <sstream>

#include "update_fixture.h"

namespace {

class UnattendedTest : public UpdateTest {
 protected:
  void SetUp() override {
    UpdateTest::SetUp();
    std::string tool;
    ASSERT_TRUE(e2e::read_file(e2e::fake_tool_exe(), &tool)) << e2e::fake_tool_exe();
    ASSERT_TRUE(e2e::write_file(app("tool.exe"), tool));
    ASSERT_TRUE(e2e::write_file(app("held.txt"), std::string("held content")));
  }

  static CommandSpec tool_run(const std::string& arguments) {
    CommandSpec c;
    c.wait_for_exit = true;
    c.in_install_dir = true;
    c.program = "tool.exe";
    c.arguments = arguments;
    return c;
  }

  // A package with a startup message, two files and the given commands.
  std::vector<uint8_t> package(int32_t level, const std::vector<CommandSpec>& commands = {}) {
    std::vector<PreparedEntry> entries = {
        registry_keys(level),
        compressed_entry(kStartupMsgName, build_startup_message(text("Обновление"),
                                                                text("Продолжить?"))),
        compressed_entry("held.txt", "replacement"),
        compressed_entry("new.txt", "new")};
    if (!commands.empty()) {
      entries.push_back(compressed_entry(kCommandsToExecuteName, build_commands(commands)));
    }
    return package_of(entries);
  }

  static void add_switches(e2e::Scenario* s, const std::string& switches) {
    s->command_line += " " + switches;
  }

  // What a person would have noticed of a run that must show nothing.
  static void expect_nothing_shown(const e2e::RunResult& r) {
    EXPECT_FALSE(r.first_seen) << e2e::describe(r);
    EXPECT_TRUE(r.boxes.empty()) << e2e::describe(r);
  }

  std::string log_path() const { return work_path("logs/update.txt"); }

  std::vector<std::string> log_lines() const {
    std::vector<std::string> lines;
    std::string bytes;
    if (!e2e::read_file(log_path(), &bytes)) return lines;
    std::istringstream in(bytes);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  static bool has_line(const std::vector<std::string>& lines, const std::string& part) {
    for (const std::string& line : lines) {
      if (line.find(part) != std::string::npos) return true;
    }
    return false;
  }
};

// ---- exit codes --------------------------------------------------------------

TEST_F(UnattendedTest, ExitCodesTellWhatHappened) {
  struct Case {
    const char* what;
    const char* switches;
    std::function<void(e2e::Scenario*)> prepare;
    int64_t installed_level;  // -1: no level value
    std::vector<CommandSpec> commands;
    bool hold;
    int64_t exit_code;
    bool applied;  // new.txt written
    uint32_t level_after;  // 0: none written
  };
  const std::string missing_package = e2e::quoted(e2e::wine_path(work_path("none.krv")));
  const std::string garbage = work_path("garbage.krv");
  ASSERT_TRUE(e2e::write_file(garbage, std::string("not a package at all")));
  const Case cases[] = {
      {"applied", "/quiet", nullptr, 3, {tool_run("ok")}, false, 0, true, 8},
      {"package missing", "/quiet",
       [&](e2e::Scenario* s) { s->command_line = e2e::quoted(e2e::wine_path(e2e::patch_exe())) + " " + missing_package; },
       3, {}, false, 1, false, 0},
      {"not a package", "/quiet",
       [&](e2e::Scenario* s) {
         s->command_line = e2e::quoted(e2e::wine_path(e2e::patch_exe())) + " " +
                           e2e::quoted(e2e::wine_path(garbage));
       },
       3, {}, false, 1, false, 0},
      {"installation not registered", "/quiet",
       [&](e2e::Scenario* s) { e2e::reg_delete_key(s, key_); }, 3, {}, false, 2, false, 0},
      {"same level installed", "/quiet", nullptr, 8, {}, false, 3, false, 0},
      {"newer level installed", "/passive", nullptr, 9, {}, false, 3, false, 0},
      {"same level, forced", "/quiet /force", nullptr, 8, {}, false, 0, true, 8},
      {"a file held open", "/quiet", nullptr, 3, {}, true, 4, true, 0},
      {"a command failed", "/quiet", nullptr, 3, {tool_run("marker")}, false, 5, true, 0},
      {"a file and a command failed", "/passive", nullptr, 3, {tool_run("marker")}, true, 4,
       true, 0},
      {"failures without /quiet or /passive", "/force", nullptr, 3, {tool_run("marker")}, true,
       0, true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    remove(app("new.txt").c_str());
    e2e::Scenario s = apply(package(8, c.commands), c.installed_level >= 0, c.installed_level);
    if (c.prepare) c.prepare(&s);
    add_switches(&s, c.switches);
    if (c.hold) s.hold_files = {app("held.txt")};
    const bool attended = std::string(c.switches).find("/quiet") == std::string::npos &&
                          std::string(c.switches).find("/passive") == std::string::npos;
    if (attended) s.answers = {"ok", "ok"};
    s.expected_end = attended ? e2e::End::kWaitsForOk : e2e::End::kClosesByItself;
    e2e::RunResult r = e2e::run_patch(s);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.exit_code, c.exit_code) << e2e::describe(r);
    EXPECT_FALSE(r.timed_out);
    if (std::string(c.switches).find("/quiet") != std::string::npos) expect_nothing_shown(r);
    if (!attended) {
      EXPECT_TRUE(r.boxes.empty()) << e2e::describe(r);
      EXPECT_FALSE(r.waited_for_ok) << "an unattended run never waits for OK";
    }
    EXPECT_EQ(exists("new.txt"), c.applied);
    if (c.level_after != 0) {
      ASSERT_TRUE(r.reads[0].found);
      EXPECT_EQ(r.reads[0].data, e2e::dword_bytes(c.level_after));
    } else if (c.installed_level >= 0 && !r.reads.empty() && r.reads[0].found) {
      EXPECT_EQ(r.reads[0].data, e2e::dword_bytes(static_cast<uint32_t>(c.installed_level)))
          << "level unchanged";
    }
  }
}

// ---- windows that appear ----------------------------------------------------

// A run through window_watch.exe, which records every top-level window the
// program creates or shows, however briefly.
struct WatchedRun {
  e2e::RunResult run;
  bool hooked = false;
  std::set<std::string> shown;  // "CLASS|CAPTION" of each window made visible
  int64_t exit_code = -1;
};

class WatchedTest : public UnattendedTest {
 protected:
  static std::string watch_exe() {
    return e2e::windows_build_dir() + "/tests/e2e/window_watch.exe";
  }

  WatchedRun run_watched(e2e::Scenario s) {
    WatchedRun w;
    const std::string report = work_path("watch.txt");
    remove(report.c_str());
    const std::string program_line = s.command_line;
    s.exe = watch_exe();
    s.command_line = e2e::quoted(e2e::wine_path(s.exe)) + " " +
                     e2e::quoted(e2e::wine_path(report)) + " " + program_line;
    w.run = e2e::run_patch(s);
    EXPECT_TRUE(w.run.ok) << w.run.error;
    std::string bytes;
    EXPECT_TRUE(e2e::read_file(report, &bytes)) << e2e::describe(w.run);
    std::istringstream in(bytes);
    for (std::string line; std::getline(in, line);) {
      if (line == "hook=1") w.hooked = true;
      if (line.rfind("exit_code=", 0) == 0) w.exit_code = std::stoll(line.substr(10));
      // The hook and the polling may both see the same window.
      if (line.rfind("shown ", 0) == 0) w.shown.insert(line.substr(6));
      if (line.rfind("visible ", 0) == 0) w.shown.insert(line.substr(8));
    }
    return w;
  }

  static std::string list(const std::set<std::string>& windows) {
    std::string out;
    for (const std::string& w : windows) out += "  " + w + "\n";
    return out;
  }
};

TEST_F(WatchedTest, QuietShowsNoWindowNotEvenForAMoment) {
  ASSERT_TRUE(e2e::file_exists(watch_exe())) << watch_exe();
  const std::string package_path = work_path("update.krv");
  ASSERT_TRUE(e2e::write_file(package_path, package(8, {tool_run("marker")})));
  const std::string named = e2e::quoted(e2e::wine_path(package_path));
  const std::string image = e2e::quoted(e2e::wine_path(work_path("image.exe")));

  // The watcher's own check: building an image shows the window for a
  // moment only, and it is seen.
  WatchedRun control = run_watched(e2e::patch_scenario({named, image, "MAKEEXE"}));
  ASSERT_TRUE(control.hooked);
  ASSERT_EQ(control.shown.count("#32770|Korvinda updater"), 1u)
      << "the watcher missed a brief window:\n" << list(control.shown);

  const struct {
    const char* what;
    std::string arguments;
    int64_t installed_level;
    int64_t exit_code;
  } cases[] = {
      // The startup box, then the box of the failed command.
      {"a run that would show two boxes", named + " /quiet", 3, 5},
      {"a run that would ask about the level", "/QUIET " + named, 8, 3},
      {"a run that would show the usage message",
       e2e::quoted(e2e::wine_path(work_path("none.krv"))) + " /quiet", 3, 1},
      {"building an image", "/quiet " + named + " " + image + " MAKEEXE", 3, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    remove(work_path("image.exe").c_str());
    e2e::Scenario s = e2e::patch_scenario({c.arguments});
    register_installation(&s);
    e2e::reg_set_dword(&s, key_, "PatchLevel", c.installed_level);
    WatchedRun w = run_watched(s);
    EXPECT_TRUE(w.hooked);
    EXPECT_TRUE(w.shown.empty()) << "windows shown:\n" << list(w.shown);
    EXPECT_EQ(w.exit_code, c.exit_code);
  }
  EXPECT_TRUE(e2e::file_exists(work_path("image.exe"))) << "MAKEEXE works with /quiet";
}

TEST_F(WatchedTest, PassiveShowsTheWindowButNoBoxAndClosesByItself) {
  // The startup box and the failed command's box are both taken for OK.
  e2e::Scenario s = apply(package(8, {tool_run("marker")}), true, 3);
  add_switches(&s, "/passive");
  s.expected_end = e2e::End::kClosesByItself;
  e2e::RunResult r = e2e::run_patch(s);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_TRUE(r.first_seen) << e2e::describe(r);
  EXPECT_TRUE(r.boxes.empty()) << e2e::describe(r);
  EXPECT_TRUE(r.closed_by_itself) << e2e::describe(r);
  EXPECT_EQ(r.exit_code, 5);
  EXPECT_EQ(content("new.txt"), "new");

  remove(app("new.txt").c_str());
  e2e::Scenario watched = apply(package(8, {tool_run("ok")}), true, 3);
  add_switches(&watched, "/passive");
  WatchedRun w = run_watched(watched);
  EXPECT_EQ(w.shown, std::set<std::string>{"#32770|Korvinda updater"})
      << "the progress window, and nothing else:\n" << list(w.shown);
  EXPECT_EQ(w.exit_code, 0);
  EXPECT_EQ(content("new.txt"), "new");
}

// ---- the log ----------------------------------------------------------------

TEST_F(UnattendedTest, LogOfAFailedFileNamesTheFileAndTheWindowsError) {
  e2e::Scenario s = apply(package(8, {tool_run("ok")}), true, 3);
  s.hold_files = {app("held.txt")};
  // The log's folder does not exist yet.
  add_switches(&s, "/quiet /log " + e2e::quoted(e2e::wine_path(log_path())));
  e2e::RunResult r = e2e::run_patch(s);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.exit_code, 4);
  EXPECT_EQ(content("held.txt"), "held content");

  const std::vector<std::string> lines = log_lines();
  ASSERT_GE(lines.size(), 2u) << "no log at " << log_path();
  const std::regex stamped(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}  \S.*\r)");
  for (const std::string& line : lines) EXPECT_TRUE(std::regex_match(line, stamped)) << line;
  std::string all;
  for (const std::string& line : lines) all += line + "\n";
  const std::string held = install_dir() + "held.txt";
  EXPECT_TRUE(has_line(lines, "/quiet")) << "the command line\n" << all;
  EXPECT_TRUE(has_line(lines, "file failed: " + held + "; error 32")) << all;
  // The held file could not even be moved aside, so nothing was restored.
  EXPECT_FALSE(has_line(lines, "file restored: " + held)) << all;
  EXPECT_TRUE(has_line(lines, "file written: " + install_dir() + "new.txt")) << all;
  EXPECT_TRUE(has_line(lines, "tool.exe")) << "the command\n" << all;
  EXPECT_TRUE(has_line(lines, "command ended: " + install_dir() + "tool.exe; exit code 0")) << all;
  EXPECT_TRUE(has_line(lines, "no failure marker: ")) << all;
  EXPECT_TRUE(has_line(lines, "OK (automatic)")) << "the startup box, answered\n" << all;
  EXPECT_NE(lines.front().find("start"), std::string::npos) << all;
  EXPECT_NE(lines.back().find("outcome"), std::string::npos) << all;
  EXPECT_NE(lines.back().find("exit code 4"), std::string::npos) << all;
}

TEST_F(UnattendedTest, LogIsAppendedAndTellsWhoAnswered) {
  const std::string log_switch = "/log " + e2e::quoted(e2e::wine_path(log_path()));
  e2e::Scenario first = apply(package(8), true, 3);
  add_switches(&first, log_switch);
  first.answers = {"ok"};
  e2e::RunResult r1 = e2e::run_patch(first);
  ASSERT_TRUE(r1.ok) << r1.error;
  EXPECT_EQ(r1.exit_code, 0);
  EXPECT_TRUE(r1.waited_for_ok);

  // Now the same level is installed: a quiet run declines.
  e2e::Scenario second = apply(package(8), true, 8);
  add_switches(&second, "/quiet " + log_switch);
  e2e::RunResult r2 = e2e::run_patch(second);
  ASSERT_TRUE(r2.ok) << r2.error;
  EXPECT_EQ(r2.exit_code, 3);

  const std::vector<std::string> lines = log_lines();
  std::string all;
  size_t starts = 0;
  for (const std::string& line : lines) {
    all += line + "\n";
    if (line.find("  start: ") != std::string::npos) ++starts;
  }
  EXPECT_EQ(starts, 2u) << all;
  EXPECT_TRUE(has_line(lines, "OK (the user)")) << all;
  EXPECT_TRUE(has_line(lines, "Cancel (automatic)")) << all;
  EXPECT_TRUE(has_line(lines, "level written: 8")) << all;
  EXPECT_TRUE(has_line(lines, "exit code 3")) << all;
}

TEST_F(UnattendedTest, ALogThatCannotBeWrittenNeverStopsTheUpdate) {
  const std::string unwritable[] = {
      work_dir_,                 // a folder
      app("held.txt") + "/log",  // below a file
  };
  for (const std::string& path : unwritable) {
    SCOPED_TRACE(path);
    remove(app("new.txt").c_str());
    e2e::Scenario s = apply(package(8), true, 3);
    add_switches(&s, "/quiet /log " + e2e::quoted(e2e::wine_path(path)));
    e2e::RunResult r = e2e::run_patch(s);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(content("new.txt"), "new");
    ASSERT_TRUE(r.reads[0].found);
    EXPECT_EQ(r.reads[0].data, e2e::dword_bytes(8));
  }
}

// ---- the final text of a failed run -------------------------------------------

TEST_F(UnattendedTest, AFailedRunEndsOnItsFailureNotOnASuccessLine) {
  ASSERT_TRUE(e2e::write_file(app("blocker"), std::string("a file, not a folder")));
  ASSERT_TRUE(e2e::write_file(app("gone.txt"), std::string("listed for removal")));
  const std::string held = install_dir() + "held.txt";
  const std::string blocked = install_dir() + "blocker\\x.txt";
  const struct {
    const char* what;
    bool hold;
    bool blocked_file;
    bool failing_command;
    std::string final_text;
    size_t boxes;  // the startup box, and the commands' box when they failed
  } cases[] = {
      {"a failed file, then a good one", true, false, false, failed_line(held), 1},
      {"two failed files: the last one", true, true, false, failed_line(blocked), 1},
      {"only a command failed", false, false, true, text(kCommandsFailed), 2},
      {"a file and a command failed", true, false, true, failed_line(held), 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<PreparedEntry> entries = {
        registry_keys(8),
        compressed_entry(kStartupMsgName, build_startup_message("c", "t")),
        compressed_entry("held.txt", "replacement")};
    if (c.blocked_file) entries.push_back(compressed_entry("blocker\\x.txt", "x"));
    entries.push_back(compressed_entry("new.txt", "new"));
    entries.push_back(compressed_entry(
        kCommandsToExecuteName, build_commands({tool_run(c.failing_command ? "marker" : "ok")})));
    entries.push_back(compressed_entry(kFilesToRemoveName, build_string_list({"gone.txt"})));
    e2e::Scenario s = apply(package_of(entries), true, 3);
    if (c.hold) s.hold_files = {app("held.txt")};
    s.answers = {"ok", "ok"};
    s.expected_end = e2e::End::kWaitsForOk;
    e2e::RunResult r = e2e::run_patch(s);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.exit_code, 0) << "no switches: the exit code stays 0";
    EXPECT_TRUE(r.waited_for_ok) << e2e::describe(r);
    EXPECT_EQ(r.final_state.status, c.final_text) << e2e::describe(r);
    EXPECT_EQ(r.boxes.size(), c.boxes) << e2e::describe(r);
    EXPECT_EQ(content("new.txt"), "new");
    EXPECT_FALSE(exists("gone.txt")) << "removal still runs";
    EXPECT_EQ(r.reads[0].data, e2e::dword_bytes(3)) << "the level stays";
    ASSERT_TRUE(e2e::write_file(app("gone.txt"), std::string("again")));
  }
}

}  // namespace

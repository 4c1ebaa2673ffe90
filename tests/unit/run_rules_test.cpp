// The answers a run with switches gives by itself, its exit codes, and the
// words of its log.
#include <gtest/gtest.h>

#include <string>

#include <vector>

#include "log_texts.h"
#include "ruled_channel.h"
#include "run_rules.h"

namespace {

RunSwitches switches_of(bool quiet, bool passive, bool force) {
  RunSwitches s;
  s.quiet = quiet;
  s.passive = passive;
  s.force = force;
  return s;
}

TEST(RunRules, AutomaticAnswers) {
  const struct {
    const char* what;
    RunSwitches switches;
    AutoAnswer startup, level;
  } cases[] = {
      {"attended", switches_of(false, false, false), AutoAnswer::kAskTheUser,
       AutoAnswer::kAskTheUser},
      {"attended, /force", switches_of(false, false, true), AutoAnswer::kAskTheUser,
       AutoAnswer::kOk},
      {"/quiet", switches_of(true, false, false), AutoAnswer::kOk, AutoAnswer::kCancel},
      {"/quiet /force", switches_of(true, false, true), AutoAnswer::kOk, AutoAnswer::kOk},
      {"/passive", switches_of(false, true, false), AutoAnswer::kOk, AutoAnswer::kCancel},
      {"/passive /force", switches_of(false, true, true), AutoAnswer::kOk, AutoAnswer::kOk},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(automatic_answer(c.switches, Question::kStartupMessage), c.startup);
    EXPECT_EQ(automatic_answer(c.switches, Question::kPatchLevel), c.level);
  }
}

TEST(RunRules, ExitCodesOnlyForUnattendedRuns) {
  const struct {
    RunFailure failure;
    int code;
  } cases[] = {
      {RunFailure::kNone, 0},
      {RunFailure::kBadCommandLine, 1},
      {RunFailure::kPackageRefused, 1},
      {RunFailure::kOutOfMemory, 1},
      {RunFailure::kInstallationNotFound, 2},
      {RunFailure::kDeclinedByUser, 3},
      {RunFailure::kFilesFailed, 4},
      {RunFailure::kCommandsFailed, 5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.failure));
    RunOutcome outcome;
    outcome.failure = c.failure;
    outcome.any_failure = c.failure != RunFailure::kNone;
    EXPECT_EQ(exit_code_of(outcome, switches_of(true, false, false)), c.code);
    EXPECT_EQ(exit_code_of(outcome, switches_of(false, true, false)), c.code);
    EXPECT_EQ(exit_code_of(outcome, switches_of(false, false, true)), 0);
    EXPECT_EQ(exit_code_of(outcome, switches_of(false, false, false)), 0);
  }
}

TEST(LogTexts, EventsNameWhatTheyConcern) {
  const struct {
    RunEvent event;
    const wchar_t* message;
    std::wstring text;
  } cases[] = {
      {{RunEventKind::kInstallationFound, L"C:\\App\\", 3, 0}, L"",
       L"installation found: C:\\App\\; installed level 3"},
      {{RunEventKind::kFileFailed, L"C:\\App\\a.dll", 0, 32}, L"The file is in use",
       L"file failed: C:\\App\\a.dll; error 32: The file is in use"},
      {{RunEventKind::kFileFailed, L"C:\\App\\b.dll", 0, 5}, L"",
       L"file failed: C:\\App\\b.dll; error 5"},
      {{RunEventKind::kCommandExited, L"C:\\App\\t.exe", -1, 0}, L"",
       L"command ended: C:\\App\\t.exe; exit code -1"},
      {{RunEventKind::kLevelWritten, L"", 9, 0}, L"", L"level written: 9"},
      {{RunEventKind::kLevelNotWritten, L"", 0, 2}, L"x", L"level not written; error 2: x"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(event_log_text(c.event, c.message), c.text);
  }
  RunEvent outcome{RunEventKind::kOutcome, L"", 0, 0};
  EXPECT_EQ(event_log_text(outcome, L""), L"") << "the front end writes the outcome itself";
}

TEST(LogTexts, BoxesTellWhoAnswered) {
  EXPECT_EQ(question_log_text(L"!", L"Go on?", false, true),
            L"box \"!\": Go on? -> Cancel (automatic)");
  EXPECT_EQ(question_log_text(L"Update", L"Apply?", true, false),
            L"box \"Update\": Apply? -> OK (the user)");
  RunOutcome failed;
  failed.failure = RunFailure::kFilesFailed;
  EXPECT_EQ(outcome_log_text(failed, 4),
            L"outcome: applied, but files could not be written; exit code 4");
}

TEST(LogTexts, ThePackageTheArgumentsName) {
  EXPECT_EQ(package_log_text({L"C:\\u.exe"}), L"package: appended to C:\\u.exe");
  EXPECT_EQ(package_log_text({L"PATCH.EXE", L"a.krv"}), L"package: a.krv");
  EXPECT_EQ(package_log_text({L"PATCH.EXE", L"a.krv", L"ignored"}), L"package: a.krv");
  EXPECT_EQ(package_log_text({L"PATCH.EXE", L"a.krv", L"o.exe", L"MAKEEXE"}),
            L"building an image: o.exe");
  EXPECT_EQ(package_log_text({L"PATCH.EXE", L"a.krv", L"o.exe", L"makeexe"}),
            L"package: none (the command line is not understood)");
  EXPECT_EQ(package_log_text({}), L"package: none named");
}

// A display behind the ruled channel that records what reaches it.
struct RecordingDisplay : UserChannel {
  void show_status(std::wstring_view text) override { statuses.emplace_back(text); }
  bool ask(Question question, std::wstring_view, std::wstring_view) override {
    asked.push_back(question);
    return answer;
  }
  void show_commands_failed(std::wstring_view, std::wstring_view) override { ++command_boxes; }
  void report(const RunEvent&) override { ++events; }
  bool wait_until_present() override { return present; }

  bool answer = true;
  bool present = true;
  std::vector<std::wstring> statuses;
  std::vector<Question> asked;
  int command_boxes = 0;
  int events = 0;
};

// What the engine sees through the channel, and what reaches the display.
struct Seen {
  bool startup_ok, level_ok;
  std::vector<Question> asked;
  size_t statuses;
  int command_boxes;
};

Seen drive(UserChannel* display_or_null, RecordingDisplay* display, const RunSwitches& switches) {
  RuledChannel channel(display_or_null, switches);
  channel.show_status(L"status");
  Seen seen;
  seen.startup_ok = channel.ask(Question::kStartupMessage, L"c", L"t");
  seen.level_ok = channel.ask(Question::kPatchLevel, L"!", L"again?");
  channel.show_commands_failed(L"!", L"failed");
  channel.report(RunEvent{RunEventKind::kFileWritten, L"x", 0, 0});
  seen.asked = display->asked;
  seen.statuses = display->statuses.size();
  seen.command_boxes = display->command_boxes;
  return seen;
}

TEST(RuledChannel, ShowsAndAsksOnlyWhatTheSwitchesLeave) {
  const struct {
    const char* what;
    RunSwitches switches;
    bool with_display;
    bool user_answer;
    bool startup_ok, level_ok;
    std::vector<Question> asked;
    size_t statuses;
    int command_boxes;
  } cases[] = {
      {"attended: everything reaches the window", switches_of(false, false, false), true, false,
       false, false, {Question::kStartupMessage, Question::kPatchLevel}, 1, 1},
      {"attended with /force: the level is not asked", switches_of(false, false, true), true,
       true, true, true, {Question::kStartupMessage}, 1, 1},
      {"/passive: status only", switches_of(false, true, false), true, false, true, false, {}, 1,
       0},
      {"/quiet: nothing at all", switches_of(true, false, false), false, false, true, false, {},
       0, 0},
      {"/quiet /force", switches_of(true, false, true), false, false, true, true, {}, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    RecordingDisplay display;
    display.answer = c.user_answer;
    Seen seen = drive(c.with_display ? &display : nullptr, &display, c.switches);
    EXPECT_EQ(seen.startup_ok, c.startup_ok);
    EXPECT_EQ(seen.level_ok, c.level_ok);
    EXPECT_EQ(seen.asked, c.asked);
    EXPECT_EQ(seen.statuses, c.statuses);
    EXPECT_EQ(seen.command_boxes, c.command_boxes);
  }
}

// Without its window only an unattended run goes on.
TEST(RuledChannel, GoesOnWithoutItsWindowOnlyUnattended) {
  const struct {
    const char* what;
    RunSwitches switches;
    bool with_display, window_made, goes_on;
  } cases[] = {
      {"attended, window made", switches_of(false, false, false), true, true, true},
      {"attended, no window", switches_of(false, false, false), true, false, false},
      {"attended /force, no window", switches_of(false, false, true), true, false, false},
      {"/passive, no window", switches_of(false, true, false), true, false, true},
      {"/quiet: never a window", switches_of(true, false, false), false, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    RecordingDisplay display;
    display.present = c.window_made;
    RuledChannel channel(c.with_display ? &display : nullptr, c.switches);
    EXPECT_EQ(channel.wait_until_present(), c.goes_on);
  }
}

}  // namespace

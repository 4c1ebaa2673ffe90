// The answers a run with switches gives by itself, its exit codes, and the
// words of its log.
#include <gtest/gtest.h>

#include <string>

#include "log_texts.h"
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
  EXPECT_EQ(package_log_text({L"PATCH.EXE", L"PATCH.EXE", L"a.krv", L"o.exe", L"MAKEEXE"}),
            L"building an image: o.exe");
  EXPECT_EQ(package_log_text({L"PATCH.EXE", L"PATCH.EXE", L"a.krv", L"o.exe", L"makeexe"}),
            L"package: none (the command line is not understood)");
  EXPECT_EQ(package_log_text({}), L"package: none named");
}

}  // namespace

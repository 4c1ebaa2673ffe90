// The switches of an unattended run: what is recognised, what is left for
// the mode selection, and what each switch asks for.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run_switches.h"

namespace {

struct Case {
  const char* what;
  std::vector<std::wstring> arguments;
  std::vector<std::wstring> left;  // what the mode selection sees
  bool quiet, passive, force;
  std::wstring log_path;
};

TEST(RunSwitches, RecognisedAnywhereAndRemoved) {
  const Case cases[] = {
      {"no switches", {L"PATCH.EXE", L"pkg.krv"}, {L"PATCH.EXE", L"pkg.krv"}, false, false,
       false, L""},
      {"after the package", {L"PATCH.EXE", L"pkg.krv", L"/quiet"}, {L"PATCH.EXE", L"pkg.krv"},
       true, false, false, L""},
      {"before the package", {L"PATCH.EXE", L"/passive", L"pkg.krv"},
       {L"PATCH.EXE", L"pkg.krv"}, false, true, false, L""},
      {"alone: the appended package", {L"update.exe", L"/quiet"}, {L"update.exe"}, true, false,
       false, L""},
      {"any case", {L"update.exe", L"/QUIET", L"/Force", L"/PaSsIvE"}, {L"update.exe"}, true,
       true, true, L""},
      {"log takes the next argument", {L"update.exe", L"/quiet", L"/log", L"C:\\logs\\u.txt"},
       {L"update.exe"}, true, false, false, L"C:\\logs\\u.txt"},
      {"log path may look like a package", {L"PATCH.EXE", L"/LOG", L"pkg.krv", L"other.krv"},
       {L"PATCH.EXE", L"other.krv"}, false, false, false, L"pkg.krv"},
      {"a switch after /log is no path", {L"update.exe", L"/log", L"/quiet"}, {L"update.exe"},
       true, false, false, L""},
      {"/log last asks for no log", {L"update.exe", L"/log"}, {L"update.exe"}, false, false,
       false, L""},
      {"the later /log wins", {L"u.exe", L"/log", L"a.txt", L"/log", L"b.txt"}, {L"u.exe"},
       false, false, false, L"b.txt"},
      {"whole arguments only", {L"u.exe", L"/quieter", L"x/quiet", L"quiet", L"/q", L"-quiet"},
       {L"u.exe", L"/quieter", L"x/quiet", L"quiet", L"/q", L"-quiet"}, false, false, false,
       L""},
      {"the program's name is never a switch", {L"/quiet", L"pkg.krv"},
       {L"/quiet", L"pkg.krv"}, false, false, false, L""},
      {"MAKEEXE arguments keep their places",
       {L"PATCH.EXE", L"/quiet", L"pkg.krv", L"out.exe", L"MAKEEXE"},
       {L"PATCH.EXE", L"pkg.krv", L"out.exe", L"MAKEEXE"}, true, false, false,
       L""},
      // U+0130 (capital I with dot) lower-cases to 'i' in some libraries.
      {"only ASCII letters fold", {L"u.exe", L"/QU\u0130ET", L"/FORCE"}, {L"u.exe", L"/QU\u0130ET"},
       false, false, true, L""},
      {"no arguments at all", {}, {}, false, false, false, L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::wstring> arguments = c.arguments;
    RunSwitches switches = take_run_switches(&arguments);
    EXPECT_EQ(arguments, c.left);
    EXPECT_EQ(switches.quiet, c.quiet);
    EXPECT_EQ(switches.passive, c.passive);
    EXPECT_EQ(switches.force, c.force);
    EXPECT_EQ(switches.log_path, c.log_path);
  }
}

TEST(RunSwitches, UnattendedMeansQuietOrPassive) {
  RunSwitches none;
  EXPECT_FALSE(none.unattended());
  RunSwitches forced_and_logged;
  forced_and_logged.force = true;
  forced_and_logged.log_path = L"log.txt";
  EXPECT_FALSE(forced_and_logged.unattended());
  RunSwitches quiet;
  quiet.quiet = true;
  EXPECT_TRUE(quiet.unattended());
  RunSwitches passive;
  passive.passive = true;
  EXPECT_TRUE(passive.unattended());
}

}  // namespace

// End-to-end harness: runs the real PATCH.EXE under Wine on a virtual display
// and reports what a person would have seen. The running itself is
// tools/wine_run (shared with the demo); this adds GoogleTest: a run that
// does not end as the test states fails the test with everything it saw.
//
// Usage (link krv_e2e_main, which starts one Wine session per test binary):
//
//   #include "harness.h"
//
//   TEST_F(E2eTest, UpdatesFromNamedPackage) {          // E2eTest: work dir
//     std::string pkg = work_path("update.krv");      // native path
//     e2e::write_file(pkg, bytes_from_package_writer);
//     e2e::Scenario s = e2e::patch_scenario({e2e::wine_path(pkg)});
//     e2e::reg_delete_key(&s, "SOFTWARE\\Korvinda");  // 32-bit view of HKLM
//     e2e::reg_set_sz(&s, "SOFTWARE\\Korvinda", "Path", e2e::wine_path(dir) + "\\");
//     e2e::reg_set_dword(&s, "SOFTWARE\\Korvinda", "Level", 3);
//     e2e::reg_read(&s, "SOFTWARE\\Korvinda", "Level");
//     s.answers = {"ok"};                              // message boxes, in order
//     s.expected_end = e2e::End::kWaitsForOk;          // or kClosesByItself
//     e2e::RunResult r = e2e::run_patch(s);            // fails the test, with all it
//                                                      // saw, if the run ends otherwise
//     ASSERT_TRUE(r.ok) << r.error;                    // driver ran, PATCH.EXE started
//     EXPECT_EQ(r.exit_code, 0);
//     EXPECT_EQ(r.final_state.status, e2e::cp1251("Обновление успешно установлено!\r\n"));
//     EXPECT_EQ(r.boxes.size(), 1u);                   // caption, text, icon, buttons
//     EXPECT_EQ(r.reads[0].data, e2e::dword_bytes(4));
//   }
//
// Texts compared with the program's are Windows-1251 bytes: e2e::cp1251()
// converts a UTF-8 literal. See tools/wine_run/wine_run.h for the rest.
// KRV_E2E_TRACE=1 prints every run's account, passing runs too.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "wine_run.h"

namespace e2e {

using wine_run::describe;
using wine_run::driver_exe;
using wine_run::dword_bytes;
using wine_run::End;
using wine_run::ended_as_expected;
using wine_run::file_exists;
using wine_run::MessageBoxSeen;
using wine_run::patch_exe;
using wine_run::patch_scenario;
using wine_run::quoted;
using wine_run::read_file;
using wine_run::reg_create;
using wine_run::reg_delete_key;
using wine_run::reg_delete_value;
using wine_run::reg_read;
using wine_run::reg_set_binary;
using wine_run::reg_set_dword;
using wine_run::reg_set_expand_sz;
using wine_run::reg_set_sz;
using wine_run::RegistryRead;
using wine_run::RegistryStep;
using wine_run::RegistryValue;
using wine_run::RunResult;
using wine_run::Scenario;
using wine_run::start_session;
using wine_run::stop_session;
using wine_run::windows_build_dir;
using wine_run::WindowSnapshot;
using wine_run::write_file;

std::string fake_tool_exe();  // the stand-in for programs an update runs
std::string artifacts_dir();  // kept after the tests: screenshots

// "/tmp/a b/c" -> "Z:\tmp\a b\c", in Windows-1251 bytes; a test fails if the
// path cannot be converted.
std::string wine_path(const std::string& native_path);
// UTF-8 -> Windows-1251 bytes; a test fails if the text cannot be converted.
std::string cp1251(const std::string& utf8);

// Runs the scenario; the test fails, with the whole account of the run, when
// the driver did not run, a deadline passed or the run ended otherwise than
// Scenario::expected_end states.
RunResult run_patch(const Scenario& scenario);

// Gives each test a fresh native work folder, removed when the test passed.
class E2eTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  std::string work_path(const std::string& name) const;  // inside the work folder
  std::string work_dir_;
};

}  // namespace e2e

using e2e::E2eTest;

// GoogleTest on top of wine_run: checked runs, test-only programs and the
// work folder of each test.
#include "harness.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "cp1251.h"

namespace e2e {

std::string fake_tool_exe() { return windows_build_dir() + "/tests/e2e/fake_tool.exe"; }
std::string artifacts_dir() { return wine_run::state_dir() + "/artifacts"; }

std::string wine_path(const std::string& native_path) {
  std::string path = wine_run::wine_path(native_path);
  if (path.empty()) ADD_FAILURE() << "not a Windows-1251 path: " << native_path;
  return path;
}

std::string cp1251(const std::string& utf8) {
  std::string out, error;
  if (!utf8_to_cp1251(utf8, &out, &error)) {
    ADD_FAILURE() << "not Windows-1251 text: " << error;
  }
  return out;
}

RunResult run_patch(const Scenario& scenario) {
  RunResult result = wine_run::run(scenario);
  const char* trace = getenv("KRV_E2E_TRACE");
  if (trace != nullptr && *trace == '1') fprintf(stderr, "%s\n", describe(result).c_str());
  if (!result.ok || result.timed_out || !ended_as_expected(result)) {
    ADD_FAILURE() << "the run did not end as expected\n" << describe(result);
  }
  return result;
}

void E2eTest::SetUp() {
  mkdir(artifacts_dir().c_str(), 0755);
  char pattern[] = "/tmp/krv-e2e-XXXXXX";
  char* dir = mkdtemp(pattern);
  ASSERT_NE(dir, nullptr) << "cannot create a work folder";
  work_dir_ = dir;
}

void E2eTest::TearDown() {
  if (work_dir_.empty()) return;
  if (HasFailure()) {
    fprintf(stderr, "work folder kept: %s\n", work_dir_.c_str());
    return;
  }
  std::error_code error;
  std::filesystem::remove_all(work_dir_, error);
  if (error) fprintf(stderr, "cannot remove %s: %s\n", work_dir_.c_str(), error.message().c_str());
}

std::string E2eTest::work_path(const std::string& name) const { return work_dir_ + "/" + name; }

}  // namespace e2e

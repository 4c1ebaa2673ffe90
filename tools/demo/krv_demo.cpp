// The demo update, end to end: a sample installed application in a private
// Wine prefix, an update package made with krvpack from two versions of the
// application, a self-contained image made by PATCH.EXE with MAKEEXE, and the
// image started as a user would, its startup message answered with OK.
// Prints what the user saw, what changed in the installation folder and the
// new patch level; keeps a screenshot of the final window.
//
//   krv_demo DEMO_SOURCE OUTPUT_DIR KRVPACK
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "cp1251.h"
#include "wine_run.h"

namespace fs = std::filesystem;

namespace {

const char kKey[] = "SOFTWARE\\Korvinda Demo\\Notes";

std::string register_exe() { return wine_run::windows_build_dir() + "/demo/register.exe"; }

std::string cp1251(const std::string& utf8) {
  std::string bytes, error;
  utf8_to_cp1251(utf8, &bytes, &error);
  return bytes;
}

bool run_tool(const std::vector<std::string>& arguments) {
  std::string shown;
  for (const std::string& a : arguments) shown += (shown.empty() ? "" : " ") + a;
  printf("$ %s\n", shown.c_str());
  fflush(stdout);
  pid_t child = fork();
  if (child == 0) {
    std::vector<char*> argv;
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Relative path -> content for every file below `root`; folders end in "/".
std::map<std::string, std::string> snapshot(const fs::path& root) {
  std::map<std::string, std::string> files;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    std::string relative = fs::relative(item.path(), root).string();
    if (item.is_directory()) {
      files[relative + "/"] = "";
      continue;
    }
    std::string bytes;
    wine_run::read_file(item.path().string(), &bytes);
    files[relative] = bytes;
  }
  return files;
}

void print_changes(const std::map<std::string, std::string>& before,
                   const std::map<std::string, std::string>& after) {
  printf("\nChanges in the installation folder:\n");
  for (const auto& [path, bytes] : after) {
    auto old = before.find(path);
    bool folder = path.back() == '/';
    if (old == before.end() && folder) printf("  added    %s\n", path.c_str());
    else if (old == before.end()) printf("  added    %s (%zu bytes)\n", path.c_str(), bytes.size());
    else if (old->second != bytes) printf("  changed  %s (%zu bytes)\n", path.c_str(), bytes.size());
  }
  for (const auto& [path, bytes] : before) {
    if (after.count(path) == 0) printf("  removed  %s\n", path.c_str());
  }
}

// The two versions of the application, the second with the registration
// program that the update runs.
bool prepare_trees(const fs::path& source, const fs::path& out) {
  std::error_code error;
  fs::remove_all(out, error);
  fs::create_directories(out / "v2" / "tools");
  fs::copy(source / "app-v1", out / "v1", fs::copy_options::recursive, error);
  if (error) return false;
  fs::copy(source / "app-v2", out / "v2", fs::copy_options::recursive, error);
  if (error) return false;
  fs::copy_file(register_exe(), out / "v2" / "tools" / "register.exe", error);
  if (error) return false;
  fs::copy(out / "v1", out / "app", fs::copy_options::recursive, error);
  return !error;
}

int run_demo(const fs::path& source, const fs::path& out, const std::string& krvpack) {
  if (!prepare_trees(source, out)) {
    fprintf(stderr, "krv_demo: cannot prepare %s\n", out.c_str());
    return 1;
  }
  const std::string package = (out / "update.krv").string();
  const std::string image = (out / "update.exe").string();
  if (!run_tool({krvpack, "diff", (out / "v1").string(), (out / "v2").string(), "--manifest",
                 (source / "manifest.toml").string(), "-o", package}) ||
      !run_tool({krvpack, "list", package})) {
    fprintf(stderr, "krv_demo: krvpack failed\n");
    return 1;
  }

  std::string error;
  if (!wine_run::start_session(&error)) {
    fprintf(stderr, "krv_demo: %s\n", error.c_str());
    return 1;
  }
  printf("\nPATCH.EXE %s %s MAKEEXE\n", wine_run::wine_path(package).c_str(),
         wine_run::wine_path(image).c_str());
  wine_run::Scenario make = wine_run::patch_scenario(
      {wine_run::quoted(wine_run::wine_path(package)), wine_run::quoted(wine_run::wine_path(image)),
       "MAKEEXE"});
  make.expected_end = wine_run::End::kClosesByItself;
  wine_run::RunResult made = wine_run::run(make);
  if (!made.ok || !wine_run::ended_as_expected(made) || !wine_run::file_exists(image)) {
    fprintf(stderr, "krv_demo: no image was made\n%s\n", wine_run::describe(made).c_str());
    wine_run::stop_session();
    return 1;
  }

  std::map<std::string, std::string> before = snapshot(out / "app");
  wine_run::Scenario s;
  s.exe = image;
  s.command_line = wine_run::quoted(wine_run::wine_path(image));
  wine_run::reg_delete_key(&s, kKey);
  wine_run::reg_set_sz(&s, kKey, "ProgramPath", wine_run::wine_path((out / "app").string()));
  wine_run::reg_set_sz(&s, kKey, "ProgramName", "notes.exe");
  wine_run::reg_set_dword(&s, kKey, "PatchLevel", 1);
  wine_run::reg_read(&s, kKey, "PatchLevel");
  s.answers = {"ok"};
  s.screenshot_png = (out / "final-window.png").string();
  s.expected_end = wine_run::End::kWaitsForOk;
  printf("\nStarting %s as a user would; installed patch level 1.\n", image.c_str());
  wine_run::RunResult r = wine_run::run(s);
  wine_run::stop_session();
  if (!r.ok || !wine_run::ended_as_expected(r)) {
    fprintf(stderr, "krv_demo: the image did not run\n%s\n", wine_run::describe(r).c_str());
    return 1;
  }

  for (const wine_run::MessageBoxSeen& box : r.boxes) {
    printf("\nMessage box \"%s\", answered %s:\n%s\n", cp1251_to_utf8(box.caption).c_str(),
           box.answer.c_str(), cp1251_to_utf8(box.text).c_str());
  }
  printf("\nFinal status line:\n%s\n", cp1251_to_utf8(r.final_state.status).c_str());
  printf("Button: \"%s\"%s; exit code %lld\n", r.final_state.button_text.c_str(),
         r.ended_after_ok ? ", pressed" : "", static_cast<long long>(r.exit_code));
  print_changes(before, snapshot(out / "app"));
  std::string calls;
  if (wine_run::read_file((out / "app" / "register.log").string(), &calls)) {
    printf("\nThe registration program recorded its command line and folder:\n%s",
           cp1251_to_utf8(calls).c_str());
  }
  if (!r.reads.empty() && r.reads[0].found && r.reads[0].data.size() == 4) {
    const std::string& d = r.reads[0].data;
    uint32_t level = static_cast<uint8_t>(d[0]) | static_cast<uint8_t>(d[1]) << 8 |
                     static_cast<uint8_t>(d[2]) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(d[3])) << 24;
    printf("\nPatch level in the registry (HKLM\\%s, PatchLevel): %u\n", kKey, level);
  }
  if (r.screenshot_saved) printf("Screenshot of the final window: %s\n", s.screenshot_png.c_str());
  bool installed = r.final_state.status == cp1251("Обновление успешно установлено!\r\n");
  return installed && r.exit_code == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: krv_demo DEMO_SOURCE OUTPUT_DIR KRVPACK\n");
    return 2;
  }
  return run_demo(fs::weakly_canonical(argv[1]), fs::weakly_canonical(argv[2]),
                  fs::weakly_canonical(argv[3]).string());
}

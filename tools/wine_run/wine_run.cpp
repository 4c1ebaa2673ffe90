// The Wine session of one program (a test binary or the demo) and the runs
// of driver.exe.
#include "wine_run.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "cp1251.h"
#include "driver_protocol.h"

extern char** environ;

namespace wine_run {
namespace {

struct Session {
  bool started = false;
  std::string error;
  pid_t xvfb = -1;
  std::string display;
  std::string prefix;
};

Session g_session;

// ---- processes ---------------------------------------------------------

struct ProcessResult {
  bool ran = false;
  int status = -1;
  bool timed_out = false;
  std::string out;
};

// Runs argv with the current environment, collecting stdout (and stderr
// too when merge_stderr); kills it after timeout_ms.
ProcessResult run_process(const std::vector<std::string>& argv, int timeout_ms,
                          bool merge_stderr) {
  ProcessResult result;
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) return result;
  pid_t pid = fork();
  if (pid < 0) {
    close(pipe_fds[0]);
    close(pipe_fds[1]);
    return result;
  }
  if (pid == 0) {
    setpgid(0, 0);
    dup2(pipe_fds[1], 1);
    int null_fd = open("/dev/null", O_RDWR);
    dup2(merge_stderr ? pipe_fds[1] : null_fd, 2);
    dup2(null_fd, 0);
    close(pipe_fds[0]);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(pipe_fds[1]);
  result.ran = true;
  // Wine's own background processes may inherit the pipe and hold it open
  // long after the program ended, so the end is the child's exit, not EOF.
  fcntl(pipe_fds[0], F_SETFL, fcntl(pipe_fds[0], F_GETFL) | O_NONBLOCK);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  char buffer[4096];
  bool exited = false;
  bool eof = false;
  while (!exited) {
    exited = waitpid(pid, &result.status, WNOHANG) == pid;
    if (!exited && std::chrono::steady_clock::now() > deadline) {
      result.timed_out = true;
      kill(-pid, SIGKILL);
      waitpid(pid, &result.status, 0);
      exited = true;
    }
    pollfd p{pipe_fds[0], POLLIN, 0};
    if (!exited && eof) usleep(20000);
    if (!exited && !eof) poll(&p, 1, 20);
    ssize_t n = 0;
    while ((n = read(pipe_fds[0], buffer, sizeof buffer)) > 0) {
      result.out.append(buffer, static_cast<size_t>(n));
    }
    if (n == 0) eof = true;
  }
  close(pipe_fds[0]);
  return result;
}

bool is_executable_file(const std::string& path) {
  struct stat st{};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool make_dirs(const std::string& path) {
  std::string partial;
  std::stringstream parts(path);
  std::string part;
  while (std::getline(parts, part, '/')) {
    partial += part + "/";
    if (part.empty()) continue;
    if (mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  return true;
}

void remove_tree(const std::string& path) {
  run_process({"rm", "-rf", "--", path}, 60000, false);
}

// ---- the session -----------------------------------------------------------

void set_wine_environment(const std::string& prefix) {
  setenv("WINEPREFIX", prefix.c_str(), 1);
  setenv("WINEARCH", "win64", 1);
  setenv("WINEDEBUG", "-all", 1);
  setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);
  // Code page 1251 for the program's texts.
  setenv("LANG", "ru_RU.UTF-8", 1);
  setenv("LC_ALL", "ru_RU.UTF-8", 1);
}

// Xvfb picks a free display itself and writes its number to the pipe.
bool start_xvfb(std::string* error) {
  int fds[2];
  if (pipe(fds) != 0) return false;
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    int null_fd = open("/dev/null", O_RDWR);
    dup2(null_fd, 0);
    dup2(null_fd, 1);
    dup2(null_fd, 2);
    std::string fd_text = std::to_string(fds[1]);
    execlp("Xvfb", "Xvfb", "-displayfd", fd_text.c_str(), "-screen", "0", "1024x768x24",
           "-nolisten", "tcp", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  if (pid < 0) {
    close(fds[0]);
    *error = "cannot fork for Xvfb";
    return false;
  }
  std::string number;
  pollfd p{fds[0], POLLIN, 0};
  char c = 0;
  while (poll(&p, 1, 60000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
  close(fds[0]);
  if (number.empty()) {
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    *error = "Xvfb did not start (is the xvfb package installed?)";
    return false;
  }
  g_session.xvfb = pid;
  g_session.display = ":" + number;
  setenv("DISPLAY", g_session.display.c_str(), 1);
  return true;
}

// Ends the prefix's wineserver and waits until it is gone: "-k" only signals
// it, and a server still on its way out when the next binary of the same
// prefix starts keeps "wineserver -p" from starting a new one, so the first
// program of that binary then fails to start at all.
void stop_wineserver() {
  run_process({"wineserver", "-k"}, 20000, false);
  run_process({"wineserver", "-w"}, 20000, false);
}

bool wine_ok(const std::vector<std::string>& argv, int timeout_ms, std::string* error) {
  ProcessResult r = run_process(argv, timeout_ms, true);
  if (r.ran && !r.timed_out && WIFEXITED(r.status) && WEXITSTATUS(r.status) == 0) return true;
  *error = "command failed: " + argv[0] + " " + (argv.size() > 1 ? argv[1] : "") + ": " + r.out;
  return false;
}

constexpr char kStampName[] = "/krv-prefix-ready";

// The prefix every test binary's own prefix is cloned from: made once per
// build folder (about ten seconds), under a lock, since ctest may start
// several binaries at once.
bool prepare_base_prefix(const std::string& base, std::string* error) {
  std::string root = base.substr(0, base.find_last_of('/'));
  if (!make_dirs(root)) {
    *error = "cannot create " + root;
    return false;
  }
  int lock = open((root + "/.base.lock").c_str(), O_CREAT | O_RDWR, 0644);
  if (lock < 0 || flock(lock, LOCK_EX) != 0) {
    if (lock >= 0) close(lock);
    *error = "cannot lock " + root;
    return false;
  }
  bool ok = file_exists(base + kStampName);
  if (!ok) {
    remove_tree(base);
    set_wine_environment(base);
    const char* kDriverKey = "HKCU\\Software\\Wine\\X11 Driver";
    const char* kDbgKey = "HKCU\\Software\\Wine\\WineDbg";
    ok = make_dirs(base) && wine_ok({"wineboot", "-i"}, 180000, error) &&
         wine_ok({"wine", "reg", "add", kDriverKey, "/v", "Managed", "/d", "N", "/f"}, 60000,
                 error) &&
         wine_ok({"wine", "reg", "add", kDbgKey, "/v", "ShowCrashDialog", "/t", "REG_DWORD",
                  "/d", "0", "/f"},
                 60000, error) &&
         // The registry reaches its files when the server ends.
         wine_ok({"wineserver", "-w"}, 60000, error) &&
         write_file(base + kStampName, std::string("ready\n"));
    if (!ok && error->empty()) *error = "cannot create the Wine prefix " + base;
  }
  flock(lock, LOCK_UN);
  close(lock);
  return ok;
}

// One private prefix per test binary under the build folder, reused once
// ready. It is a clone of the base prefix: the large DLL folders are hard
// links, every other file a copy of its own (Wine rewrites some in place).
bool prepare_prefix(std::string* error) {
  if (!file_exists(g_session.prefix + kStampName)) {
    std::string base = g_session.prefix.substr(0, g_session.prefix.find_last_of('/')) + "/.base";
    if (!prepare_base_prefix(base, error)) return false;
    std::string partial = g_session.prefix + ".partial";
    const char* kClone =
        "set -e; rm -rf \"$2\" \"$3\"; cp -al \"$1\" \"$2\"; cd \"$2\"; "
        "find . -type f ! -path './drive_c/windows/system32/*' "
        "! -path './drive_c/windows/syswow64/*' ! -path './drive_c/windows/winsxs/*' "
        "-exec sh -c 'for f; do cp -p \"$f\" \"$f.copy\" && mv -f \"$f.copy\" \"$f\"; done' "
        "sh {} +; cd /; mv \"$2\" \"$3\"";
    ProcessResult r =
        run_process({"sh", "-c", kClone, "sh", base, partial, g_session.prefix}, 300000, true);
    if (!r.ran || r.timed_out || !WIFEXITED(r.status) || WEXITSTATUS(r.status) != 0) {
      *error = "cannot clone the Wine prefix: " + r.out;
      return false;
    }
  }
  set_wine_environment(g_session.prefix);
  // One persistent wineserver for the whole binary: every run after the
  // first then starts in a fraction of a second.
  run_process({"wineserver", "-p"}, 20000, false);
  return true;
}

std::string test_binary_name() {
  char buffer[4096] = {};
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  std::string path = n > 0 ? std::string(buffer, static_cast<size_t>(n)) : "e2e";
  return path.substr(path.find_last_of('/') + 1);
}

// ---- driver output ---------------------------------------------------------

namespace key = driver_protocol::key;
using driver_protocol::hex;

std::string unhex(const std::string& text) {
  std::string bytes;
  if (!driver_protocol::unhex(text, &bytes)) return "<not hex: " + text + ">";
  return bytes;
}

void read_snapshot(const std::map<std::string, std::string>& kv, const std::string& prefix,
                   WindowSnapshot* s) {
  auto get = [&](const std::string& k) {
    auto it = kv.find(prefix + k);
    return it == kv.end() ? std::string() : it->second;
  };
  s->status = unhex(get(key::kStatus));
  s->status2 = unhex(get(key::kStatus2));
  s->button_visible = get(key::kButtonVisible) == "1";
  s->button_text = unhex(get(key::kButtonText));
}

void parse_output(const std::string& out, RunResult* r) {
  std::map<std::string, std::string> kv;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t eq = line.find('=');
    if (eq != std::string::npos) kv[line.substr(0, eq)] = line.substr(eq + 1);
  }
  auto has = [&](const std::string& k) { return kv.count(k) != 0; };
  auto flag = [&](const std::string& k) { return has(k) && kv[k] == "1"; };
  auto numbered = [](const char* prefix, int i) { return prefix + std::to_string(i) + "."; };
  r->ok = flag(key::kStarted) && !has(key::kError);
  if (has(key::kError)) r->error = "driver: " + kv[key::kError];
  if (has(key::kExitCode)) r->exit_code = std::stoll(kv[key::kExitCode]);
  r->timed_out = flag(key::kTimeout);
  r->waited_for = kv[key::kWaitedFor];
  r->terminated = flag(key::kTerminated);
  if (has(key::kOkPresses)) r->ok_presses = std::stoi(kv[key::kOkPresses]);
  r->waited_for_ok = flag(key::kWaitedForOk);
  r->closed_by_itself = flag(key::kClosedByItself);
  r->ended_after_ok = flag(key::kEndedAfterOk);
  r->first_seen = has(std::string(key::kFirst) + key::kStatus);
  read_snapshot(kv, key::kFirst, &r->first);
  read_snapshot(kv, key::kFinal, &r->final_state);
  for (int i = 0; has(numbered(key::kSeen, i) + key::kStatus); ++i) {
    WindowSnapshot s;
    read_snapshot(kv, numbered(key::kSeen, i), &s);
    r->seen.push_back(s);
  }
  for (int i = 0; has(numbered(key::kBox, i) + key::kCaption); ++i) {
    std::string p = numbered(key::kBox, i);
    MessageBoxSeen box;
    box.caption = unhex(kv[p + key::kCaption]);
    box.text = unhex(kv[p + key::kText]);
    box.icon = kv[p + key::kIcon];
    box.buttons = kv[p + key::kButtons];
    box.answer = kv[p + key::kAnswer];
    box.owned_by_window = flag(p + key::kOwnedByWindow);
    box.unexpected = flag(p + key::kUnexpected);
    box.closed = flag(p + key::kClosed);
    read_snapshot(kv, p + key::kMain, &box.window);
    r->boxes.push_back(box);
  }
  for (int i = 0; has(numbered(key::kStray, i) + key::kClass); ++i) {
    std::string p = numbered(key::kStray, i);
    r->strays.push_back(kv[p + key::kClass] + " \"" + cp1251_to_utf8(unhex(kv[p + key::kCaption])) +
                        "\" owner " + kv[p + key::kOwner]);
  }
  if (has(key::kWindowRect) && has(key::kScreen)) {
    r->has_geometry = sscanf(kv[key::kWindowRect].c_str(), "%d,%d,%d,%d", &r->left, &r->top,
                             &r->right, &r->bottom) == 4 &&
                      sscanf(kv[key::kScreen].c_str(), "%d,%d", &r->screen_width,
                             &r->screen_height) == 2;
  }
  for (const char* how : driver_protocol::kCloseMethods) {
    if (has(key::kClose + std::string(how))) r->close_attempts[how] = kv[key::kClose + std::string(how)];
  }
  r->screenshot_saved = flag(key::kScreenshot);
  for (int i = 0; has(numbered(key::kReg, i) + key::kFound); ++i) {
    std::string p = numbered(key::kReg, i);
    RegistryValue v;
    v.found = flag(p + key::kFound);
    if (v.found) {
      v.type = static_cast<uint32_t>(std::stoul(kv[p + key::kType]));
      v.data = unhex(kv[p + key::kData]);
    }
    r->reads.push_back(v);
  }
}

void add_reg_args(const Scenario& s, std::vector<std::string>* a) {
  a->insert(a->end(), {"--reg-view", s.registry_view == 64 ? "64" : "32"});
  for (const RegistryStep& step : s.registry_setup) {
    if (step.action == "create") a->insert(a->end(), {"--reg-create", hex(step.key)});
    if (step.action == "delete_key") a->insert(a->end(), {"--reg-delete-key", hex(step.key)});
    if (step.action == "delete_value") {
      a->insert(a->end(), {"--reg-delete-value", hex(step.key), hex(step.name)});
    }
    if (step.action == "set") {
      a->insert(a->end(),
                {"--reg-set", hex(step.key), hex(step.name), step.type, hex(step.data)});
    }
  }
  for (const RegistryRead& read : s.registry_reads) {
    a->insert(a->end(), {"--reg-read", hex(read.key), hex(read.name)});
  }
}

std::vector<std::string> driver_arguments(const Scenario& s, const std::string& bmp) {
  std::vector<std::string> a = {"wine", driver_exe()};
  add_reg_args(s, &a);
  for (const std::string& f : s.hold_files) a.insert(a.end(), {"--hold", hex(wine_path(f))});
  a.insert(a.end(), {"--exe", hex(wine_path(s.exe))});
  std::string command_line = s.command_line.empty() ? quoted(wine_path(s.exe)) : s.command_line;
  a.insert(a.end(), {"--command-line", hex(command_line)});
  if (!s.cwd.empty()) a.insert(a.end(), {"--cwd", hex(wine_path(s.cwd))});
  for (const std::string& answer : s.answers) a.insert(a.end(), {"--answer", answer});
  if (s.try_close) a.push_back("--try-close");
  for (const std::string& m : s.close_methods) a.insert(a.end(), {"--close-with", m});
  if (!s.press_ok) a.push_back("--no-ok");
  if (s.expected_end == End::kWaitsForOk) {
    a.insert(a.end(), {"--expect", driver_protocol::expect::kWaitsForOk});
  } else if (s.expected_end == End::kClosesByItself) {
    a.insert(a.end(), {"--expect", driver_protocol::expect::kClosesByItself});
  }
  if (!bmp.empty()) a.insert(a.end(), {"--screenshot", hex(wine_path(bmp))});
  a.insert(a.end(), {"--timeout", std::to_string(s.timeout_ms)});
  return a;
}

void add_step(Scenario* s, const std::string& action, const std::string& key,
              const std::string& name, const std::string& type, const std::string& data) {
  s->registry_setup.push_back({action, key, name, type, data});
}

}  // namespace

// ---- paths ---------------------------------------------------------------

std::string windows_build_dir() { return KRV_WINDOWS_BUILD_DIR; }
std::string patch_exe() { return windows_build_dir() + "/PATCH.EXE"; }
std::string driver_exe() { return windows_build_dir() + "/wine_run/driver.exe"; }
std::string state_dir() { return KRV_WINE_STATE_DIR; }

std::string wine_path(const std::string& native_path) {
  std::string path = native_path;
  if (path.empty() || path[0] != '/') {
    char cwd[4096] = {};
    if (getcwd(cwd, sizeof cwd) != nullptr) path = std::string(cwd) + "/" + path;
  }
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  std::string bytes, error;
  if (!utf8_to_cp1251("Z:" + path, &bytes, &error)) return "";
  return bytes;
}

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

// ---- scenarios ---------------------------------------------------------------

Scenario patch_scenario(const std::vector<std::string>& arguments) {
  Scenario s;
  s.exe = patch_exe();
  s.command_line = quoted(wine_path(s.exe));
  for (const std::string& a : arguments) s.command_line += " " + a;
  return s;
}

void reg_create(Scenario* s, const std::string& key) { add_step(s, "create", key, "", "", ""); }
void reg_delete_key(Scenario* s, const std::string& key) {
  add_step(s, "delete_key", key, "", "", "");
}
void reg_set_sz(Scenario* s, const std::string& key, const std::string& name,
                const std::string& value) {
  add_step(s, "create", key, "", "", "");
  add_step(s, "set", key, name, "sz", value);
}
void reg_set_expand_sz(Scenario* s, const std::string& key, const std::string& name,
                       const std::string& value) {
  add_step(s, "create", key, "", "", "");
  add_step(s, "set", key, name, "expand_sz", value);
}
void reg_set_dword(Scenario* s, const std::string& key, const std::string& name, int64_t value) {
  add_step(s, "create", key, "", "", "");
  add_step(s, "set", key, name, "dword", std::to_string(value));
}
void reg_set_binary(Scenario* s, const std::string& key, const std::string& name,
                    const std::string& bytes) {
  add_step(s, "create", key, "", "", "");
  add_step(s, "set", key, name, "binary", bytes);
}
void reg_delete_value(Scenario* s, const std::string& key, const std::string& name) {
  add_step(s, "delete_value", key, name, "", "");
}
void reg_read(Scenario* s, const std::string& key, const std::string& name) {
  s->registry_reads.push_back({key, name});
}

namespace {

std::string exit_text(int status) {
  return WIFEXITED(status) ? "exit code " + std::to_string(WEXITSTATUS(status))
                           : "signal " + std::to_string(WTERMSIG(status));
}

// Now and then, with two programs started at once under load, wine itself
// ends with exit code 1 before the driver's first line: then nothing of the
// scenario happened (no registry step, no program started), and the driver
// is started again. Each condition the driver awaits has its own deadline;
// the one here only guards against a driver that hangs itself.
ProcessResult run_driver(const std::vector<std::string>& arguments, int timeout_ms) {
  constexpr int kAttempts = 3;
  const std::string running = std::string(key::kDriverRunning) + "=1";
  ProcessResult p;
  for (int attempt = 1;; ++attempt) {
    // wine's own messages come along, for the note below; only the
    // driver's keys are looked up in what it printed.
    p = run_process(arguments, timeout_ms * 10 + 60000, true);
    bool driver_ran = p.out.find(running) != std::string::npos;
    if (driver_ran || !p.ran || p.timed_out || attempt == kAttempts) return p;
    fprintf(stderr, "wine_run: wine ended (%s) before driver.exe ran, saying \"%s\"; "
            "starting it again\n", exit_text(p.status).c_str(), p.out.c_str());
  }
}

}  // namespace

RunResult run(const Scenario& scenario) {
  RunResult result;
  std::string error;
  if (!start_session(&error)) {
    result.error = error;
    return result;
  }
  if (!is_executable_file(scenario.exe)) {
    result.error = "program to start is missing: " + scenario.exe;
    return result;
  }
  std::string bmp = scenario.screenshot_png.empty() ? "" : scenario.screenshot_png + ".bmp";
  ProcessResult p = run_driver(driver_arguments(scenario, bmp), scenario.timeout_ms);
  result.output = p.out;
  result.expected_end = scenario.expected_end;
  parse_output(p.out, &result);
  if (p.timed_out) result.error += " driver.exe did not end in time";
  if (!p.ran) result.error += " driver.exe could not be run";
  if (!result.ok && result.error.empty()) {
    result.error = "driver.exe did not start the program (wine: " + exit_text(p.status) + ")";
  }
  if (!bmp.empty() && result.screenshot_saved) {
    ProcessResult c = run_process({"convert", bmp, scenario.screenshot_png}, 60000, true);
    result.screenshot_saved = c.ran && WIFEXITED(c.status) && WEXITSTATUS(c.status) == 0;
    unlink(bmp.c_str());
  }
  return result;
}

bool ended_as_expected(const RunResult& r) {
  switch (r.expected_end) {
    case End::kWaitsForOk:
      return r.waited_for_ok && !r.closed_by_itself;
    case End::kClosesByItself:
      return r.closed_by_itself && !r.waited_for_ok;
    case End::kUnstated:
      break;
  }
  return true;
}

namespace {

const char* end_name(End end) {
  switch (end) {
    case End::kWaitsForOk:
      return "waits for OK";
    case End::kClosesByItself:
      return "closes by itself";
    case End::kUnstated:
      break;
  }
  return "not stated";
}

std::string shown(const std::string& cp1251_bytes) {
  std::string text = cp1251_to_utf8(cp1251_bytes), out;
  for (char c : text) {
    if (c == '\r') out += "\\r";
    else if (c == '\n') out += "\\n";
    else out += c;
  }
  return "\"" + out + "\"";
}

std::string shown(const WindowSnapshot& s) {
  return "status " + shown(s.status) + ", status2 " + shown(s.status2) + ", button " +
         (s.button_visible ? "visible " : "hidden ") + shown(s.button_text);
}

}  // namespace

std::string describe(const RunResult& r) {
  std::ostringstream out;
  out << "expected end: " << end_name(r.expected_end) << "; seen: "
      << (r.waited_for_ok ? "waited for OK" : r.closed_by_itself ? "closed by itself" : "neither")
      << (r.ended_after_ok ? ", ended after OK" : "") << "; exit code " << r.exit_code
      << (r.terminated ? " (ended by the driver)" : "") << "; OK pressed " << r.ok_presses
      << " times\n";
  if (!r.error.empty()) out << "error: " << r.error << "\n";
  if (r.timed_out) out << "timed out waiting for " << r.waited_for << "\n";
  out << "window states seen, in order:\n";
  for (size_t i = 0; i < r.seen.size(); ++i) out << "  [" << i << "] " << shown(r.seen[i]) << "\n";
  out << "final: " << shown(r.final_state) << "\n";
  for (size_t i = 0; i < r.boxes.size(); ++i) {
    const MessageBoxSeen& b = r.boxes[i];
    out << "box " << i << ": caption " << shown(b.caption) << ", text " << shown(b.text)
        << ", icon " << b.icon << ", buttons " << b.buttons << ", answered " << b.answer
        << (b.unexpected ? " (unexpected)" : "") << (b.owned_by_window ? "" : ", not owned")
        << (b.closed ? ", closed" : ", did not close") << "; window: " << shown(b.window)
        << "\n";
  }
  for (const std::string& stray : r.strays) out << "other window: " << stray << "\n";
  out << "driver output:\n" << r.output;
  return out.str();
}

// ---- files ---------------------------------------------------------------

bool write_file(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out.flush());
}

bool write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
  return write_file(path, std::string(bytes.begin(), bytes.end()));
}

bool read_file(const std::string& path, std::string* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream all;
  all << in.rdbuf();
  *bytes = all.str();
  return true;
}

bool file_exists(const std::string& path) {
  struct stat st{};
  return stat(path.c_str(), &st) == 0;
}

std::string dword_bytes(uint32_t value) {
  std::string b(4, '\0');
  for (int i = 0; i < 4; ++i) b[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  return b;
}

// ---- the session ---------------------------------------------------------

bool start_session(std::string* error) {
  if (g_session.started) return true;
  if (!g_session.error.empty()) {
    *error = g_session.error;
    return false;
  }
  for (const std::string& program : {patch_exe(), driver_exe()}) {
    if (!is_executable_file(program)) {
      g_session.error = program +
                        " is missing: build the Windows programs first (scripts/build.sh, "
                        "or set KRV_WINDOWS_BUILD_DIR to the Windows build folder)";
      *error = g_session.error;
      return false;
    }
  }
  g_session.prefix = std::string(KRV_WINE_STATE_DIR) + "/wine-prefix/" + test_binary_name();
  set_wine_environment(g_session.prefix);
  // A wineserver left over from an interrupted run of this binary.
  stop_wineserver();
  if (!start_xvfb(&g_session.error) || !prepare_prefix(&g_session.error)) {
    stop_session();
    *error = g_session.error.empty() ? "the Wine session did not start" : g_session.error;
    if (g_session.error.empty()) g_session.error = *error;
    return false;
  }
  g_session.started = true;
  return true;
}

void stop_session() {
  if (!g_session.prefix.empty()) stop_wineserver();
  if (g_session.xvfb > 0) {
    kill(g_session.xvfb, SIGTERM);
    waitpid(g_session.xvfb, nullptr, 0);
    g_session.xvfb = -1;
  }
  g_session.started = false;
}

}  // namespace wine_run

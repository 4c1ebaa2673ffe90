// Runs a Windows program under Wine on a virtual display and uses its
// window as a person would, through driver.exe: for the end-to-end tests
// (tests/e2e/harness.h adds GoogleTest to it) and for the demo.
//
//   wine_run::Scenario s = wine_run::patch_scenario({wine_run::wine_path(pkg)});
//   wine_run::reg_set_sz(&s, "SOFTWARE\\Korvinda", "Path", wine_run::wine_path(dir) + "\\");
//   s.answers = {"ok"};                          // message boxes, in order
//   s.expected_end = wine_run::End::kWaitsForOk;
//   wine_run::RunResult r = wine_run::run(s);
//   if (!r.ok || !wine_run::ended_as_expected(r)) puts(wine_run::describe(r).c_str());
//
// Texts compared with the program's are Windows-1251 bytes. Registry keys
// are below HKEY_LOCAL_MACHINE, in the 32-bit view unless
// Scenario::registry_view is 64. Wine sees a native path P as wine_path(P)
// ("Z:\..." form).
//
// The driver decides from evidence, never from elapsed time: it waits for
// conditions (the window showing OK, the process ending, a box closing),
// each with a deadline of Scenario::timeout_ms counted from the last change
// it saw, and reports a passed deadline with the condition it waited for.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace wine_run {

// ---- the programs and paths -------------------------------------------------

std::string windows_build_dir();  // KRV_WINDOWS_BUILD_DIR
std::string patch_exe();          // native path of the built PATCH.EXE
std::string driver_exe();
std::string state_dir();          // the Wine prefixes live below it

// "/tmp/a b/c" -> "Z:\tmp\a b\c", in Windows-1251 bytes; "" when the path
// has characters that code page lacks.
std::string wine_path(const std::string& native_path);
std::string quoted(const std::string& text);  // "\"" + text + "\""

// ---- a run ------------------------------------------------------------------

struct RegistryStep {
  std::string action;  // create, delete_key, set, delete_value
  std::string key, name;
  std::string type;  // sz, expand_sz, dword, binary
  std::string data;  // bytes; for dword the decimal number
};

struct RegistryRead {
  std::string key, name;
};

// How a run ends: the window waits for OK (RunState 1), or the process ends
// without anybody pressing anything (RunState 2).
enum class End { kUnstated, kWaitsForOk, kClosesByItself };

struct Scenario {
  std::string exe;           // native path of the program to start
  std::string command_line;  // exact bytes; empty: the quoted Wine path of exe
  std::string cwd;           // native folder; empty: the driver's
  std::vector<std::string> answers;  // "ok", "cancel", "close" per message box
  bool try_close = false;   // at the end: Enter, Esc, caption button, system menu,
                            // Alt+F4, WM_CLOSE
  std::vector<std::string> close_methods;  // or only these of them, in this order
  bool press_ok = true;     // press OK once the window waits for it
  std::string screenshot_png;  // native path; the final window as PNG
  std::vector<std::string> hold_files;  // native paths kept open without sharing
  int registry_view = 32;
  std::vector<RegistryStep> registry_setup;  // applied in order before the start
  std::vector<RegistryRead> registry_reads;  // read after the process ended
  // What the run must end in (see ended_as_expected). Unstated: the driver
  // treats the run as one that waits for OK, but nothing is checked.
  End expected_end = End::kUnstated;
  int timeout_ms = 30000;  // deadline of each awaited condition
};

// PATCH.EXE of the Windows build with the given arguments after its quoted
// name (each argument taken as written: quote it yourself where needed).
Scenario patch_scenario(const std::vector<std::string>& arguments);

void reg_create(Scenario* s, const std::string& key);
void reg_delete_key(Scenario* s, const std::string& key);  // with its subkeys
void reg_set_sz(Scenario* s, const std::string& key, const std::string& name,
                const std::string& value);
void reg_set_expand_sz(Scenario* s, const std::string& key, const std::string& name,
                       const std::string& value);
void reg_set_dword(Scenario* s, const std::string& key, const std::string& name, int64_t value);
void reg_set_binary(Scenario* s, const std::string& key, const std::string& name,
                    const std::string& bytes);
void reg_delete_value(Scenario* s, const std::string& key, const std::string& name);
void reg_read(Scenario* s, const std::string& key, const std::string& name);

struct WindowSnapshot {
  std::string status;   // control 1000, bytes
  std::string status2;  // control 1001
  bool button_visible = false;
  std::string button_text;
};

struct MessageBoxSeen {
  bool closed = false;      // went away after the answer
  std::string caption, text;  // bytes
  std::string icon;     // information, exclamation, question, error, none, other
  std::string buttons;  // e.g. "ok,cancel"
  std::string answer;
  bool owned_by_window = false;
  bool unexpected = false;  // no answer was queued; answered "cancel"
  WindowSnapshot window;    // the progress window while the box was open
};

struct RegistryValue {
  bool found = false;
  uint32_t type = 0;  // REG_SZ 1, REG_EXPAND_SZ 2, REG_BINARY 3, REG_DWORD 4
  std::string data;   // raw bytes, a string's NUL included
};

struct RunResult {
  bool ok = false;      // the driver ran and started the program
  std::string error;    // why not, or the driver's own error
  std::string output;   // the driver's raw output, for failure messages
  End expected_end = End::kUnstated;
  int64_t exit_code = -1;
  bool timed_out = false;
  std::string waited_for;        // the condition whose deadline passed
  bool terminated = false;       // the driver had to end the process
  int ok_presses = 0;
  bool waited_for_ok = false;    // the window stayed open with "OK" (RunState 1)
  bool closed_by_itself = false; // the process ended without OK (RunState 2)
  bool ended_after_ok = false;   // pressing OK ended the process
  bool first_seen = false;
  WindowSnapshot first;          // the window when the driver first saw it (it may
                                 // be before the button was hidden)
  WindowSnapshot final_state;    // the last state read while the window provably
                                 // existed (before and after the read)
  std::vector<WindowSnapshot> seen;  // every state read, in order, changes only
  std::vector<MessageBoxSeen> boxes;
  bool has_geometry = false;
  int left = 0, top = 0, right = 0, bottom = 0;  // window rectangle
  int screen_width = 0, screen_height = 0;
  std::map<std::string, std::string> close_attempts;  // how -> "stayed" / "closed"
  bool screenshot_saved = false;
  std::vector<RegistryValue> reads;  // in the order of registry_reads
  std::vector<std::string> strays;   // other windows of the process: class, caption
};

RunResult run(const Scenario& scenario);

// Readable form of a result for assertion messages: how it ended, every
// state of the window, the boxes, other windows, then the raw output.
std::string describe(const RunResult& result);

// True when the run ended as the scenario expected (always when unstated).
bool ended_as_expected(const RunResult& result);

// ---- files -----------------------------------------------------------------

bool write_file(const std::string& path, const std::string& bytes);
bool write_file(const std::string& path, const std::vector<uint8_t>& bytes);
bool read_file(const std::string& path, std::string* bytes);
bool file_exists(const std::string& path);
std::string dword_bytes(uint32_t value);  // 4 little-endian bytes

// ---- the Wine session --------------------------------------------------------

// Prepares the program's own prefix (kept under state_dir() and reused),
// starts Xvfb and a persistent wineserver; run() calls it when needed. False with *error when something is missing.
bool start_session(std::string* error);
void stop_session();

}  // namespace wine_run


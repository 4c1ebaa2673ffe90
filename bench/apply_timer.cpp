// apply_timer.exe: starts one program and times it from its start until its
// work is done, for the apply benchmark.
//
//   apply_timer.exe [--clear-value KEY NAME] [--window] PROGRAM [ARGUMENTS...]
//
// --clear-value  first removes the value NAME of HKLM\KEY, 32-bit view (so that the
//                installed level reads as 0 and no prompt appears)
// --window       PROGRAM is PATCH.EXE: done when its OK button shows; the
//                memory figures are read then, the status line is checked
//                for the success text, and OK is pressed
// Without --window the program is done when it exits.
// Prints key=value lines: seconds, exit_code, success, and, with --window,
// peak_working_set and peak_pagefile. Exit code 0 when the run succeeded.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr char kSuccessText[] = "Обновление успешно установлено!";
constexpr DWORD kTimeoutMs = 600000;
constexpr DWORD kPollMs = 2;
constexpr DWORD kExitPollMs = 50;
constexpr int kStatusId = 1000;

struct Search {
  DWORD process_id;
  HWND window;
};

BOOL CALLBACK match_window(HWND window, LPARAM parameter) {
  Search* search = reinterpret_cast<Search*>(parameter);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == search->process_id && GetDlgItem(window, kStatusId) != nullptr) {
    search->window = window;
    return FALSE;
  }
  return TRUE;
}

// What the timer knows of PATCH.EXE's window; looked up once. Each look at
// another process's window is a request to the wineserver, which the timed
// run needs for its own work: GetDlgItem and IsWindowVisible take several.
struct Watched {
  HWND window = nullptr;
  HWND button = nullptr;
};

// The progress window once its OK button is shown, or null. While the run
// goes on a look costs one request: the button's style.
HWND finished_window(DWORD process_id, Watched* watched) {
  if (watched->button == nullptr) {
    Search search = {process_id, nullptr};
    EnumWindows(match_window, reinterpret_cast<LPARAM>(&search));
    if (search.window == nullptr) return nullptr;
    watched->window = search.window;
    watched->button = GetDlgItem(search.window, IDOK);
    if (watched->button == nullptr) return nullptr;
  }
  if ((GetWindowLongW(watched->button, GWL_STYLE) & WS_VISIBLE) == 0) return nullptr;
  char text[16] = "";
  GetWindowTextA(watched->button, text, sizeof text);
  return strcmp(text, "OK") == 0 ? watched->window : nullptr;
}

std::string command_line(int first, int argc, char** argv) {
  std::string line;
  for (int i = first; i < argc; ++i) {
    if (!line.empty()) line += ' ';
    bool quote = strchr(argv[i], ' ') != nullptr;
    line += quote ? "\"" + std::string(argv[i]) + "\"" : std::string(argv[i]);
  }
  return line;
}

void clear_value(const char* key_path, const char* name) {
  HKEY key = nullptr;
  // The 32-bit view, the one PATCH.EXE reads.
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key_path, 0, KEY_SET_VALUE | KEY_WOW64_32KEY, &key) !=
      ERROR_SUCCESS) {
    return;
  }
  RegDeleteValueA(key, name);
  RegCloseKey(key);
}

double seconds_since(LARGE_INTEGER start) {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Waits until the run is done; true when it got there in time. Between
// looks it sleeps, which under Wine asks nothing of the wineserver; whether
// the process ended is asked only every 50 ms.
bool wait_until_done(HANDLE process, DWORD process_id, bool window, HWND* finished) {
  if (!window) return WaitForSingleObject(process, kTimeoutMs) == WAIT_OBJECT_0;
  Watched watched;
  for (DWORD waited = 0; waited < kTimeoutMs; waited += kPollMs) {
    *finished = finished_window(process_id, &watched);
    if (*finished != nullptr) return true;
    if (waited % kExitPollMs == 0 && WaitForSingleObject(process, 0) == WAIT_OBJECT_0) {
      return false;
    }
    Sleep(kPollMs);
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  int first = 1;
  bool window = false;
  for (; first < argc && strncmp(argv[first], "--", 2) == 0; ++first) {
    if (strcmp(argv[first], "--clear-value") == 0 && first + 2 < argc) {
      clear_value(argv[first + 1], argv[first + 2]);
      first += 2;
    } else if (strcmp(argv[first], "--window") == 0) {
      window = true;
    } else {
      fprintf(stderr, "apply_timer: unknown option %s\n", argv[first]);
      return 2;
    }
  }
  if (first >= argc) return 2;
  std::string line = command_line(first, argc, argv);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child = {};
  LARGE_INTEGER start;
  QueryPerformanceCounter(&start);
  if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &child)) {
    fprintf(stderr, "apply_timer: cannot start %s\n", line.c_str());
    return 1;
  }
  HWND finished = nullptr;
  bool done = wait_until_done(child.hProcess, child.dwProcessId, window, &finished);
  double seconds = seconds_since(start);

  // Readable only while the process lives (the baseline reports its own).
  PROCESS_MEMORY_COUNTERS memory = {};
  memory.cb = sizeof memory;
  bool has_memory = GetProcessMemoryInfo(child.hProcess, &memory, sizeof memory) &&
                    memory.PeakWorkingSetSize != 0;
  bool success = done;
  if (finished != nullptr) {
    char status[512] = "";
    GetDlgItemTextA(finished, kStatusId, status, sizeof status);
    success = strncmp(status, kSuccessText, strlen(kSuccessText)) == 0;
    PostMessageA(GetDlgItem(finished, IDOK), BM_CLICK, 0, 0);
    WaitForSingleObject(child.hProcess, 10000);
  } else if (!done) {
    TerminateProcess(child.hProcess, 1);
  }
  DWORD exit_code = 0;
  GetExitCodeProcess(child.hProcess, &exit_code);
  success = success && exit_code == 0;
  printf("seconds=%.4f\nexit_code=%lu\nsuccess=%d\n", seconds, exit_code, success ? 1 : 0);
  if (has_memory) {
    printf("peak_working_set=%llu\npeak_pagefile=%llu\n",
           static_cast<unsigned long long>(memory.PeakWorkingSetSize),
           static_cast<unsigned long long>(memory.PeakPagefileUsage));
  }
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  return success ? 0 : 1;
}

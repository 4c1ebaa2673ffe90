// window_watch.exe: starts a program and records every window it creates or
// shows, from before its first instruction to its end, for the tests of
// runs that must show nothing. Runs under Wine as a console program.
//
//   window_watch.exe REPORT_FILE COMMAND LINE OF THE PROGRAM...
//
// The program is started suspended, the window-event hook for its process is
// in place before it runs, and the visible windows of the process are also
// polled every few milliseconds. The report holds "hook=1" when the hook was
// set, one line per top-level window event ("created CLASS|CAPTION", "shown
// CLASS|CAPTION", "visible CLASS|CAPTION" from the polling) and
// "exit_code=N"; window_watch.exe ends with the program's exit code.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "lost_start.h"

namespace {

DWORD g_pid = 0;
std::vector<std::string> g_events;
std::vector<HWND> g_seen_visible;

// "CLASS|CAPTION": the progress window and a message box share a class.
std::string name_of(HWND window) {
  char name[128] = {};
  GetClassNameA(window, name, sizeof name);
  char caption[256] = {};
  GetWindowTextA(window, caption, sizeof caption);
  return std::string(name) + "|" + caption;
}

bool top_level(HWND window) { return GetAncestor(window, GA_PARENT) == GetDesktopWindow(); }

void CALLBACK on_event(HWINEVENTHOOK, DWORD event, HWND window, LONG object, LONG child, DWORD,
                       DWORD) {
  if (window == nullptr || object != OBJID_WINDOW || child != CHILDID_SELF) return;
  if (!top_level(window)) return;  // a control shows only with its window
  std::string what = event == EVENT_OBJECT_SHOW ? "shown " : "created ";
  g_events.push_back(what + name_of(window));
}

BOOL CALLBACK poll_window(HWND window, LPARAM) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid != g_pid || !IsWindowVisible(window)) return TRUE;
  for (HWND seen : g_seen_visible) {
    if (seen == window) return TRUE;
  }
  g_seen_visible.push_back(window);
  g_events.push_back("visible " + name_of(window));
  return TRUE;
}

void pump() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
}

// The command line after the first two arguments, exactly as written.
const char* rest_after_two_arguments(const char* line) {
  for (int skipped = 0; skipped < 2; ++skipped) {
    while (*line == ' ' || *line == '\t') ++line;
    if (*line == '"') {
      ++line;
      while (*line != '\0' && *line != '"') ++line;
      if (*line == '"') ++line;
    } else {
      while (*line != '\0' && *line != ' ' && *line != '\t') ++line;
    }
  }
  while (*line == ' ' || *line == '\t') ++line;
  return line;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: window_watch.exe REPORT_FILE COMMAND...\n");
    return 250;
  }
  std::string command_line = rest_after_two_arguments(GetCommandLineA());
  PROCESS_INFORMATION process{};
  auto tell_lost = [](DWORD error) {
    fprintf(stderr, "window_watch: start lost (%lu), starting again\n", error);
  };
  if (!create_process_again_if_lost(nullptr, command_line, CREATE_SUSPENDED, nullptr, &process,
                                    tell_lost)) {
    fprintf(stderr, "cannot start: %lu\n", GetLastError());
    return 251;
  }
  g_pid = process.dwProcessId;
  HWINEVENTHOOK hook = SetWinEventHook(EVENT_OBJECT_CREATE, EVENT_OBJECT_SHOW, nullptr, on_event,
                                       g_pid, 0, WINEVENT_OUTOFCONTEXT);
  ResumeThread(process.hThread);
  for (;;) {
    DWORD woke = MsgWaitForMultipleObjects(1, &process.hProcess, FALSE, 5, QS_ALLINPUT);
    pump();
    EnumWindows(poll_window, 0);
    if (woke == WAIT_OBJECT_0) break;
  }
  pump();  // events posted just before the end
  if (hook != nullptr) UnhookWinEvent(hook);
  DWORD exit_code = 0;
  GetExitCodeProcess(process.hProcess, &exit_code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);

  FILE* report = fopen(argv[1], "wb");
  if (report == nullptr) return 252;
  fprintf(report, "hook=%d\n", hook != nullptr ? 1 : 0);
  for (const std::string& event : g_events) fprintf(report, "%s\n", event.c_str());
  fprintf(report, "exit_code=%lu\n", exit_code);
  fclose(report);
  return static_cast<int>(exit_code);
}

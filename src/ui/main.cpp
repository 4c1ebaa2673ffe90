// PATCH.EXE's process entry: takes the switches of an unattended run out of
// the command line, then runs the update with the progress window (served
// by this thread while a worker thread runs the update) or, with /quiet,
// with no window at all. The exit code tells an unattended run's outcome.
#include <windows.h>

#include <string>
#include <vector>

#include "command_line.h"
#include "log_texts.h"
#include "logging_channel.h"
#include "progress_dialog.h"
#include "progress_window.h"
#include "resource_ids.h"
#include "ruled_channel.h"
#include "run_log_win32.h"
#include "run_rules.h"
#include "run_switches.h"
#include "update_worker.h"

namespace {

constexpr SIZE_T kWorkerStackSize = 65536;

// One run: its arguments without the switches, what the switches asked
// for, the log, and the outcome that decides the exit code.
struct RunRequest {
  std::vector<std::wstring> arguments;
  RunSwitches switches;
  RunLog log;
  WindowHandoff window;
  RunOutcome outcome;
};

// The run through its channel: the switches' rules in front of the window
// (or of nothing at all), and the log listening to all of it.
void run_through(UserChannel* display, RunRequest* request) {
  RuledChannel ruled(display, request->switches);
  LoggingChannel logged(ruled, request->switches, request->log);
  request->outcome = run_update(request->arguments, logged);
}

// The worker thread of a run with the window, then its end. A passive run
// closes its window by itself.
DWORD WINAPI worker_thread(LPVOID parameter) {
  RunRequest* request = static_cast<RunRequest*>(parameter);
  WindowChannel channel(request->window);
  run_through(&channel, request);
  RunOutcome shown = request->outcome;
  if (request->switches.passive) shown.wait_for_ok = false;
  HWND window = channel.window();
  if (window != nullptr) finish_run(window, shown);
  return 0;
}

// Only a function that exists is called: on Windows 7 without the loader
// update the process restricts the search with SetDllDirectoryW instead.
void restrict_dll_search() {
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  auto set_default = reinterpret_cast<SetDefaultDllDirectoriesFn>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (set_default == nullptr || !set_default(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
    SetDllDirectoryW(L"");  // at least the current folder leaves the search
  }
}

HWND create_progress_window(HINSTANCE instance) {
  HWND window = CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_PROGRESS), nullptr,
                                   progress_dialog_proc, 0);
  if (window == nullptr) return nullptr;
  ShowWindow(window, SW_SHOW);
  HICON icon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_UPDATER));
  SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
  SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
  ShowWindow(GetDlgItem(window, IDOK), SW_HIDE);
  return window;
}

// Serves the window until RunState reaches 2. Messages go straight to their
// window, not through the dialog manager: Tab and Enter do nothing special.
// When no message waits, the loop sleeps instead of polling again at once,
// which would keep a processor busy for the whole run. While the worker runs
// it wakes for a message or for the worker's end (the worker stores its
// final RunState right before its thread ends); after that only a message
// can bring 2, the click on this thread. So 2 is seen as soon as polling
// would see it.
void serve_window(HWND window, HANDLE worker) {
  MSG message{};
  for (;;) {
    while (PeekMessageW(&message, window, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    int32_t state = g_run_state.load();
    if (state >= kRunStateQuit) break;
    if (state == kRunStateRunning) {
      MsgWaitForMultipleObjects(1, &worker, FALSE, INFINITE, QS_ALLINPUT);
    } else {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, INFINITE, QS_ALLINPUT);
    }
  }
}

// The worker starts first: it checks the package while the window is made
// and waits for the window before it shows, asks or changes anything.
// Without its window an attended run could never be ended by the user, so
// its worker ends with nothing changed; a passive run goes on as a quiet
// one. Without its worker the run would never end: the program ends at once.
void run_with_window(HINSTANCE instance, RunRequest* request) {
  g_run_state.store(kRunStateRunning);
  HANDLE worker = CreateThread(nullptr, kWorkerStackSize, worker_thread, request, 0, nullptr);
  if (worker == nullptr) return;
  HWND window = create_progress_window(instance);
  request->window.publish(window);
  if (window != nullptr) serve_window(window, worker);
  WaitForSingleObject(worker, INFINITE);
  CloseHandle(worker);
  if (window != nullptr) DestroyWindow(window);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  // A DLL planted beside a downloaded image must never be loaded.
  restrict_dll_search();
  const wchar_t* command_line = GetCommandLineW();
  RunRequest request;
  request.arguments = split_command_line(std::wstring_view(command_line));
  request.switches = take_run_switches(&request.arguments);
  request.log.open(request.switches.log_path);
  request.log.write(start_log_text(KRV_UPDATER_VERSION, command_line));
  request.log.write(package_log_text(request.arguments));

  if (request.switches.quiet) {
    run_through(nullptr, &request);
  } else {
    run_with_window(instance, &request);
  }
  int exit_code = exit_code_of(request.outcome, request.switches);
  request.log.write(outcome_log_text(request.outcome, exit_code));
  return exit_code;
}

// PATCH.EXE's process entry: the progress window, the worker thread and the
// loop that serves the window until RunState says the program ends.
#include <windows.h>

#include "progress_dialog.h"
#include "progress_window.h"
#include "resource_ids.h"
#include "update_worker.h"

namespace {

constexpr SIZE_T kWorkerStackSize = 65536;

// The worker thread: the run through the window's channel, then its end.
DWORD WINAPI worker_thread(LPVOID parameter) {
  HWND window = static_cast<HWND>(parameter);
  WindowChannel channel(window);
  RunOutcome outcome = run_update(GetCommandLineW(), channel);
  finish_run(window, outcome);
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

}  // namespace

// Without its window a run could never be ended by the user, and without its
// worker it would never end: in either case the program ends at once.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  // A DLL planted beside a downloaded image must never be loaded.
  restrict_dll_search();
  g_run_state.store(kRunStateRunning);
  HWND window = create_progress_window(instance);
  if (window == nullptr) return 0;

  HANDLE worker = CreateThread(nullptr, kWorkerStackSize, worker_thread, window, 0, nullptr);
  if (worker != nullptr) {
    serve_window(window, worker);
    WaitForSingleObject(worker, INFINITE);
    CloseHandle(worker);
  }
  DestroyWindow(window);
  return 0;
}

// The ProgressDialog: its dialog procedure, the status line and the end of
// the worker's run.
#include "progress_window.h"

#include <cstdlib>

#include "fixed_text.h"
#include "progress_dialog.h"
#include "resource_ids.h"

std::atomic<int32_t> g_run_state{kRunStateRunning};

namespace {

HWND g_progress_window = nullptr;

// Moves the window to the middle of the primary screen, keeping its size,
// Z order and activation.
void centre_on_screen(HWND window) {
  RECT rect{};
  GetWindowRect(window, &rect);
  int32_t screen_height = GetSystemMetrics(SM_CYSCREEN);
  int32_t screen_width = GetSystemMetrics(SM_CXSCREEN);
  int32_t top = (rect.top + screen_height - rect.bottom) / 2;
  int32_t left = (rect.left + screen_width - rect.right) / 2;
  SetWindowPos(window, nullptr, left, top, -1, -1, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR on_init_dialog(HWND window) {
  SetDlgItemTextA(window, IDC_STATUS, "");
  SetDlgItemTextA(window, IDC_STATUS2, "");
  SetDlgItemTextA(window, IDOK, "Done");
  centre_on_screen(window);
  return 0;
}

// The button ends the program only once the worker has published its end;
// a click in the moment before that is ignored.
INT_PTR on_ok_clicked() {
  if (g_run_state.load() == kRunStateRunning) return 0;
  g_run_state.store(kRunStateQuit);
  return 1;
}

}  // namespace

HWND progress_window() { return g_progress_window; }

void set_progress_window(HWND window) { g_progress_window = window; }

INT_PTR CALLBACK progress_dialog_proc(HWND window, UINT message, WPARAM wparam, LPARAM) {
  if (message == WM_INITDIALOG) return on_init_dialog(window);
  // Closing from the caption, the system menu or Alt+F4 arrives as IDCANCEL
  // and falls through here: the window cannot be closed that way.
  if (message == WM_COMMAND && HIWORD(wparam) == BN_CLICKED && LOWORD(wparam) == IDOK) {
    return on_ok_clicked();
  }
  return 0;
}

// A text that does not fit the 64 KiB buffer, or a buffer that cannot be
// had, leaves the status line as it was: never a cut or overrun text.
void show_status(const char* format, ...) {
  char* buffer = static_cast<char*>(malloc(kStatusCapacity));
  if (buffer == nullptr) return;
  va_list args;
  va_start(args, format);
  bool fitted = text_vformat(buffer, kStatusCapacity, format, args);
  va_end(args);
  if (fitted) SetDlgItemTextA(g_progress_window, IDC_STATUS, buffer);
  free(buffer);
}

// Every window change happens before RunState is stored: once the main
// thread sees 2 it no longer serves the window's messages.
void finish_run(int wait_for_ok) {
  HWND button = GetDlgItem(g_progress_window, IDOK);
  ShowWindow(button, SW_SHOW);
  SetDlgItemTextA(g_progress_window, IDOK, "OK");
  g_run_state.store(wait_for_ok != 0 ? kRunStateWaitingForOk : kRunStateQuit);
  ExitThread(0);
}

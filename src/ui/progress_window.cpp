// The ProgressDialog: its dialog procedure, the window's side of the run's
// channel to the user, and the end of the worker's run.
#include "progress_window.h"

#include <string>

#include "progress_dialog.h"
#include "resource_ids.h"

std::atomic<int32_t> g_run_state{kRunStateRunning};

namespace {

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
  SetDlgItemTextW(window, IDC_STATUS, L"");
  SetDlgItemTextW(window, IDC_STATUS2, L"");
  SetDlgItemTextW(window, IDOK, L"Done");
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

INT_PTR CALLBACK progress_dialog_proc(HWND window, UINT message, WPARAM wparam, LPARAM) {
  if (message == WM_INITDIALOG) return on_init_dialog(window);
  // Closing from the caption, the system menu or Alt+F4 arrives as IDCANCEL
  // and falls through here: the window cannot be closed that way.
  if (message == WM_COMMAND && HIWORD(wparam) == BN_CLICKED && LOWORD(wparam) == IDOK) {
    return on_ok_clicked();
  }
  return 0;
}

// The engine formatted the text within its capacity; the window only shows it.
void WindowChannel::show_status(std::wstring_view text) {
  std::wstring terminated(text);
  SetDlgItemTextW(window_, IDC_STATUS, terminated.c_str());
}

bool WindowChannel::ask(Question question, std::wstring_view caption, std::wstring_view text) {
  UINT icon = question == Question::kStartupMessage ? MB_ICONINFORMATION : MB_ICONEXCLAMATION;
  std::wstring caption_text(caption);
  std::wstring body(text);
  return MessageBoxW(window_, body.c_str(), caption_text.c_str(), MB_OKCANCEL | icon) == IDOK;
}

void WindowChannel::show_commands_failed(std::wstring_view caption, std::wstring_view text) {
  std::wstring caption_text(caption);
  std::wstring body(text);
  MessageBoxW(window_, body.c_str(), caption_text.c_str(), MB_OK | MB_ICONEXCLAMATION);
}

// Every window change happens before RunState is stored: once the main
// thread sees 2 it no longer serves the window's messages.
void finish_run(HWND window, const RunOutcome& outcome) {
  HWND button = GetDlgItem(window, IDOK);
  ShowWindow(button, SW_SHOW);
  SetDlgItemTextW(window, IDOK, L"OK");
  g_run_state.store(outcome.wait_for_ok ? kRunStateWaitingForOk : kRunStateQuit);
}

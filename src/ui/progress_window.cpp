// The ProgressDialog: its dialog procedure, the window's side of the run's
// channel to the user, and the end of the worker's run.
#include "progress_window.h"

#include <string>

#include "progress_dialog.h"
#include "resource_ids.h"
#include "status_slot.h"

std::atomic<int32_t> g_run_state{kRunStateRunning};

namespace {

// The worker's wake-up when a new text waits, and its wait for the latest
// text to be shown.
constexpr UINT kStatusWaiting = WM_APP + 1;
constexpr UINT kStatusFlush = WM_APP + 2;
constexpr UINT_PTR kStatusTimer = 1;
// The least time between two texts on the screen: drawing every text of a
// fast run would cost more than the run itself, and each one drawn takes
// time from the worker under Wine. 40 ms keeps a new text on the screen
// within 50 ms even when the timer fires a tick late.
constexpr ULONGLONG kStatusIntervalMs = 40;

StatusSlot g_status;
ULONGLONG g_status_shown_at = 0;  // main thread only

// On the main thread: the latest text, if it is not on the screen yet.
void show_latest_status(HWND window) {
  KillTimer(window, kStatusTimer);
  std::wstring text;
  uint64_t serial = 0;
  if (!g_status.take(&text, &serial)) return;
  SetDlgItemTextW(window, IDC_STATUS, text.c_str());
  g_status.mark_shown(serial);
  g_status_shown_at = GetTickCount64();
}

// A text waits: shown now, or when the interval since the last one is over.
void on_status_waiting(HWND window) {
  ULONGLONG since = GetTickCount64() - g_status_shown_at;
  if (since >= kStatusIntervalMs) {
    show_latest_status(window);
  } else {
    SetTimer(window, kStatusTimer, static_cast<UINT>(kStatusIntervalMs - since), nullptr);
  }
}

// On the worker: returns once the latest text is on the screen.
void flush_status(HWND window) {
  if (g_status.unshown()) SendMessageW(window, kStatusFlush, 0, 0);
}

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
  if (message == kStatusWaiting) {
    on_status_waiting(window);
    return 1;
  }
  if (message == kStatusFlush || (message == WM_TIMER && wparam == kStatusTimer)) {
    show_latest_status(window);
    return 1;
  }
  // Closing from the caption, the system menu or Alt+F4 arrives as IDCANCEL
  // and falls through here: the window cannot be closed that way.
  if (message == WM_COMMAND && HIWORD(wparam) == BN_CLICKED && LOWORD(wparam) == IDOK) {
    return on_ok_clicked();
  }
  return 0;
}

void WindowHandoff::publish(HWND window) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    window_ = window;
    known_ = true;
  }
  published_.notify_all();
}

HWND WindowHandoff::wait() const {
  std::unique_lock<std::mutex> lock(mutex_);
  published_.wait(lock, [this] { return known_; });
  return window_;
}

// The engine formatted the text within its capacity; the window only shows
// it. Only the first text after the window took the last one posts a
// wake-up, so the worker never waits and the queue never fills.
void WindowChannel::show_status(std::wstring_view text) {
  HWND shown_in = window();
  if (shown_in != nullptr && g_status.publish(text)) {
    PostMessageW(shown_in, kStatusWaiting, 0, 0);
  }
}

bool WindowChannel::ask(Question question, std::wstring_view caption, std::wstring_view text) {
  HWND owner = window();
  if (owner == nullptr) return false;
  flush_status(owner);
  UINT icon = question == Question::kStartupMessage ? MB_ICONINFORMATION : MB_ICONEXCLAMATION;
  std::wstring caption_text(caption);
  std::wstring body(text);
  return MessageBoxW(owner, body.c_str(), caption_text.c_str(), MB_OKCANCEL | icon) == IDOK;
}

void WindowChannel::show_commands_failed(std::wstring_view caption, std::wstring_view text) {
  HWND owner = window();
  if (owner == nullptr) return;
  flush_status(owner);
  std::wstring caption_text(caption);
  std::wstring body(text);
  MessageBoxW(owner, body.c_str(), caption_text.c_str(), MB_OK | MB_ICONEXCLAMATION);
}

// Every window change happens before RunState is stored: once the main
// thread sees 2 it no longer serves the window's messages.
void finish_run(HWND window, const RunOutcome& outcome) {
  flush_status(window);
  HWND button = GetDlgItem(window, IDOK);
  ShowWindow(button, SW_SHOW);
  SetDlgItemTextW(window, IDOK, L"OK");
  g_run_state.store(outcome.wait_for_ok ? kRunStateWaitingForOk : kRunStateQuit);
}

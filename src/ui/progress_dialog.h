// What the process entry shares with the progress window's own code.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

// RunState: 0 while the worker runs, 1 once it ended and the window waits
// for OK, 2 when the program is to end. Never goes back to a lower value.
constexpr int32_t kRunStateRunning = 0;
constexpr int32_t kRunStateWaitingForOk = 1;
constexpr int32_t kRunStateQuit = 2;

extern std::atomic<int32_t> g_run_state;

INT_PTR CALLBACK progress_dialog_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

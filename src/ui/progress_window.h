// The progress window as the worker sees it.
#pragma once

#include <windows.h>

// The window of the ProgressDialog; set by the main thread before the
// worker starts and unchanged afterwards.
HWND progress_window();

// printf-style; replaces the whole status line (control 1000).
__attribute__((format(printf, 1, 2))) void show_status(const char* format, ...);

// Shows the button as "OK", publishes RunState (1 when wait_for_ok is not 0,
// 2 otherwise) and ends the calling thread.
[[noreturn]] void finish_run(int wait_for_ok);

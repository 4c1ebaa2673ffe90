// The worker thread of a run: from the command line to the final RunState.
#pragma once

#include <windows.h>

// The thread procedure; its argument is the process command line (char*).
// It never returns: finish_run ends the thread.
DWORD WINAPI UpdateWorker(LPVOID command_line);

// Starting a program under Wine, which now and then loses a new process
// while its DLLs are set up: CreateProcess then fails with
// ERROR_INTERNAL_ERROR before any of the program ran, so it is started
// again. Used by driver.exe and by the tests' window watcher.
#pragma once

#include <windows.h>

#include <string>

// CreateProcessA, at most three times while starts are lost; tell_lost
// hears of each lost start. On failure GetLastError() is CreateProcess's.
template <typename TellLost>
bool create_process_again_if_lost(const char* application, const std::string& command_line,
                                  DWORD flags, const char* folder, PROCESS_INFORMATION* process,
                                  TellLost tell_lost) {
  constexpr int kAttempts = 3;
  for (int attempt = 1;; ++attempt) {
    std::string line = command_line;  // CreateProcessA may write into it
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    if (CreateProcessA(application, &line[0], nullptr, nullptr, FALSE, flags, nullptr, folder,
                       &startup, process)) {
      return true;
    }
    DWORD error = GetLastError();
    if (error != ERROR_INTERNAL_ERROR || attempt == kAttempts) return false;
    tell_lost(error);
    Sleep(200);
  }
}

// The demo application's registration program, which the update runs after
// writing the files: it records its command line and its current folder in
// register.log there, so the demo can show how the updater started it.
#include <windows.h>

#include <string>

int main() {
  char folder[MAX_PATH + 1] = {};
  GetCurrentDirectoryA(sizeof folder, folder);
  std::string line = std::string(GetCommandLineA()) + "|" + folder + "\n";
  HANDLE log = CreateFileA("register.log", FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (log == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  BOOL ok = WriteFile(log, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(log);
  return ok ? 0 : 1;
}

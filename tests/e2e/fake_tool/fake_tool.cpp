// A stand-in for the external programs an update runs. It first appends one
// line "<command line>|<current folder>" to fake_tool_calls.log in its
// current folder; then its arguments say what to do, in order:
//   log=PATH      append the same line to PATH as well
//   sleep=MS      wait that long
//   await=NAME    wait until a file or folder NAME exists in the current
//                 folder (at most 30 s; then it logs "await timed out")
//   marker        create krv_patch_apply_err.txt in the current folder
//   marker_dir    create a folder of that name instead
//   touch=NAME    create an empty file NAME in the current folder
// The command line it sees starts with the word the updater puts first.
// Several copies may run at once: each line is one write to a file opened
// for appending only, so lines of different copies never overwrite or
// split each other.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::wstring wide(const char* text) {
  int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  std::wstring out(n > 0 ? static_cast<size_t>(n) : 1, L'\0');
  if (n > 0) MultiByteToWideChar(CP_ACP, 0, text, -1, &out[0], n);
  out.resize(wcslen(out.c_str()));
  return out;
}

void append_line(const char* path, const std::string& line) {
  // Another copy may hold the file for a moment: retry a sharing conflict.
  for (int attempt = 0; attempt < 1000; ++attempt) {
    HANDLE log = CreateFileW(wide(path).c_str(), FILE_APPEND_DATA,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log != INVALID_HANDLE_VALUE) {
      DWORD written = 0;
      WriteFile(log, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
      CloseHandle(log);
      return;
    }
    if (GetLastError() != ERROR_SHARING_VIOLATION) return;
    Sleep(10);
  }
}

std::string call_line() {
  char folder[MAX_PATH + 1] = {};
  GetCurrentDirectoryA(sizeof folder, folder);
  return std::string(GetCommandLineA()) + "|" + folder + "\n";
}

void create_file(const char* name) {
  HANDLE file = CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

void await_file(const char* name) {
  for (DWORD start = GetTickCount(); GetTickCount() - start < 30000; Sleep(10)) {
    if (GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES) return;
  }
  append_line("fake_tool_calls.log", std::string("await timed out: ") + name + "\n");
}

}  // namespace

int main(int argc, char** argv) {
  const std::string line = call_line();
  append_line("fake_tool_calls.log", line);
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (strncmp(arg, "log=", 4) == 0) append_line(arg + 4, line);
    else if (strncmp(arg, "sleep=", 6) == 0) Sleep(static_cast<DWORD>(atoi(arg + 6)));
    else if (strncmp(arg, "await=", 6) == 0) await_file(arg + 6);
    else if (strcmp(arg, "marker") == 0) create_file("krv_patch_apply_err.txt");
    else if (strcmp(arg, "marker_dir") == 0) CreateDirectoryA("krv_patch_apply_err.txt", nullptr);
    else if (strncmp(arg, "touch=", 6) == 0) create_file(arg + 6);
  }
  return 0;
}

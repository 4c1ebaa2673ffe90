// A stand-in for the external programs an update runs. It first appends one
// line "<command line>|<current folder>" to fake_tool_calls.log in its
// current folder; then its arguments say what to do, in order:
//   log=PATH      append the same line to PATH as well
//   sleep=MS      wait that long
//   marker        create krv_patch_apply_err.txt in the current folder
//   marker_dir    create a folder of that name instead
//   touch=NAME    create an empty file NAME in the current folder
// The command line it sees starts with the word the updater puts first.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void append_log(const char* path) {
  char folder[MAX_PATH + 1] = {};
  GetCurrentDirectoryA(sizeof folder, folder);
  FILE* log = fopen(path, "ab");
  if (log == nullptr) return;
  fprintf(log, "%s|%s\n", GetCommandLineA(), folder);
  fclose(log);
}

void create_file(const char* name) {
  HANDLE file = CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

}  // namespace

int main(int argc, char** argv) {
  append_log("fake_tool_calls.log");
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (strncmp(arg, "log=", 4) == 0) append_log(arg + 4);
    else if (strncmp(arg, "sleep=", 6) == 0) Sleep(static_cast<DWORD>(atoi(arg + 6)));
    else if (strcmp(arg, "marker") == 0) create_file("krv_patch_apply_err.txt");
    else if (strcmp(arg, "marker_dir") == 0) CreateDirectoryA("krv_patch_apply_err.txt", nullptr);
    else if (strncmp(arg, "touch=", 6) == 0) create_file(arg + 6);
  }
  return 0;
}

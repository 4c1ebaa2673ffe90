// Appending timestamped UTF-8 lines to the run log.
#include "run_log_win32.h"

#include <string>

#include "log_line.h"

namespace {

std::string utf8_of(std::wstring_view text) {
  if (text.empty()) return {};
  int length = static_cast<int>(text.size());
  int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), length, &out[0], size, nullptr, nullptr);
  return out;
}

HANDLE open_for_append(const std::wstring& path) {
  return CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                     OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Creates the folders of a full path from the outermost inwards; results are
// ignored, the open that follows tells whether it was enough.
void create_parent_folders(const std::wstring& path) {
  DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return;
  std::wstring full(needed, L'\0');
  DWORD length = GetFullPathNameW(path.c_str(), needed, &full[0], nullptr);
  if (length == 0 || length >= needed) return;
  full.resize(length);
  // Past the root ("C:\" or "\\server\share\"): the first separator after
  // position 3 starts the folders.
  for (size_t at = full.find(L'\\', 3); at != std::wstring::npos; at = full.find(L'\\', at + 1)) {
    CreateDirectoryW(full.substr(0, at).c_str(), nullptr);
  }
}

}  // namespace

RunLog::~RunLog() {
  if (is_open()) CloseHandle(file_);
}

bool RunLog::open(const std::wstring& path) {
  if (is_open() || path.empty()) return is_open();
  file_ = open_for_append(path);
  if (!is_open() && GetLastError() == ERROR_PATH_NOT_FOUND) {
    create_parent_folders(path);
    file_ = open_for_append(path);
  }
  return is_open();
}

void RunLog::write(std::wstring_view text) {
  if (is_open()) write_utf8(utf8_of(text));
}

void RunLog::write_utf8(std::string_view text) {
  if (!is_open()) return;
  SYSTEMTIME now{};
  GetLocalTime(&now);
  LogTime time;
  time.year = now.wYear;
  time.month = now.wMonth;
  time.day = now.wDay;
  time.hour = now.wHour;
  time.minute = now.wMinute;
  time.second = now.wSecond;
  time.millisecond = now.wMilliseconds;
  std::string line = format_log_line(time, text);
  DWORD written = 0;
  // A failed write loses this line only; the run goes on.
  WriteFile(file_, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

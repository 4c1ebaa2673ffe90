// Windows side of the tool's platform calls.
#include <windows.h>
#include <io.h>
#include <shellapi.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "platform.h"

namespace {

wchar_t g_cleanup_path[4096];
volatile sig_atomic_t g_cleanup_set = 0;

void on_interrupt(int signal_number) {
  if (g_cleanup_set) DeleteFileW(g_cleanup_path);
  _exit(128 + signal_number);
}

std::wstring widen(const std::string& utf8) {
  int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                   nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  if (length > 0) {
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], length);
  }
  return wide;
}

std::string narrow(const wchar_t* wide, UINT code_page) {
  int length = WideCharToMultiByte(code_page, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (length <= 1) return std::string();
  std::string out(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(code_page, 0, wide, -1, &out[0], length, nullptr, nullptr);
  out.resize(static_cast<size_t>(length - 1));
  return out;
}

std::string error_code_text(DWORD code) {
  char text[256] = "";
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                 text, sizeof text, nullptr);
  std::string out = text;
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == '.')) {
    out.pop_back();
  }
  return out.empty() ? "system error " + std::to_string(code) : out;
}

std::string last_error_text() { return error_code_text(GetLastError()); }

}  // namespace

std::string system_error_text(uint32_t code) { return error_code_text(code); }

std::vector<std::string> program_arguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> out;
  for (int i = 0; i < count; ++i) out.push_back(narrow(wide[i], CP_UTF8));
  LocalFree(wide);
  return out;
}

bool stderr_is_terminal() { return _isatty(_fileno(stderr)) != 0; }

std::string path_for_package_reader(const std::string& utf8_path) {
  return narrow(widen(utf8_path).c_str(), CP_ACP);
}

bool create_new_file(const std::string& utf8_path, NewFile* file, std::string* error) {
  file->open = false;
  HANDLE handle = CreateFileW(widen(utf8_path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    *error = last_error_text();
    return false;
  }
  file->handle = reinterpret_cast<intptr_t>(handle);
  file->open = true;
  return true;
}

bool write_new_file(NewFile* file, const uint8_t* data, size_t size, std::string* error) {
  HANDLE handle = reinterpret_cast<HANDLE>(file->handle);
  while (size > 0) {
    DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(handle, data, chunk, &written, nullptr) || written == 0) {
      *error = last_error_text();
      return false;
    }
    data += written;
    size -= written;
  }
  return true;
}

bool finish_new_file(NewFile* file, std::string* error) {
  HANDLE handle = reinterpret_cast<HANDLE>(file->handle);
  file->open = false;
  bool flushed = FlushFileBuffers(handle) != 0;
  if (!flushed) *error = last_error_text();
  bool closed = CloseHandle(handle) != 0;
  if (flushed && !closed) *error = last_error_text();
  return flushed && closed;
}

void abandon_new_file(NewFile* file) {
  if (file->open) CloseHandle(reinterpret_cast<HANDLE>(file->handle));
  file->open = false;
}

bool replace_file(const std::string& utf8_from, const std::string& utf8_to, std::string* error) {
  if (MoveFileExW(widen(utf8_from).c_str(), widen(utf8_to).c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  *error = last_error_text();
  return false;
}

bool remove_file(const std::string& utf8_path) {
  return DeleteFileW(widen(utf8_path).c_str()) != 0;
}

void set_interrupt_cleanup(const std::string& utf8_path) {
  g_cleanup_set = 0;
  std::wstring wide = widen(utf8_path);
  if (wide.empty() || wide.size() >= sizeof g_cleanup_path / sizeof g_cleanup_path[0]) return;
  wide.copy(g_cleanup_path, wide.size());
  g_cleanup_path[wide.size()] = L'\0';
  g_cleanup_set = 1;
  static bool installed = false;
  if (!installed) {
    std::signal(SIGINT, on_interrupt);
    std::signal(SIGTERM, on_interrupt);
    installed = true;
  }
}

unsigned process_id() { return static_cast<unsigned>(GetCurrentProcessId()); }

int run_shell_command(const std::string& utf8_command, std::string* error) {
  fflush(stdout);
  // cmd.exe /c strips one pair of outer quotes: keep the line whole.
  std::wstring line = L"\"" + widen(utf8_command) + L"\"";
  int status = _wsystem(line.c_str());
  if (status == -1) *error = "cannot start cmd.exe";
  return status;
}

std::string shell_quoted(const std::string& utf8_path) { return "\"" + utf8_path + "\""; }

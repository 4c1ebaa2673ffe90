// Windows side of the tool's platform calls.
#include <windows.h>
#include <io.h>
#include <shellapi.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "file_io.h"
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
  wchar_t text[256] = L"";
  FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                 text, sizeof text / sizeof text[0], nullptr);
  std::string out = narrow(text, CP_UTF8);
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

void write_output_text(bool to_stderr, const std::string& utf8) {
  FILE* stream = to_stderr ? stderr : stdout;
  HANDLE handle = GetStdHandle(to_stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (handle != INVALID_HANDLE_VALUE && handle != nullptr && GetConsoleMode(handle, &mode)) {
    // A console shows UTF-16 whatever its code page; what stdio holds goes first.
    fflush(stream);
    std::wstring wide = widen(utf8);
    const wchar_t* at = wide.data();
    size_t left = wide.size();
    while (left > 0) {
      DWORD chunk = left > 16384 ? 16384 : static_cast<DWORD>(left);
      DWORD written = 0;
      if (!WriteConsoleW(handle, at, chunk, &written, nullptr) || written == 0) return;
      at += written;
      left -= written;
    }
    return;
  }
  fwrite(utf8.data(), 1, utf8.size(), stream);
}

void MappedFile::release() {
  if (data_ != nullptr) UnmapViewOfFile(data_);
  if (mapping_ != -1) CloseHandle(reinterpret_cast<HANDLE>(mapping_));
  if (file_ != -1) CloseHandle(reinterpret_cast<HANDLE>(file_));
  data_ = nullptr;
  size_ = 0;
  file_ = mapping_ = -1;
}

bool map_file_for_reading(const std::string& utf8_path, MappedFile* file, std::string* error) {
  HANDLE handle = CreateFileW(widen(utf8_path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    DWORD code = GetLastError();
    *error = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ? "no such file"
                                                                         : last_error_text();
    return false;
  }
  LARGE_INTEGER size = {};
  BY_HANDLE_FILE_INFORMATION info = {};
  std::string reason;
  if (!GetFileSizeEx(handle, &size) || !GetFileInformationByHandle(handle, &info)) {
    reason = last_error_text();
  } else if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    reason = "not a file";
  } else if (size.QuadPart == 0) {
    reason = "the file is empty";
  } else if (static_cast<uint64_t>(size.QuadPart) > UINT32_MAX) {
    reason = "the file is 4 GiB or more";
  }
  HANDLE mapping = nullptr;
  const void* view = nullptr;
  if (reason.empty()) {
    mapping = CreateFileMappingW(handle, nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (mapping != nullptr) view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
    if (view == nullptr) reason = last_error_text();
  }
  if (view == nullptr) {
    *error = reason;
    if (mapping != nullptr) CloseHandle(mapping);
    CloseHandle(handle);
    return false;
  }
  file->adopt(static_cast<const uint8_t*>(view), static_cast<size_t>(size.QuadPart),
              reinterpret_cast<intptr_t>(handle), reinterpret_cast<intptr_t>(mapping));
  return true;
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

bool write_new_file_at(NewFile* file, uint64_t offset, const uint8_t* data, size_t size,
                       std::string* error) {
  HANDLE handle = reinterpret_cast<HANDLE>(file->handle);
  LARGE_INTEGER at, end;
  at.QuadPart = static_cast<LONGLONG>(offset);
  LARGE_INTEGER zero = {};
  if (!SetFilePointerEx(handle, zero, &end, FILE_CURRENT) ||
      !SetFilePointerEx(handle, at, nullptr, FILE_BEGIN)) {
    *error = last_error_text();
    return false;
  }
  bool ok = write_new_file(file, data, size, error);
  if (!SetFilePointerEx(handle, end, nullptr, FILE_BEGIN) && ok) {
    *error = last_error_text();
    ok = false;
  }
  return ok;
}

bool set_new_file_size(NewFile* file, uint64_t size, std::string* error) {
  HANDLE handle = reinterpret_cast<HANDLE>(file->handle);
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(size);
  if (SetFilePointerEx(handle, at, nullptr, FILE_BEGIN) && SetEndOfFile(handle)) return true;
  *error = last_error_text();
  return false;
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

std::string executable_path() {
  std::wstring path(32768, L'\0');
  DWORD length = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
  if (length == 0 || length >= path.size()) return std::string();
  path.resize(length);
  return narrow(path.c_str(), CP_UTF8);
}

bool InputFile::fail(const std::string& reason, std::string* error) const {
  *error = "cannot read \"" + path_ + "\": " + reason;
  return false;
}

bool InputFile::open(const std::string& utf8_path, std::string* error) {
  close();
  path_ = utf8_path;
  HANDLE handle = CreateFileW(widen(utf8_path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return fail(last_error_text(), error);
  handle_ = reinterpret_cast<intptr_t>(handle);
  return true;
}

bool InputFile::size(uint64_t* size, std::string* error) {
  LARGE_INTEGER value;
  if (!GetFileSizeEx(reinterpret_cast<HANDLE>(handle_), &value)) return fail(last_error_text(), error);
  *size = static_cast<uint64_t>(value.QuadPart);
  return true;
}

bool InputFile::read_some(uint8_t* buffer, size_t capacity, size_t* got, std::string* error) {
  DWORD chunk = capacity > 0x40000000 ? 0x40000000 : static_cast<DWORD>(capacity);
  DWORD read = 0;
  if (!ReadFile(reinterpret_cast<HANDLE>(handle_), buffer, chunk, &read, nullptr)) {
    return fail(last_error_text(), error);
  }
  *got = read;
  return true;
}

void InputFile::close() {
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = -1;
}

int run_shell_command(const std::string& utf8_command, std::string* error) {
  fflush(stdout);
  // cmd.exe /c strips one pair of outer quotes: keep the line whole.
  std::wstring line = L"\"" + widen(utf8_command) + L"\"";
  int status = _wsystem(line.c_str());
  if (status == -1) *error = "cannot start cmd.exe";
  return status;
}

std::string shell_quoted(const std::string& utf8_path) { return "\"" + utf8_path + "\""; }

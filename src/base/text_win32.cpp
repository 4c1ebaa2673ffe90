#include "text_win32.h"

#include <climits>

namespace {

constexpr UINT kPackageCodePage = 1251;

std::wstring widen(UINT code_page, std::string_view bytes) {
  if (bytes.empty() || bytes.size() > INT_MAX) return {};
  int size = static_cast<int>(bytes.size());
  int needed = MultiByteToWideChar(code_page, 0, bytes.data(), size, nullptr, 0);
  if (needed <= 0) return {};
  std::wstring text(static_cast<size_t>(needed), L'\0');
  int written = MultiByteToWideChar(code_page, 0, bytes.data(), size, text.data(), needed);
  text.resize(written > 0 ? static_cast<size_t>(written) : 0);
  return text;
}

bool starts_with(const std::wstring& text, std::wstring_view prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

std::wstring widen_1251(std::string_view bytes) { return widen(kPackageCodePage, bytes); }

std::wstring widen_utf8(std::string_view bytes) { return widen(CP_UTF8, bytes); }

std::string narrow_utf8(std::wstring_view text) {
  if (text.empty() || text.size() > INT_MAX) return {};
  int size = static_cast<int>(text.size());
  int needed = WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return {};
  std::string bytes(static_cast<size_t>(needed), '\0');
  int written =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), size, bytes.data(), needed, nullptr, nullptr);
  bytes.resize(written > 0 ? static_cast<size_t>(written) : 0);
  return bytes;
}

std::wstring extended_path(const std::wstring& path) {
  if (path.empty()) return {};
  if (starts_with(path, L"\\\\?\\")) return path;
  DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return {};
  std::wstring full(needed, L'\0');
  DWORD length = GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
  if (length == 0 || length >= needed) return {};
  full.resize(length);
  if (starts_with(full, L"\\\\.\\")) return full;  // devices stay as they are
  if (starts_with(full, L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

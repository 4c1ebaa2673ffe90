#include "target_file.h"

#include "text_win32.h"

WinResult write_target(const Package& package, int index, const std::wstring& target) {
  const DirectoryEntry& entry = package.entries[index];
  UniqueHandle file(CreateFileW(target.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return WinResult{GetLastError()};
  // An empty file is valid content; only its mapping would be refused.
  if (entry.size == 0) return WinResult{};
  UniqueHandle mapping(
      CreateFileMappingW(file.get(), nullptr, PAGE_READWRITE, 0, entry.size, nullptr));
  if (!mapping.valid()) return WinResult{GetLastError()};
  UniqueView view(MapViewOfFile(mapping.get(), FILE_MAP_WRITE, 0, 0, 0));
  if (view.get() == nullptr) return WinResult{GetLastError()};
  if (!load_entry_into(&package, index, static_cast<uint8_t*>(view.get()))) {
    return WinResult{ERROR_INVALID_DATA};  // the entry does not decode to its size
  }
  return WinResult{};
}

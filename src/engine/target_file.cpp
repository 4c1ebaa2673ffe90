// The file steps of writing one entry: create, then fill through a mapping
// or by WriteFile from decoded content.
#include "target_file.h"

#include <utility>

#include "file_safety.h"
#include "text_win32.h"

namespace {

// From this size on the file's length is set before it is written, so that
// the file system allocates it at once; below it the extra call cost more
// than it saved (bench/write_methods.cpp under Wine: 1 KiB to 256 KiB).
constexpr size_t kSizeFirstFrom = size_t{1} << 20;

// Whoever writes the target holds it alone; others may read it.
UniqueHandle create_target(const std::wstring& target) {
  return UniqueHandle(CreateFileW(target.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                  nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

}  // namespace

WinResult write_target_mapped(const Package& package, int index, const std::wstring& target) {
  const DirectoryEntry& entry = package.entries[index];
  UniqueHandle file = create_target(target);
  if (!file.valid()) return WinResult{GetLastError()};
  // An empty file is valid content; only its mapping would be refused.
  if (entry.size == 0) return WinResult{};
  WinResult reserved{reserve_file_space(file.get(), entry.size)};
  if (!reserved.ok()) return reserved;
  UniqueHandle mapping(
      CreateFileMappingW(file.get(), nullptr, PAGE_READWRITE, 0, entry.size, nullptr));
  if (!mapping.valid()) return WinResult{GetLastError()};
  UniqueView view(MapViewOfFile(mapping.get(), FILE_MAP_WRITE, 0, 0, 0));
  if (view.get() == nullptr) return WinResult{GetLastError()};
  // ERROR_INVALID_DATA when the entry does not decode to its size; a fault
  // of either view ends here as its error code.
  return WinResult{fill_from_entry(package, index, static_cast<uint8_t*>(view.get()), entry.size)};
}

WinResult write_target_from(const uint8_t* content, size_t size, const std::wstring& target,
                            UniqueHandle* written_file) {
  if (size > MAXDWORD) return WinResult{ERROR_FILE_TOO_LARGE};
  UniqueHandle file = create_target(target);
  if (!file.valid()) return WinResult{GetLastError()};
  if (size >= kSizeFirstFrom) {
    FILE_END_OF_FILE_INFO end = {};
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
    if (!SetFileInformationByHandle(file.get(), FileEndOfFileInfo, &end, sizeof end)) {
      return WinResult{GetLastError()};
    }
  }
  DWORD written = 0;
  if (size != 0 && !WriteFile(file.get(), content, static_cast<DWORD>(size), &written, nullptr)) {
    return WinResult{GetLastError()};
  }
  // A disk file is written whole or the call fails; anything else is a fault.
  if (written != size) return WinResult{ERROR_WRITE_FAULT};
  if (written_file != nullptr) *written_file = std::move(file);
  return WinResult{};
}

WinResult create_failed_target(const std::wstring& target, DWORD error) {
  UniqueHandle file = create_target(target);
  return WinResult{file.valid() ? error : GetLastError()};
}

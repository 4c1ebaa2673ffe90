// Opening and mapping a package file with the Win32 file calls.
#include <windows.h>

#include "package.h"
#include "text_win32.h"

// The path is UTF-8, whatever the system's ANSI code page.
PackageResult map_package_file(Package* package, const char* path) {
  HANDLE file = CreateFileW(extended_path(widen_utf8(path)).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return package_refused(PackageError::kCannotOpen, GetLastError());
  }
  package->has_file = true;
  package->file = file;

  DWORD size_high = 0;
  DWORD size = GetFileSize(file, &size_high);
  // Packages and images are 32-bit; a larger file is not a package.
  if (size == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) {
    return package_refused(PackageError::kCannotOpen, GetLastError());
  }
  if (size_high != 0) return package_refused(PackageError::kTooLarge);
  // An empty file cannot be mapped: said here rather than by the mapping call.
  if (size == 0) return package_refused(PackageError::kEmptyFile);

  HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (mapping == nullptr) return package_refused(PackageError::kCannotMap, GetLastError());
  package->has_mapping = true;
  package->mapping = mapping;

  void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
  if (view == nullptr) return package_refused(PackageError::kCannotMap, GetLastError());
  package->view = static_cast<const uint8_t*>(view);
  package->file_size = size;
  return package_ok();
}

void unmap_package_file(Package* package) {
  if (package->has_file) {
    if (package->has_mapping) {
      if (package->view != nullptr) UnmapViewOfFile(package->view);
      CloseHandle(package->mapping);
    }
    CloseHandle(package->file);
  }
  package->view = nullptr;
  package->has_mapping = false;
  package->has_file = false;
}

// Space reservation, guarded copies out of the package and removal of
// read-only files.
#include "file_safety.h"

#include <cstdlib>

#include "fault_guard.h"

DWORD reserve_file_space(HANDLE file, uint64_t size) {
  FILE_ALLOCATION_INFO allocation = {};
  allocation.AllocationSize.QuadPart = static_cast<LONGLONG>(size);
  if (SetFileInformationByHandle(file, FileAllocationInfo, &allocation, sizeof allocation)) {
    return ERROR_SUCCESS;
  }
  DWORD error = GetLastError();
  switch (error) {
    case ERROR_CALL_NOT_IMPLEMENTED:
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_FUNCTION:
    case ERROR_INVALID_PARAMETER:
      return ERROR_SUCCESS;  // no reservation here; the guard stays
    default:
      return error;
  }
}

namespace {

GuardedRange package_range(const Package& package) {
  return GuardedRange{package.view, package.file_size};
}

DWORD package_still_whole(const Package& package) {
  HANDLE file = static_cast<HANDLE>(package.file);
  if (file == nullptr || file == INVALID_HANDLE_VALUE) return ERROR_SUCCESS;  // a view only
  LARGE_INTEGER size = {};
  if (!GetFileSizeEx(file, &size)) return GetLastError();
  bool whole = size.QuadPart >= 0 && static_cast<uint64_t>(size.QuadPart) >= package.file_size;
  return whole ? ERROR_SUCCESS : ERROR_HANDLE_EOF;
}

}  // namespace

DWORD fill_from_entry(const Package& package, int index, uint8_t* destination, size_t size) {
  bool filled = false;
  DWORD fault = run_guarded({package_range(package), GuardedRange{destination, size}}, [&] {
    filled = static_cast<bool>(load_entry_into(&package, index, destination));
  });
  if (fault != ERROR_SUCCESS) return fault;
  if (!filled) return ERROR_INVALID_DATA;
  return package_still_whole(package);
}

uint8_t* load_entry_guarded(const Package& package, int index) {
  if (package.entries == nullptr || index < 0 ||
      static_cast<uint32_t>(index) >= package.header.entry_count) {
    return nullptr;
  }
  const DirectoryEntry& entry = package.entries[index];
  if (!entry_size_plausible(entry)) return nullptr;
  // Allocated here rather than by load_entry, so that a fault in the copy
  // does not lose the buffer; free_entry_buffer releases malloc's blocks.
  uint8_t* buffer = static_cast<uint8_t*>(malloc(entry.size != 0 ? entry.size : 1));
  if (buffer == nullptr) return nullptr;
  if (fill_from_entry(package, index, buffer, entry.size) != ERROR_SUCCESS) {
    free_entry_buffer(buffer);
    return nullptr;
  }
  return buffer;
}

BOOL delete_file_even_read_only(const wchar_t* path) {
  if (DeleteFileW(path)) return TRUE;
  DWORD error = GetLastError();
  DWORD attributes = GetFileAttributesW(path);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_READONLY) == 0 ||
      (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    SetLastError(error);
    return FALSE;
  }
  if (!SetFileAttributesW(path, attributes & ~FILE_ATTRIBUTE_READONLY)) return FALSE;
  if (DeleteFileW(path)) return TRUE;
  error = GetLastError();
  SetFileAttributesW(path, attributes);
  SetLastError(error);
  return FALSE;
}

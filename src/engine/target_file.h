// Writing one package entry into a file: the ways PATCH.EXE fills a target,
// shared with the benchmark's baselines so that they cannot drift apart.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "package.h"
#include "text_win32.h"

// A Windows error code, or success.
struct WinResult {
  DWORD error = ERROR_SUCCESS;
  bool ok() const { return error == ERROR_SUCCESS; }
};

// Creates `target` (any path form the file functions take) and fills it
// from the entry through a writable mapping of exactly the entry's size;
// the first failing step's error code is the result; its space is reserved
// first and a fault of either view ends as an error code. For entries too
// large to hold in memory.
WinResult write_target_mapped(const Package& package, int index, const std::wstring& target);

// Creates `target` and writes the `size` bytes at `content`; a large file's
// length is set first, so that the file system allocates it once. After a
// success the file is left open in *written_file when it is given (its
// caller closes it), and closed here otherwise; after a failure it is closed.
WinResult write_target_from(const uint8_t* content, size_t size, const std::wstring& target,
                            UniqueHandle* written_file = nullptr);

// Creates `target` and fails with `error` without writing: an entry known
// not to decode takes the same steps as one found out while writing.
WinResult create_failed_target(const std::wstring& target, DWORD error);

// Writing one package entry into a file: the one way PATCH.EXE and the
// benchmark's baseline fill a target.
#pragma once

#include <windows.h>

#include <string>

#include "package.h"

// A Windows error code, or success.
struct WinResult {
  DWORD error = ERROR_SUCCESS;
  bool ok() const { return error == ERROR_SUCCESS; }
};

// Creates `target` (any path form the file functions take) and fills it
// from the entry through a writable mapping of exactly the entry's size;
// the first failing step's error code is the result.
WinResult write_target(const Package& package, int index, const std::wstring& target);

// The file steps of a replacement made safe against what the disk and the
// package may do meanwhile: space reserved before a mapped write, reads and
// writes of mapped views guarded against faults, and read-only files that
// must go.
#pragma once

#include <windows.h>

#include <cstdint>

#include "package.h"

// Reserves `size` bytes on the disk for an open, empty file, so that a full
// disk shows here as ERROR_DISK_FULL rather than later as a fault while a
// mapping of the file is written. A file system that cannot reserve space
// is no error: the guarded write below still catches that fault.
DWORD reserve_file_space(HANDLE file, uint64_t size);

// Fills `size` bytes at `destination` (a mapped view of the new file) with
// the entry's content. ERROR_SUCCESS; ERROR_INVALID_DATA when the entry does
// not decode to its size; or the error of a fault in the package's view or
// the destination (a package cut short, a disk that ran full). A package
// cut inside a page reads as zeros up to that page's end without a fault,
// so the file the view maps (package.file, where the package records it)
// must still be whole once the entry is read; ERROR_HANDLE_EOF when it
// shrank.
DWORD fill_from_entry(const Package& package, int index, uint8_t* destination, size_t size);

// load_entry with the same guard and the same check of the package file:
// null when the entry cannot be read whole. Release with free_entry_buffer.
uint8_t* load_entry_guarded(const Package& package, int index);

// DeleteFileW that also removes a read-only file, clearing the attribute
// first; a file that still cannot be deleted gets its attribute back.
BOOL delete_file_even_read_only(const wchar_t* path);

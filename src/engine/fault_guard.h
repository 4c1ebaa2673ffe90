// Memory faults inside mapped views turned into failures. A view of a file
// faults when the file can no longer be read (a package truncated or on a
// vanished drive) or when the disk is full as a written page goes out; such
// a fault, at an address inside the ranges a guard names, ends the guarded
// work early on the same thread, and the guard returns the reason instead of
// the process dying. Faults anywhere else are left to the system.
#pragma once

#include <windows.h>

#include <cstddef>
#include <initializer_list>
#include <type_traits>

struct GuardedRange {
  const void* start;
  size_t size;
};

// Runs work(context). ERROR_SUCCESS when it ran to its end; otherwise the
// Windows error code of the fault that ended it (the I/O error behind an
// in-page error where the system gives one, ERROR_NOACCESS for an access
// violation). Work that is cut short releases nothing it obtained, so it
// must not hold locks or owned resources across its reads and writes of
// the views. Guards may nest; the innermost one decides.
DWORD run_guarded(std::initializer_list<GuardedRange> ranges, void (*work)(void*), void* context);

template <typename Work>
DWORD run_guarded(std::initializer_list<GuardedRange> ranges, Work&& work) {
  using Callable = std::remove_reference_t<Work>;
  return run_guarded(
      ranges, [](void* callable) { (*static_cast<Callable*>(callable))(); },
      const_cast<void*>(static_cast<const void*>(&work)));
}

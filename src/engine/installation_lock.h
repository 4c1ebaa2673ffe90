// One update of an installation at a time, across processes: a named mutex
// that every run of the updater for the same registry key takes right after
// it opened its package and holds to the end of the run.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The mutex's name for a registry key already folded to lower case, as
// UTF-16 code units: "Global\" (one name for all sessions of the machine),
// the updater's prefix and a 64-bit hash of the key in hexadecimal, so that
// any key, however long or odd, gives a short valid object name.
std::u16string installation_lock_name(std::u16string_view folded_key);

#ifdef _WIN32
#include <windows.h>

// Owns the mutex while it is held: releases it and closes the handle on
// destruction. Must end on the thread that took it.
class InstallationLock {
 public:
  InstallationLock() = default;
  InstallationLock(InstallationLock&& other) noexcept : mutex_(other.mutex_) {
    other.mutex_ = nullptr;
  }
  InstallationLock& operator=(InstallationLock&& other) noexcept;
  InstallationLock(const InstallationLock&) = delete;
  InstallationLock& operator=(const InstallationLock&) = delete;
  ~InstallationLock() { release(); }
  bool held() const { return mutex_ != nullptr; }
  void release();

 private:
  friend DWORD acquire_installation_lock(std::wstring_view key_path, InstallationLock* lock);
  HANDLE mutex_ = nullptr;
};

// Waits, without a time-out, until no other run holds the lock of this key
// (registry key names are compared without regard to case), then holds it.
// A holder that ended without releasing it leaves it to the next run. The
// result is ERROR_SUCCESS or the Windows error code of the failed call.
DWORD acquire_installation_lock(std::wstring_view key_path, InstallationLock* lock);
#endif

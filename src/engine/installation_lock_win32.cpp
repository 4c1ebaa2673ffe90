// Taking and releasing the installation lock with a named mutex.
#include "installation_lock.h"

#include <string>

InstallationLock& InstallationLock::operator=(InstallationLock&& other) noexcept {
  if (this != &other) {
    release();
    mutex_ = other.mutex_;
    other.mutex_ = nullptr;
  }
  return *this;
}

void InstallationLock::release() {
  if (mutex_ == nullptr) return;
  ReleaseMutex(mutex_);
  CloseHandle(mutex_);
  mutex_ = nullptr;
}

namespace {

// The key as the registry compares it: folded by the system's own rules.
DWORD fold_key(std::wstring_view key_path, std::u16string* folded) {
  folded->clear();
  if (key_path.empty()) return ERROR_SUCCESS;
  // Registry paths are far shorter; this only keeps the length an int.
  if (key_path.size() > 0xFFFF) return ERROR_INVALID_DATA;
  int length = static_cast<int>(key_path.size());
  std::wstring lower(key_path.size(), L'\0');
  if (LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_LOWERCASE, key_path.data(), length, &lower[0],
                    length, nullptr, nullptr, 0) != length) {
    return GetLastError();
  }
  folded->assign(lower.begin(), lower.end());
  return ERROR_SUCCESS;
}

}  // namespace

DWORD acquire_installation_lock(std::wstring_view key_path, InstallationLock* lock) {
  lock->release();
  std::u16string folded;
  DWORD folding = fold_key(key_path, &folded);
  if (folding != ERROR_SUCCESS) return folding;
  std::u16string name16 = installation_lock_name(folded);
  std::wstring name(name16.begin(), name16.end());
  HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
  if (mutex == nullptr) return GetLastError();
  DWORD waited = WaitForSingleObject(mutex, INFINITE);
  // WAIT_ABANDONED: the last holder ended without releasing; the lock is
  // ours all the same.
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
    DWORD error = waited == WAIT_FAILED ? GetLastError() : ERROR_INVALID_HANDLE;
    CloseHandle(mutex);
    return error;
  }
  lock->mutex_ = mutex;
  return ERROR_SUCCESS;
}

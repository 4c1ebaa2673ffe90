// Windows text and handle helpers: package text (Windows-1251 by definition,
// whatever the system's ANSI code page), UTF-8 paths of the tools, paths
// without the MAX_PATH limit, and small owners of handles.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

// Package text converted from code page 1251; every byte has a character.
std::wstring widen_1251(std::string_view bytes);

// UTF-8 text (the tools' own paths) as UTF-16; invalid sequences become
// U+FFFD.
std::wstring widen_utf8(std::string_view bytes);
std::string narrow_utf8(std::wstring_view text);

// The form of a path given to file functions: the full path with the prefix
// "\\?\" ("\\?\UNC\" for network paths), so that no MAX_PATH limit applies.
// Resolved as the system would resolve the plain path ("..", "/", the
// current folder). An empty result when the path cannot be resolved.
std::wstring extended_path(const std::wstring& path);

// A kernel handle with one owner.
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { reset(nullptr); }

  // Both null and INVALID_HANDLE_VALUE mean "none": the API uses either.
  bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }
  HANDLE release() {
    HANDLE handle = handle_;
    handle_ = nullptr;
    return handle;
  }
  void reset(HANDLE handle) {
    if (valid()) CloseHandle(handle_);
    handle_ = handle;
  }

 private:
  HANDLE handle_ = nullptr;
};

// An open registry key with one owner.
class UniqueKey {
 public:
  UniqueKey() = default;
  UniqueKey(UniqueKey&& other) noexcept : key_(other.key_) { other.key_ = nullptr; }
  UniqueKey(const UniqueKey&) = delete;
  UniqueKey& operator=(const UniqueKey&) = delete;
  UniqueKey& operator=(UniqueKey&&) = delete;
  ~UniqueKey() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  HKEY get() const { return key_; }
  HKEY* out() { return &key_; }  // for RegOpenKeyExW on an empty owner

 private:
  HKEY key_ = nullptr;
};

// A mapped view with one owner.
class UniqueView {
 public:
  UniqueView() = default;
  explicit UniqueView(void* view) : view_(view) {}
  UniqueView(UniqueView&& other) noexcept : view_(other.view_) { other.view_ = nullptr; }
  UniqueView(const UniqueView&) = delete;
  UniqueView& operator=(const UniqueView&) = delete;
  UniqueView& operator=(UniqueView&&) = delete;
  ~UniqueView() { reset(nullptr); }
  void* get() const { return view_; }
  void reset(void* view) {
    if (view_ != nullptr) UnmapViewOfFile(view_);
    view_ = view;
  }

 private:
  void* view_ = nullptr;
};

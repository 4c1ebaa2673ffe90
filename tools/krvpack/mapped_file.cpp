// The portable half of MappedFile: moving and adopting a view. Releasing it
// is the platform's (platform_posix.cpp, platform_win32.cpp).
#include "platform.h"

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
  if (this != &other) {
    release();
    take(other);
  }
  return *this;
}

void MappedFile::take(MappedFile& other) {
  data_ = other.data_;
  size_ = other.size_;
  file_ = other.file_;
  mapping_ = other.mapping_;
  other.data_ = nullptr;
  other.size_ = 0;
  other.file_ = other.mapping_ = -1;
}

void MappedFile::adopt(const uint8_t* data, size_t size, intptr_t file, intptr_t mapping) {
  release();
  data_ = data;
  size_ = size;
  file_ = file;
  mapping_ = mapping;
}

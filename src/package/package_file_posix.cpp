// Opening and mapping a package file on a POSIX host (publishers' tool, tests).
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "package.h"

PackageResult map_package_file(Package* package, const char* path) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return package_refused(PackageError::kCannotOpen, static_cast<uint32_t>(errno));
  package->has_file = true;
  package->file = fd;

  struct stat info;
  if (fstat(fd, &info) != 0) return package_refused(PackageError::kCannotOpen, static_cast<uint32_t>(errno));
  if (!S_ISREG(info.st_mode)) return package_refused(PackageError::kNotAFile);
  // As on Windows: an empty file cannot be mapped, and packages are 32-bit.
  if (info.st_size <= 0) return package_refused(PackageError::kEmptyFile);
  if (static_cast<uint64_t>(info.st_size) > UINT32_MAX) return package_refused(PackageError::kTooLarge);

  void* view = mmap(nullptr, static_cast<size_t>(info.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
  if (view == MAP_FAILED) return package_refused(PackageError::kCannotMap, static_cast<uint32_t>(errno));
  package->has_mapping = true;
  package->view = static_cast<const uint8_t*>(view);
  package->file_size = static_cast<size_t>(info.st_size);
  return package_ok();
}

void unmap_package_file(Package* package) {
  if (package->has_file) {
    if (package->has_mapping && package->view != nullptr) {
      munmap(const_cast<uint8_t*>(package->view), package->file_size);
    }
    close(static_cast<int>(package->file));
  }
  package->view = nullptr;
  package->has_mapping = false;
  package->has_file = false;
}

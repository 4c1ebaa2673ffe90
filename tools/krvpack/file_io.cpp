#include "file_io.h"

bool InputFile::read_exact(uint8_t* buffer, size_t size, std::string* error) {
  size_t done = 0;
  while (done < size) {
    size_t got = 0;
    if (!read_some(buffer + done, size - done, &got, error)) return false;
    if (got == 0) return fail("the file became shorter while it was read", error);
    done += got;
  }
  return true;
}

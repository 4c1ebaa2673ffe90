#include "fixed_text.h"

#include <cstdio>
#include <cstring>

bool text_vformat(char* buffer, size_t capacity, const char* format, va_list args) {
  if (buffer == nullptr || capacity == 0) return false;
  va_list measure;
  va_copy(measure, args);
  int needed = vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (needed < 0 || static_cast<size_t>(needed) >= capacity) return false;
  vsnprintf(buffer, capacity, format, args);
  return true;
}

bool text_format_n(char* buffer, size_t capacity, const char* format, ...) {
  va_list args;
  va_start(args, format);
  bool fitted = text_vformat(buffer, capacity, format, args);
  va_end(args);
  return fitted;
}

bool text_append_n(char* buffer, size_t capacity, const char* tail) {
  if (buffer == nullptr || capacity == 0) return false;
  const char* end = static_cast<const char*>(memchr(buffer, 0, capacity));
  if (end == nullptr) return false;
  size_t used = static_cast<size_t>(end - buffer);
  size_t tail_length = strlen(tail);
  if (tail_length >= capacity - used) return false;
  memcpy(buffer + used, tail, tail_length + 1);
  return true;
}

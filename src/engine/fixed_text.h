// Bounded text in fixed buffers. Every write is all-or-nothing: when the
// result would not fit, the buffer keeps what it held and the call says so.
#pragma once

#include <cstdarg>
#include <cstddef>

bool text_vformat(char* buffer, size_t capacity, const char* format, va_list args);

__attribute__((format(printf, 3, 4))) bool text_format_n(char* buffer, size_t capacity,
                                                          const char* format, ...);

// The capacity is always the real size of the array.
template <size_t N>
__attribute__((format(printf, 2, 3))) bool text_format(char (&buffer)[N], const char* format,
                                                        ...) {
  va_list args;
  va_start(args, format);
  bool fitted = text_vformat(buffer, N, format, args);
  va_end(args);
  return fitted;
}

// Appends a terminated string; false (buffer unchanged) when it does not fit.
bool text_append_n(char* buffer, size_t capacity, const char* tail);

template <size_t N>
bool text_append(char (&buffer)[N], const char* tail) {
  return text_append_n(buffer, N, tail);
}

// The buffer sizes the run works with.
constexpr size_t kPathCapacity = 512;
constexpr size_t kCommandCapacity = 1024;
constexpr size_t kStatusCapacity = 65536;

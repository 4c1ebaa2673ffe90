// Bounded text in fixed buffers. Every write is all-or-nothing: when the
// result would not fit, the buffer keeps what it held and the call says so.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

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

// The text form of the run, in characters of any width: each "%s" of the
// pattern takes the next argument, "%%" is a percent sign. The result,
// with room for a terminator, must fit `capacity` characters; when it does
// not, `out` keeps what it held and the call says false.
template <typename Char>
bool format_bounded(std::basic_string<Char>* out, size_t capacity,
                    std::basic_string_view<Char> pattern,
                    std::initializer_list<std::basic_string_view<Char>> arguments) {
  std::basic_string<Char> text;
  auto next = arguments.begin();
  for (size_t i = 0; i < pattern.size(); ++i) {
    bool directive = pattern[i] == Char('%') && i + 1 < pattern.size();
    if (directive && pattern[i + 1] == Char('s') && next != arguments.end()) {
      text.append(*next++);
      ++i;
    } else if (directive && pattern[i + 1] == Char('%')) {
      text.push_back(Char('%'));
      ++i;
    } else {
      text.push_back(pattern[i]);
    }
    if (text.size() >= capacity) return false;
  }
  if (text.size() >= capacity) return false;
  *out = std::move(text);
  return true;
}

// The buffer sizes the run works with.
constexpr size_t kPathCapacity = 512;
constexpr size_t kCommandCapacity = 1024;
constexpr size_t kStatusCapacity = 65536;

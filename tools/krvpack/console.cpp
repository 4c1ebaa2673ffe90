#include "console.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "platform.h"

namespace {

std::string formatted(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  int length = vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (length <= 0) return std::string();
  std::vector<char> text(static_cast<size_t>(length) + 1);
  vsnprintf(text.data(), text.size(), format, args);
  return std::string(text.data(), static_cast<size_t>(length));
}

}  // namespace

void print_out(const std::string& utf8) { write_output_text(false, utf8); }
void print_err(const std::string& utf8) { write_output_text(true, utf8); }

void printf_out(const char* format, ...) {
  va_list args;
  va_start(args, format);
  print_out(formatted(format, args));
  va_end(args);
}

void printf_err(const char* format, ...) {
  va_list args;
  va_start(args, format);
  print_err(formatted(format, args));
  va_end(args);
}

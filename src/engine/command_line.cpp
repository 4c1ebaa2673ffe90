#include "command_line.h"

#include <cstdlib>
#include <cstring>

namespace {

bool is_blank(unsigned char c) { return c >= 0x01 && c <= 0x20; }
bool is_high(unsigned char c) { return c >= 0x80; }

bool store_argument(ArgumentList* arguments, const char* start, size_t length) {
  char* copy = static_cast<char*>(malloc(length + 1));
  if (copy == nullptr) return false;
  memcpy(copy, start, length);
  copy[length] = '\0';
  arguments->slots[arguments->count++] = copy;
  return true;
}

}  // namespace

bool split_command_line(const char* command_line, ArgumentList* arguments) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(command_line);
  while (arguments->count < kArgumentSlots) {
    if (*p == 0 || is_high(*p)) break;
    while (*p != 0 && (is_blank(*p) || is_high(*p))) ++p;
    if (*p == 0) break;

    const unsigned char* start;
    const unsigned char* end;
    if (*p == '"') {
      start = p + 1;
      end = start;
      while (*end != 0 && *end != '"') ++end;
    } else {
      start = p;
      end = start;
      while (*end != 0 && !is_blank(*end) && !is_high(*end)) ++end;
    }
    if (end == start) break;  // "" ends the splitting
    if (!store_argument(arguments, reinterpret_cast<const char*>(start),
                        static_cast<size_t>(end - start))) {
      return false;
    }
    p = end;
    if (*p == '"') ++p;
  }
  return true;
}

void release_arguments(ArgumentList* arguments) {
  for (int i = 0; i < arguments->count; ++i) free(arguments->slots[i]);
  arguments->count = 0;
}

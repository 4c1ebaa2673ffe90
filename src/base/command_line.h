// Splitting the process command line into the run's arguments: blanks are
// 0x01..0x20, a character at or above 0x80 ends an unquoted argument, there
// are no escapes. One rule set for the byte form and the UTF-16 form.
#pragma once

#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

constexpr size_t kArgumentSlots = 256;

namespace command_line_detail {

template <typename Char>
unsigned long code_of(Char c) {
  return static_cast<unsigned long>(static_cast<std::make_unsigned_t<Char>>(c));
}
template <typename Char>
bool is_blank(Char c) {
  return code_of(c) >= 0x01 && code_of(c) <= 0x20;
}
template <typename Char>
bool is_high(Char c) {
  return code_of(c) >= 0x80;
}

}  // namespace command_line_detail

// Arguments beyond the 256th are ignored. A NUL inside the view ends it.
template <typename Char>
std::vector<std::basic_string<Char>> split_command_line(std::basic_string_view<Char> line) {
  using namespace command_line_detail;
  std::vector<std::basic_string<Char>> arguments;
  line = line.substr(0, line.find(Char(0)));
  size_t p = 0;
  const size_t n = line.size();
  while (arguments.size() < kArgumentSlots) {
    if (p >= n || is_high(line[p])) break;
    while (p < n && (is_blank(line[p]) || is_high(line[p]))) ++p;
    if (p >= n) break;

    size_t start;
    size_t end;
    if (line[p] == Char('"')) {
      start = p + 1;
      end = start;
      while (end < n && line[end] != Char('"')) ++end;
    } else {
      start = p;
      end = start;
      while (end < n && !is_blank(line[end]) && !is_high(line[end])) ++end;
    }
    if (end == start) break;  // "" ends the splitting
    arguments.emplace_back(line.substr(start, end - start));
    p = end;
    if (p < n && line[p] == Char('"')) ++p;
  }
  return arguments;
}

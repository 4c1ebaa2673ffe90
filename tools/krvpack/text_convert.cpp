#include "text_convert.h"

#include <cstdint>
#include <cstdio>

#include "cp1251.h"

namespace {

struct Composition {
  uint32_t base, mark, composed;
};

constexpr Composition kCompositions[] = {
    {0x0438, 0x0306, 0x0439}, {0x0418, 0x0306, 0x0419},  // й Й
    {0x0435, 0x0308, 0x0451}, {0x0415, 0x0308, 0x0401},  // ё Ё
    {0x0456, 0x0308, 0x0457}, {0x0406, 0x0308, 0x0407},  // ї Ї
    {0x0443, 0x0306, 0x045E}, {0x0423, 0x0306, 0x040E},  // ў Ў
    {0x0433, 0x0301, 0x0453}, {0x0413, 0x0301, 0x0403},  // ѓ Ѓ
    {0x043A, 0x0301, 0x045C}, {0x041A, 0x0301, 0x040C},  // ќ Ќ
};

// One code point starting at *pos; false on malformed UTF-8 (pos unchanged).
bool next_code_point(std::string_view text, size_t* pos, uint32_t* cp) {
  size_t at = *pos;
  unsigned char lead = static_cast<unsigned char>(text[at]);
  size_t length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3
                                    : (lead >> 3) == 30 ? 4 : 0;
  if (length == 0 || length > text.size() - at) return false;
  uint32_t value = length == 1 ? lead : lead & (0x7F >> length);
  for (size_t i = 1; i < length; ++i) {
    unsigned char next = static_cast<unsigned char>(text[at + i]);
    if ((next & 0xC0) != 0x80) return false;
    value = (value << 6) | (next & 0x3F);
  }
  *cp = value;
  *pos = at + length;
  return true;
}

void append_utf8(uint32_t cp, std::string* out) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

uint32_t composed(uint32_t base, uint32_t mark) {
  for (const Composition& c : kCompositions) {
    if (c.base == base && c.mark == mark) return c.composed;
  }
  return 0;
}

}  // namespace

std::string compose_for_cp1251(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  size_t pos = 0;
  while (pos < utf8.size()) {
    size_t start = pos;
    uint32_t cp = 0;
    if (!next_code_point(utf8, &pos, &cp)) {  // left for the converter to name
      out.append(utf8.substr(start));
      break;
    }
    size_t after = pos;
    uint32_t mark = 0;
    uint32_t letter = 0;
    if (after < utf8.size() && next_code_point(utf8, &after, &mark) &&
        (letter = composed(cp, mark)) != 0) {
      append_utf8(letter, &out);
      pos = after;
    } else {
      out.append(utf8.substr(start, pos - start));
    }
  }
  return out;
}

bool text_to_cp1251(std::string_view utf8, std::string* cp1251, std::string* error) {
  std::string text = compose_for_cp1251(utf8);
  std::string out, problems;
  size_t pos = 0;
  size_t character = 0;
  while (pos < text.size()) {
    size_t start = pos;
    uint32_t cp = 0;
    ++character;
    std::string problem;
    if (!next_code_point(text, &pos, &cp)) {
      problem = "invalid UTF-8 at character " + std::to_string(character);
      pos = start + 1;
    } else {
      std::string one;
      std::string_view bytes = std::string_view(text).substr(start, pos - start);
      if (utf8_to_cp1251(bytes, &one, &problem)) {
        out += one;
        problem.clear();
      } else {
        char message[128];
        snprintf(message, sizeof message,
                 "character \"%s\" (U+%04X) at position %zu has no Windows-1251 form",
                 std::string(bytes).c_str(), cp, character);
        problem = message;
      }
    }
    if (!problem.empty()) problems += (problems.empty() ? "" : "; ") + problem;
  }
  if (!problems.empty()) {
    *error = problems;
    return false;
  }
  cp1251->swap(out);
  return true;
}

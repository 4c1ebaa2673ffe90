// Windows-1251, the code page of every text a package carries.
#include "cp1251.h"

#include <cstdint>
#include <cstdio>

namespace {

// Unicode code points of the bytes 0x80..0xFF; 0xFFFD marks the one
// unassigned byte, 0x98.
constexpr uint16_t kHighHalf[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0xFFFD, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F};

bool decode_utf8(std::string_view in, size_t* pos, uint32_t* code_point) {
  unsigned char lead = static_cast<unsigned char>(in[*pos]);
  int extra = lead < 0x80 ? 0 : (lead >> 5) == 0x6 ? 1 : (lead >> 4) == 0xE ? 2
            : (lead >> 3) == 0x1E ? 3 : -1;
  if (extra < 0 || in.size() - *pos <= static_cast<size_t>(extra)) return false;
  uint32_t cp = extra == 0 ? lead : lead & (0x3F >> extra);
  for (int i = 1; i <= extra; ++i) {
    unsigned char next = static_cast<unsigned char>(in[*pos + i]);
    if ((next & 0xC0) != 0x80) return false;
    cp = (cp << 6) | (next & 0x3F);
  }
  static const uint32_t kMinimum[4] = {0, 0x80, 0x800, 0x10000};
  if (cp < kMinimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
  *pos += static_cast<size_t>(extra) + 1;
  *code_point = cp;
  return true;
}

void append_utf8(std::string* out, uint32_t cp) {
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

bool encode_code_point(uint32_t cp, char* byte) {
  if (cp < 0x80) {
    *byte = static_cast<char>(cp);
    return true;
  }
  for (int i = 0; i < 128; ++i) {
    if (kHighHalf[i] == cp && cp != 0xFFFD) {
      *byte = static_cast<char>(0x80 + i);
      return true;
    }
  }
  return false;
}

}  // namespace

bool utf8_to_cp1251(std::string_view utf8, std::string* cp1251, std::string* error) {
  std::string out;
  out.reserve(utf8.size());
  size_t pos = 0;
  size_t character = 0;
  while (pos < utf8.size()) {
    size_t start = pos;
    uint32_t cp = 0;
    ++character;
    if (!decode_utf8(utf8, &pos, &cp)) {
      char message[96];
      snprintf(message, sizeof message, "invalid UTF-8 at byte %zu", start + 1);
      *error = message;
      return false;
    }
    char byte = 0;
    if (!encode_code_point(cp, &byte)) {
      char message[128];
      snprintf(message, sizeof message,
               "character \"%s\" (U+%04X) at position %zu has no Windows-1251 form",
               std::string(utf8.substr(start, pos - start)).c_str(), cp, character);
      *error = message;
      return false;
    }
    out.push_back(byte);
  }
  cp1251->swap(out);
  return true;
}

std::string cp1251_to_utf8(std::string_view cp1251) {
  std::string out;
  out.reserve(cp1251.size() * 2);
  for (char c : cp1251) {
    unsigned char b = static_cast<unsigned char>(c);
    append_utf8(&out, b < 0x80 ? b : kHighHalf[b - 0x80]);
  }
  return out;
}

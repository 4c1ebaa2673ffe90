// Conversion between UTF-8 and the Windows-1251 code page of package text.
#pragma once

#include <string>
#include <string_view>

// False with a message naming the first character (and its position) that
// Windows-1251 cannot hold, or a malformed UTF-8 sequence.
bool utf8_to_cp1251(std::string_view utf8, std::string* cp1251, std::string* error);

// Every byte has a meaning except 0x98, which is shown as U+FFFD.
std::string cp1251_to_utf8(std::string_view cp1251);

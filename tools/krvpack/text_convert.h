// Publisher text (UTF-8) to package text (Windows-1251): composed to NFC
// first, then converted with every unconvertible character named.
#pragma once

#include <string>
#include <string_view>

// The letters that Windows-1251 holds precomposed (й, ё, ї, ў, ѓ, ќ and
// their capitals) composed from a base letter and its combining mark; all
// else unchanged. For text bound for Windows-1251 this is what NFC gives.
std::string compose_for_cp1251(std::string_view utf8);

// False with every problem in *error, joined by "; ": each character with
// no Windows-1251 form and its position, or malformed UTF-8.
bool text_to_cp1251(std::string_view utf8, std::string* cp1251, std::string* error);

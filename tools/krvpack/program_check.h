// What `image` accepts as the updater program: a Windows PE program (not a
// DLL, not a package, not an image that already carries a package).
// Portable: bytes from a pointer and a length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Empty when the bytes are a bare Windows program; otherwise why not.
std::string program_problem(const uint8_t* data, size_t size);

// Where an installed krvpack finds its default updater program: beside
// itself, or in ../share/krvpack. Empty when neither exists.
std::string default_program_path();

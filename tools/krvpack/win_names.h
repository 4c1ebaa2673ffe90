// What Windows can hold as one part of a path (a file or folder name), for
// the names krvpack reads from a publisher's disk, manifest or package.
// Portable: it looks at bytes only, UTF-8 or Windows-1251 alike (all the
// characters concerned are ASCII).
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Why Windows cannot keep the name, or empty when it can: empty, "." or
// "..", a character of <>:"|?* or a control character, a backslash (a
// Linux name; Windows reads it as a separator), a trailing dot or blank
// (Windows drops them), or a device name (CON, PRN, AUX, NUL, COM1-9,
// LPT1-9, with or without an extension).
std::string windows_name_problem(std::string_view part);

// The device name the part stands for ("CON" for "con.txt"), or empty.
std::string reserved_device_name(std::string_view part);

// Groups of paths that Windows takes for one (compared after fold_case, as
// Windows compares names). Each group lists its paths as given.
std::vector<std::vector<std::string>> colliding_paths(const std::vector<std::string>& cp1251_paths);

// Relative paths as packages carry them: Windows-1251, a backslash between
// the parts, relative to the installation folder.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// From a UTF-8 relative path that uses "/" or "\" between its parts to the
// package form. Refuses what Windows cannot name or what would leave the
// installation folder: empty parts, "." and "..", a leading separator, a
// drive, the characters <>:"|?* and control characters.
bool package_path_from_utf8(std::string_view utf8, std::string* package_path, std::string* error);

// The parts of a path split at "\" and "/".
std::vector<std::string_view> path_parts(std::string_view path);

// For extraction and checking: false, with the reason, when writing the
// path under a folder would leave it (a ".." part, a drive or stream colon,
// a leading separator).
bool path_stays_inside(std::string_view package_path, std::string* why);

// Windows compares names without regard to case, Cyrillic letters included:
// two paths with equal folded forms name the same file there.
std::string fold_case(std::string_view cp1251);

// True for "TMP" and 16 decimal digits in any letter case: such a name in
// the directory would be translated by the name table.
bool looks_like_substitute_name(std::string_view name);

// The number of separators: the depth of a path below the installation.
size_t path_depth(std::string_view package_path);

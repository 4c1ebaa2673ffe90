// The files and folders of an application folder, in package form.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

struct TreeFile {
  std::string package_path;  // Windows-1251, backslashes
  std::filesystem::path disk_path;
};

struct Tree {
  std::vector<TreeFile> files;       // sorted by package path
  std::vector<std::string> folders;  // sorted, so every parent precedes its children
};

// Every regular file (a link to a file counts as the file) and folder below
// root. Refuses names that Windows or Windows-1251 cannot hold, other kinds
// of files, and names that differ only in letter case.
bool scan_tree(const std::filesystem::path& root, Tree* tree, std::string* error);

bool read_whole_file(const std::filesystem::path& path, std::vector<uint8_t>* content,
                     std::string* error);

// False with a message naming both paths when two differ only in case.
bool check_case_collisions(const std::vector<std::string>& package_paths, std::string* error);

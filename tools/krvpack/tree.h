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

// Every regular file (a link to a file inside the tree counts as the file)
// and folder below root. Refuses names that Windows or Windows-1251 cannot
// hold, links that lead outside the tree, other kinds of files, and names
// that Windows takes for one; every offender is named in *problems.
bool scan_tree(const std::filesystem::path& root, Tree* tree, std::vector<std::string>* problems);

bool read_whole_file(const std::filesystem::path& path, std::vector<uint8_t>* content,
                     std::string* error);

// One problem for each group of paths that Windows takes for one name.
bool check_case_collisions(const std::vector<std::string>& package_paths,
                           std::vector<std::string>* problems);

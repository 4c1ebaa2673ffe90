// What turns an installation of OLD into one of NEW, in the order the
// updater needs: files and folders are written before anything is removed.
#pragma once

#include <string>
#include <vector>

#include "tree.h"

struct TreeDiff {
  std::vector<TreeFile> files;            // added or changed, sorted
  std::vector<std::string> new_folders;   // parents first
  std::vector<std::string> removals;      // files, then folders deepest first
};

// Fails when a name changes between file and folder: the updater writes
// before it removes, so that change cannot be made by one package.
bool diff_trees(const Tree& old_tree, const Tree& new_tree, TreeDiff* diff, std::string* error);

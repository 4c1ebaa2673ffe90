#include "tree_diff.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>

#include "cp1251.h"
#include "file_io.h"
#include "paths.h"

namespace fs = std::filesystem;

namespace {

// Compared in pieces, so that two large files never sit in memory whole.
bool same_content(const fs::path& a, const fs::path& b, bool* same, std::string* error) {
  std::error_code ec_a, ec_b;
  uintmax_t size_a = fs::file_size(a, ec_a);
  uintmax_t size_b = fs::file_size(b, ec_b);
  if (!ec_a && !ec_b && size_a != size_b) {
    *same = false;
    return true;
  }
  constexpr size_t kPiece = 1 << 20;
  InputFile file_a, file_b;
  if (!file_a.open(a.u8string(), error) || !file_b.open(b.u8string(), error)) return false;
  std::vector<uint8_t> piece_a(kPiece), piece_b(kPiece);
  for (;;) {
    size_t got_a = 0, got_b = 0;
    if (!file_a.read_some(piece_a.data(), kPiece, &got_a, error)) return false;
    // Fill b's piece to the same length (reads may return less than asked).
    while (got_b < got_a) {
      size_t more = 0;
      if (!file_b.read_some(piece_b.data() + got_b, got_a - got_b, &more, error)) return false;
      if (more == 0) break;
      got_b += more;
    }
    if (got_a == 0) {
      size_t extra = 0;
      if (!file_b.read_some(piece_b.data(), 1, &extra, error)) return false;
      *same = extra == 0;
      return true;
    }
    if (got_b != got_a || memcmp(piece_a.data(), piece_b.data(), got_a) != 0) {
      *same = false;
      return true;
    }
  }
}

// Folded path to what it is in a tree: 'f' file, 'd' folder.
std::map<std::string, char> kinds(const Tree& tree) {
  std::map<std::string, char> out;
  for (const TreeFile& f : tree.files) out[fold_case(f.package_path)] = 'f';
  for (const std::string& d : tree.folders) out[fold_case(d)] = 'd';
  return out;
}

bool check_kind_changes(const Tree& old_tree, const std::map<std::string, char>& new_kinds,
                        std::string* error) {
  std::map<std::string, char> old_kinds = kinds(old_tree);
  for (const auto& [path, kind] : old_kinds) {
    auto found = new_kinds.find(path);
    if (found != new_kinds.end() && found->second != kind) {
      *error = "\"" + cp1251_to_utf8(path) + "\" is a " + (kind == 'f' ? "file" : "folder") +
               " in OLD and a " + (kind == 'f' ? "folder" : "file") +
               " in NEW; the updater writes before it removes, so ship this change in two "
               "packages";
      return false;
    }
  }
  return true;
}

}  // namespace

bool diff_trees(const Tree& old_tree, const Tree& new_tree, TreeDiff* diff, std::string* error) {
  std::map<std::string, char> new_kinds = kinds(new_tree);
  if (!check_kind_changes(old_tree, new_kinds, error)) return false;
  // Compared without regard to case, as Windows compares names: a file whose
  // name only changed case is rewritten and never listed for removal.
  std::map<std::string, const TreeFile*> old_files;
  for (const TreeFile& f : old_tree.files) old_files[fold_case(f.package_path)] = &f;
  std::set<std::string> old_folders;
  for (const std::string& d : old_tree.folders) old_folders.insert(fold_case(d));

  TreeDiff out;
  for (const TreeFile& f : new_tree.files) {
    auto found = old_files.find(fold_case(f.package_path));
    bool same = false;
    if (found != old_files.end() && found->second->package_path == f.package_path &&
        !same_content(found->second->disk_path, f.disk_path, &same, error)) {
      return false;
    }
    if (!same) out.files.push_back(f);
  }
  for (const std::string& d : new_tree.folders) {
    if (old_folders.count(fold_case(d)) == 0) out.new_folders.push_back(d);
  }
  for (const TreeFile& f : old_tree.files) {
    if (new_kinds.count(fold_case(f.package_path)) == 0) out.removals.push_back(f.package_path);
  }
  std::vector<std::string> gone;
  for (const std::string& d : old_tree.folders) {
    if (new_kinds.count(fold_case(d)) == 0) gone.push_back(d);
  }
  std::stable_sort(gone.begin(), gone.end(), [](const std::string& a, const std::string& b) {
    return path_depth(a) > path_depth(b);
  });
  out.removals.insert(out.removals.end(), gone.begin(), gone.end());
  *diff = std::move(out);
  return true;
}

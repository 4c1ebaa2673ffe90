#include "tree.h"

#include <algorithm>
#include <fstream>
#include <map>

#include "cp1251.h"
#include "paths.h"

namespace fs = std::filesystem;

namespace {

bool add_entry(const fs::path& root, const fs::directory_entry& entry, Tree* tree,
               std::string* error) {
  std::string relative = entry.path().lexically_relative(root).generic_u8string();
  std::string package_path, why;
  if (!package_path_from_utf8(relative, &package_path, &why)) {
    *error = "\"" + entry.path().u8string() + "\": the name " + why;
    return false;
  }
  std::error_code ec;
  fs::file_status own = entry.symlink_status(ec);
  fs::file_status target = entry.status(ec);
  if (fs::is_directory(own)) {
    tree->folders.push_back(package_path);
  } else if (fs::is_regular_file(target)) {
    tree->files.push_back(TreeFile{package_path, entry.path()});
  } else {
    *error = "\"" + entry.path().u8string() + "\" is neither a file nor a folder" +
             (fs::is_symlink(own) ? " (a link to a folder or a broken link)" : "");
    return false;
  }
  return true;
}

}  // namespace

bool check_case_collisions(const std::vector<std::string>& package_paths, std::string* error) {
  std::map<std::string, const std::string*> seen;
  for (const std::string& path : package_paths) {
    auto inserted = seen.emplace(fold_case(path), &path);
    if (!inserted.second) {
      *error = "\"" + cp1251_to_utf8(*inserted.first->second) + "\" and \"" +
               cp1251_to_utf8(path) + "\" differ only in letter case: on Windows they are one";
      return false;
    }
  }
  return true;
}

bool scan_tree(const fs::path& root, Tree* tree, std::string* error) {
  std::error_code ec;
  if (!fs::is_directory(root, ec)) {
    *error = "\"" + root.u8string() + "\" is not a folder";
    return false;
  }
  Tree out;
  fs::recursive_directory_iterator it(root, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    if (!add_entry(root, *it, &out, error)) return false;
  }
  if (ec) {
    *error = "cannot read \"" + root.u8string() + "\": " + ec.message();
    return false;
  }
  std::sort(out.files.begin(), out.files.end(),
            [](const TreeFile& a, const TreeFile& b) { return a.package_path < b.package_path; });
  std::sort(out.folders.begin(), out.folders.end());
  std::vector<std::string> all = out.folders;
  for (const TreeFile& f : out.files) all.push_back(f.package_path);
  if (!check_case_collisions(all, error)) return false;
  *tree = std::move(out);
  return true;
}

bool read_whole_file(const fs::path& path, std::vector<uint8_t>* content, std::string* error) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) {
    *error = "cannot read \"" + path.u8string() + "\"";
    return false;
  }
  std::streamoff size = in.tellg();
  if (size < 0 || static_cast<uint64_t>(size) > UINT32_MAX) {
    *error = "\"" + path.u8string() + "\" is 4 GiB or more, more than a package can hold";
    return false;
  }
  content->resize(static_cast<size_t>(size));
  in.seekg(0);
  if (size > 0 && !in.read(reinterpret_cast<char*>(content->data()), size)) {
    *error = "cannot read \"" + path.u8string() + "\"";
    return false;
  }
  return true;
}

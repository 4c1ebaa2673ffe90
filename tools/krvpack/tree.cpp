#include "tree.h"

#include <algorithm>

#include "cp1251.h"
#include "file_io.h"
#include "paths.h"
#include "win_names.h"

namespace fs = std::filesystem;

namespace {

std::string quoted(const fs::path& path) { return "\"" + path.u8string() + "\""; }

// A link is taken only when what it finally names lies inside the tree:
// otherwise a file of the publisher's machine would go into the package.
bool link_stays_inside(const fs::path& canonical_root, const fs::path& link) {
  std::error_code ec;
  fs::path target = fs::canonical(link, ec);
  if (ec) return true;  // a broken link is reported as neither file nor folder
  fs::path relative = target.lexically_relative(canonical_root);
  return !relative.empty() && *relative.begin() != "..";
}

// False when the entry is refused (a refused folder is not descended into).
bool add_entry(const fs::path& root, const fs::path& canonical_root, const fs::directory_entry& entry,
               Tree* tree, std::vector<std::string>* problems) {
  std::string name = entry.path().filename().u8string();
  if (name.find('\\') != std::string::npos) {
    problems->push_back(quoted(entry.path()) + ": the name " + windows_name_problem(name));
    return false;
  }
  std::string relative = entry.path().lexically_relative(root).generic_u8string();
  std::string package_path, why;
  if (!package_path_from_utf8(relative, &package_path, &why)) {
    problems->push_back(quoted(entry.path()) + ": the name " + why);
    return false;
  }
  std::error_code ec;
  fs::file_status own = entry.symlink_status(ec);
  fs::file_status target = entry.status(ec);
  if (fs::is_symlink(own) && !link_stays_inside(canonical_root, entry.path())) {
    problems->push_back(quoted(entry.path()) + " is a link to \"" +
                        fs::read_symlink(entry.path(), ec).u8string() +
                        "\", outside the folder; copy the file in instead");
    return false;
  }
  if (fs::is_directory(own)) {
    tree->folders.push_back(package_path);
  } else if (fs::is_regular_file(target)) {
    tree->files.push_back(TreeFile{package_path, entry.path()});
  } else {
    problems->push_back(quoted(entry.path()) + " is neither a file nor a folder" +
                        (fs::is_symlink(own) ? " (a link to a folder or a broken link)" : ""));
    return false;
  }
  return true;
}

}  // namespace

bool check_case_collisions(const std::vector<std::string>& package_paths,
                           std::vector<std::string>* problems) {
  bool ok = true;
  for (const std::vector<std::string>& group : colliding_paths(package_paths)) {
    std::string names;
    for (const std::string& path : group) {
      names += (names.empty() ? "\"" : "\" and \"") + cp1251_to_utf8(path);
    }
    problems->push_back(names + "\" differ only in letter case: on Windows they are one");
    ok = false;
  }
  return ok;
}

bool scan_tree(const fs::path& root, Tree* tree, std::vector<std::string>* problems) {
  std::error_code ec;
  if (!fs::is_directory(root, ec)) {
    problems->push_back(quoted(root) + " is not a folder");
    return false;
  }
  size_t problems_before = problems->size();
  fs::path canonical_root = fs::canonical(root, ec);
  Tree out;
  fs::recursive_directory_iterator it(root, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    if (!add_entry(root, canonical_root, *it, &out, problems)) it.disable_recursion_pending();
  }
  if (ec) problems->push_back("cannot read " + quoted(it != end ? it->path() : root) + ": " + ec.message());
  std::sort(out.files.begin(), out.files.end(),
            [](const TreeFile& a, const TreeFile& b) { return a.package_path < b.package_path; });
  std::sort(out.folders.begin(), out.folders.end());
  std::vector<std::string> all = out.folders;
  for (const TreeFile& f : out.files) all.push_back(f.package_path);
  check_case_collisions(all, problems);
  if (problems->size() != problems_before) return false;
  *tree = std::move(out);
  return true;
}

bool read_whole_file(const fs::path& path, std::vector<uint8_t>* content, std::string* error) {
  InputFile file;
  uint64_t size = 0;
  if (!file.open(path.u8string(), error) || !file.size(&size, error)) return false;
  if (size > UINT32_MAX) {
    *error = quoted(path) + " is 4 GiB or more, more than a package can hold";
    return false;
  }
  content->resize(static_cast<size_t>(size));
  return file.read_exact(content->data(), content->size(), error);
}

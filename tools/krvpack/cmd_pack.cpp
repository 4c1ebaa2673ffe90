// krvpack build and krvpack diff: from folders and a manifest to a package.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>

#include "console.h"
#include "commands.h"
#include "cp1251.h"
#include "manifest.h"
#include "paths.h"
#include "package_build.h"
#include "tree_diff.h"

namespace fs = std::filesystem;

namespace {

void take_sections(const Manifest& m, PackageContent* content) {
  content->has_registry = true;
  content->key_path = m.key_path;
  content->folder_value = m.folder_value;
  content->program_value = m.program_value;
  content->level_value = m.level_value;
  content->level = m.level;
  content->has_startup = m.has_startup;
  content->caption = m.caption;
  content->text = m.text;
  content->commands = m.commands;
}

// Every listed file that is missing is named, then any collisions.
bool listed_files(const std::string& manifest_path, const Manifest& m, std::vector<TreeFile>* files,
                  std::vector<std::string>* problems) {
  std::vector<std::string> paths;
  size_t before = problems->size();
  for (const ManifestFile& f : m.files) {
    fs::path disk = m.source / fs::u8path(f.utf8_path);
    std::error_code ec;
    if (!fs::is_regular_file(disk, ec)) {
      problems->push_back(manifest_path + ":" + std::to_string(f.line) + ": file \"" +
                          disk.u8string() + "\" does not exist");
      continue;
    }
    files->push_back(TreeFile{f.package_path, disk});
    paths.push_back(f.package_path);
  }
  std::sort(files->begin(), files->end(),
            [](const TreeFile& a, const TreeFile& b) { return a.package_path < b.package_path; });
  check_case_collisions(paths, problems);
  return problems->size() == before;
}

bool manifest_files(const std::string& manifest_path, const Manifest& m,
                    std::vector<TreeFile>* files, std::vector<std::string>* problems) {
  std::error_code ec;
  if ((m.has_source || m.has_files) && !fs::is_directory(m.source, ec)) {
    problems->push_back(manifest_path + (m.has_source ? ":" + std::to_string(m.source_line) : "") +
                        ": source folder \"" + m.source.u8string() + "\" does not exist");
    return false;
  }
  if (m.has_files) return listed_files(manifest_path, m, files, problems);
  if (!m.has_source) return true;
  Tree tree;
  if (!scan_tree(m.source, &tree, problems)) return false;
  *files = tree.files;
  return true;
}

bool pack_and_write(const PackageContent& content, const PackOptions& options,
                    const std::string& output, std::string* error) {
  BuildOptions build;
  build.compression_level = options.compression_level;
  build.threads = options.threads;
  if (content.files.empty() && !content.has_registry && !content.has_startup &&
      content.folders.empty() && content.commands.empty() && content.remove.empty()) {
    *error = "nothing to put in the package: no files and no sections";
    return false;
  }
  uint64_t size = 0;
  if (!build_package_file(content, build, output, &size, error)) return false;
  printf_out("krvpack: wrote %s: %zu files, %llu bytes\n", output.c_str(), content.files.size(),
             static_cast<unsigned long long>(size));
  return true;
}

std::string joined(const std::vector<std::string>& problems) {
  std::string out;
  for (const std::string& p : problems) out += (out.empty() ? "" : "\n") + p;
  return out;
}

// A program the update starts from the installation folder is expected
// among the files of one of the two versions.
void warn_about_commands(const Manifest& m, const Tree& old_tree, const Tree& new_tree) {
  std::set<std::string> known;
  for (const Tree* tree : {&old_tree, &new_tree}) {
    for (const TreeFile& f : tree->files) known.insert(fold_case(f.package_path));
  }
  for (const CommandSpec& c : m.commands) {
    if (c.in_install_dir && known.count(fold_case(c.program)) == 0) {
      printf_err("krvpack: warning: the command's program \"%s\" is in neither OLD_DIR nor "
                 "NEW_DIR, so the updater may find nothing to start\n",
                 cp1251_to_utf8(c.program).c_str());
    }
  }
}

}  // namespace

// The output's folder is checked before any work, so that a typo does not
// cost a whole compression run.
bool check_output_path(const std::string& output, std::string* error) {
  fs::path path = fs::u8path(output);
  fs::path folder = path.parent_path().empty() ? fs::path(".") : path.parent_path();
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) {
    *error = "the output folder \"" + folder.u8string() + "\" does not exist";
    return false;
  }
  if (fs::is_directory(path, ec)) {
    *error = "the output \"" + output + "\" is a folder; give a file name";
    return false;
  }
  return true;
}

int report_failure(const std::string& message) {
  size_t start = 0;
  while (start <= message.size()) {
    size_t end = message.find('\n', start);
    if (end == std::string::npos) end = message.size();
    printf_err("krvpack: %s\n", message.substr(start, end - start).c_str());
    start = end + 1;
  }
  return 1;
}

int run_build(const std::string& manifest_path, const std::string& output,
              const PackOptions& options) {
  Manifest m;
  PackageContent content;
  std::string error;
  std::vector<std::string> problems;
  if (!check_output_path(output, &error)) return report_failure(error);
  if (!read_manifest(manifest_path, &m, &error)) return report_failure(error);
  if (!manifest_files(manifest_path, m, &content.files, &problems)) {
    return report_failure(joined(problems));
  }
  take_sections(m, &content);
  content.folders = m.folders;
  content.remove = m.remove;
  if (!pack_and_write(content, options, output, &error)) return report_failure(error);
  return 0;
}

int run_diff(const std::string& old_dir, const std::string& new_dir,
             const std::string& manifest_path, const std::string& output,
             const PackOptions& options) {
  Manifest m;
  Tree old_tree, new_tree;
  TreeDiff diff;
  std::string error;
  if (!check_output_path(output, &error)) return report_failure(error);
  if (!manifest_path.empty()) {
    if (!read_manifest(manifest_path, &m, &error)) return report_failure(error);
    if (!m.content_key.empty()) {
      return report_failure(manifest_path + ":" + std::to_string(m.content_key_line) + ": \"" +
                            m.content_key + "\" has no place in a manifest for diff: the two "
                            "folders give the files, folders and removals");
    }
  }
  std::vector<std::string> problems;
  bool scanned = scan_tree(fs::u8path(old_dir), &old_tree, &problems);
  scanned &= scan_tree(fs::u8path(new_dir), &new_tree, &problems);
  if (!scanned) return report_failure(joined(problems));
  if (!diff_trees(old_tree, new_tree, &diff, &error)) return report_failure(error);
  PackageContent content;
  if (!manifest_path.empty()) take_sections(m, &content);
  content.files = diff.files;
  content.folders = diff.new_folders;
  content.remove = diff.removals;
  if (manifest_path.empty()) {
    printf_err("krvpack: warning: without --manifest the package has no :RegistryKeys, "
                    "so the updater finds no installation for it\n");
  }
  warn_about_commands(m, old_tree, new_tree);
  if (diff.files.empty() && diff.new_folders.empty() && diff.removals.empty()) {
    printf_err("krvpack: warning: OLD_DIR and NEW_DIR hold the same files: the update changes "
               "nothing\n");
  }
  if (!pack_and_write(content, options, output, &error)) return report_failure(error);
  printf_out("krvpack: %zu new folders, %zu removals\n", diff.new_folders.size(),
         diff.removals.size());
  return 0;
}

// krvpack build and krvpack diff: from folders and a manifest to a package.
#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "commands.h"
#include "cp1251.h"
#include "manifest.h"
#include "output_file.h"
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

bool listed_files(const std::string& manifest_path, const Manifest& m, std::vector<TreeFile>* files,
                  std::string* error) {
  std::vector<std::string> paths;
  for (const ManifestFile& f : m.files) {
    fs::path disk = m.source / fs::u8path(f.utf8_path);
    std::error_code ec;
    if (!fs::is_regular_file(disk, ec)) {
      *error = manifest_path + ":" + std::to_string(f.line) + ": file \"" + disk.u8string() +
               "\" does not exist";
      return false;
    }
    files->push_back(TreeFile{f.package_path, disk});
    paths.push_back(f.package_path);
  }
  std::sort(files->begin(), files->end(),
            [](const TreeFile& a, const TreeFile& b) { return a.package_path < b.package_path; });
  return check_case_collisions(paths, error);
}

bool manifest_files(const std::string& manifest_path, const Manifest& m,
                    std::vector<TreeFile>* files, std::string* error) {
  std::error_code ec;
  if ((m.has_source || m.has_files) && !fs::is_directory(m.source, ec)) {
    *error = manifest_path + (m.has_source ? ":" + std::to_string(m.source_line) : "") +
             ": source folder \"" + m.source.u8string() + "\" does not exist";
    return false;
  }
  if (m.has_files) return listed_files(manifest_path, m, files, error);
  if (!m.has_source) return true;
  Tree tree;
  if (!scan_tree(m.source, &tree, error)) return false;
  *files = tree.files;
  return true;
}

bool pack_and_write(const PackageContent& content, const PackOptions& options,
                    const std::string& output, std::string* error) {
  BuildOptions build;
  build.compression_level = options.compression_level;
  build.threads = options.threads;
  std::vector<uint8_t> package;
  if (!build_package(content, build, &package, error)) return false;
  if (!write_output_file(output, package.data(), package.size(), error)) return false;
  printf("krvpack: wrote %s: %zu files, %zu bytes\n", output.c_str(), content.files.size(),
         package.size());
  return true;
}

}  // namespace

int report_failure(const std::string& message) {
  fprintf(stderr, "krvpack: %s\n", message.c_str());
  return 1;
}

int run_build(const std::string& manifest_path, const std::string& output,
              const PackOptions& options) {
  Manifest m;
  PackageContent content;
  std::string error;
  if (!read_manifest(manifest_path, &m, &error) ||
      !manifest_files(manifest_path, m, &content.files, &error)) {
    return report_failure(error);
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
  if (!manifest_path.empty()) {
    if (!read_manifest(manifest_path, &m, &error)) return report_failure(error);
    if (!m.content_key.empty()) {
      return report_failure(manifest_path + ":" + std::to_string(m.content_key_line) + ": \"" +
                            m.content_key + "\" has no place in a manifest for diff: the two "
                            "folders give the files, folders and removals");
    }
  }
  if (!scan_tree(fs::u8path(old_dir), &old_tree, &error) ||
      !scan_tree(fs::u8path(new_dir), &new_tree, &error) ||
      !diff_trees(old_tree, new_tree, &diff, &error)) {
    return report_failure(error);
  }
  PackageContent content;
  if (!manifest_path.empty()) take_sections(m, &content);
  content.files = diff.files;
  content.folders = diff.new_folders;
  content.remove = diff.removals;
  if (manifest_path.empty()) {
    fprintf(stderr, "krvpack: warning: without --manifest the package has no :RegistryKeys, "
                    "so the updater finds no installation for it\n");
  }
  if (!pack_and_write(content, options, output, &error)) return report_failure(error);
  printf("krvpack: %zu new folders, %zu removals\n", diff.new_folders.size(),
         diff.removals.size());
  return 0;
}

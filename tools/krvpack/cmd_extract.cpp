// krvpack extract.
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "console.h"
#include "commands.h"
#include "cp1251.h"
#include "inspect.h"
#include "output_file.h"
#include "package_writer.h"
#include "paths.h"
#include "tree.h"

namespace fs = std::filesystem;

namespace {

fs::path disk_path(const fs::path& dir, const std::string& package_path) {
  std::string relative = cp1251_to_utf8(package_path);
  for (char& c : relative) {
    if (c == '\\') c = '/';
  }
  return dir / fs::u8path(relative);
}

// Checked before anything is written: one escaping path refuses the whole
// extraction.
bool check_paths(const PackageReport& report, std::string* error) {
  std::string why;
  for (const EntryReport& e : report.entries) {
    if (!e.is_section && !path_stays_inside(e.path, &why)) {
      *error = "refusing entry \"" + cp1251_to_utf8(e.name) + "\" (\"" + cp1251_to_utf8(e.path) +
               "\"): " + why;
      return false;
    }
  }
  for (const std::string& folder : report.sections.folders.items) {
    if (!path_stays_inside(folder, &why)) {
      *error = "refusing folder \"" + cp1251_to_utf8(folder) + "\" of :Folders: " + why;
      return false;
    }
  }
  return true;
}

// Creates the folders of a path under dir, refusing to pass through a link
// that could lead outside it.
bool make_folders(const fs::path& dir, const std::string& package_path, bool last_too,
                  std::string* error) {
  std::vector<std::string_view> parts = path_parts(package_path);
  fs::path current = dir;
  size_t count = last_too ? parts.size() : parts.size() - 1;
  for (size_t i = 0; i < count; ++i) {
    if (parts[i].empty()) continue;
    current = disk_path(current, std::string(parts[i]));
    std::error_code ec;
    if (fs::is_symlink(fs::symlink_status(current, ec))) {
      *error = "refusing to write through the link \"" + current.u8string() + "\"";
      return false;
    }
    if (!fs::is_directory(current, ec) && !fs::create_directory(current, ec)) {
      *error = "cannot create the folder \"" + current.u8string() + "\"" +
               (ec ? ": " + ec.message() : "");
      return false;
    }
  }
  return true;
}

bool extract_entry(const InputPackage& input, int index, const fs::path& dir,
                   const std::string& path, std::string* error) {
  if (!make_folders(dir, path, false, error)) return false;
  EntryBytes content;
  PackageResult result = load_entry_bytes(&input.package, index, &content);
  if (!result) {
    *error = refusal_text(input.package, result, input.is_image);
    return false;
  }
  return write_output_file(disk_path(dir, path).u8string(), content.data.get(), content.size,
                           error);
}

bool extract_all(const InputPackage& input, const PackageReport& report, const fs::path& dir,
                 size_t* files, std::string* error) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (!fs::is_directory(dir, ec)) {
    *error = "cannot create the folder \"" + dir.u8string() + "\"";
    return false;
  }
  for (const std::string& folder : report.sections.folders.items) {
    if (!make_folders(dir, folder, true, error)) return false;
  }
  for (size_t i = 0; i < report.entries.size(); ++i) {
    const EntryReport& e = report.entries[i];
    if (e.is_section) continue;
    if (!extract_entry(input, static_cast<int>(i), dir, e.path, error)) return false;
    ++*files;
  }
  return true;
}

}  // namespace

int run_extract(const std::string& input, const std::string& dir) {
  InputPackage opened;
  PackageReport report;
  std::string error;
  size_t files = 0;
  // Nothing is written from a package whose bytes are not the publisher's.
  bool ok = open_input(input, &opened, &error) && check_input_integrity(opened, &error) &&
            describe_package(opened, &report, &error);
  if (!ok) error = input + ": " + error;
  if (ok) ok = check_paths(report, &error) && extract_all(opened, report, fs::u8path(dir), &files, &error);
  close_input(&opened);
  if (!ok) return report_failure(error);
  printf_out("krvpack: extracted %zu files into %s\n", files, dir.c_str());
  return 0;
}

#include "package_build.h"

#include <algorithm>
#include <atomic>
#include <thread>
#include <utility>

#include "package_writer.h"
#include "paths.h"
#include "progress.h"

namespace {

// Deflate when it shrinks the content; otherwise store it plain.
bool prepare_smallest(const std::string& name, const uint8_t* data, size_t size, int level,
                      PreparedEntry* entry, std::string* error) {
  if (!prepare_entry(name, data, size, true, level, entry, error)) return false;
  if (entry->stored.size() < size) return true;
  return prepare_entry(name, data, size, false, level, entry, error);
}

bool add_section(std::vector<PreparedEntry>* entries, const char* name, const std::string& bytes,
                 int level, std::string* error) {
  PreparedEntry entry;
  if (!prepare_smallest(name, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), level,
                        &entry, error)) {
    return false;
  }
  entries->push_back(std::move(entry));
  return true;
}

std::vector<std::string> entry_names(const std::vector<TreeFile>& files,
                                     std::vector<std::pair<std::string, std::string>>* pairs) {
  std::vector<std::string> names;
  uint64_t serial = 0;
  for (const TreeFile& file : files) {
    const std::string& path = file.package_path;
    if (needs_substitute_name(path) || looks_like_substitute_name(path)) {
      names.push_back(substitute_name(++serial));
      pairs->emplace_back(names.back(), path);
    } else {
      names.push_back(path);
    }
  }
  return names;
}

struct CompressJob {
  const std::vector<TreeFile>* files;
  const std::vector<std::string>* names;
  int level;
  std::atomic<size_t> next{0};
  std::vector<PreparedEntry> entries;
  std::vector<std::string> errors;
  Progress progress;
};

void compress_worker(CompressJob* job) {
  std::vector<uint8_t> content;
  for (;;) {
    size_t i = job->next.fetch_add(1);
    if (i >= job->files->size()) return;
    std::string error;
    if (!read_whole_file((*job->files)[i].disk_path, &content, &error) ||
        !prepare_smallest((*job->names)[i], content.data(), content.size(), job->level,
                          &job->entries[i], &error)) {
      job->errors[i] = error;
    }
    progress_step(&job->progress);
  }
}

bool compress_files(const std::vector<TreeFile>& files, const std::vector<std::string>& names,
                    const BuildOptions& options, std::vector<PreparedEntry>* entries,
                    std::string* error) {
  CompressJob job;
  job.files = &files;
  job.names = &names;
  job.level = options.compression_level;
  job.entries.resize(files.size());
  job.errors.resize(files.size());
  unsigned threads = options.threads != 0 ? options.threads : std::thread::hardware_concurrency();
  threads = std::max(1u, std::min<unsigned>(threads, static_cast<unsigned>(files.size())));
  progress_start(&job.progress, "compressing", files.size());
  std::vector<std::thread> workers;
  for (unsigned t = 0; t < threads; ++t) workers.emplace_back(compress_worker, &job);
  for (std::thread& worker : workers) worker.join();
  progress_end(&job.progress);
  // The first failure in file order, whichever thread met it first.
  for (const std::string& e : job.errors) {
    if (!e.empty()) {
      *error = e;
      return false;
    }
  }
  for (PreparedEntry& e : job.entries) entries->push_back(std::move(e));
  return true;
}

}  // namespace

bool build_package(const PackageContent& content, const BuildOptions& options,
                   std::vector<uint8_t>* package, std::string* error) {
  std::vector<std::pair<std::string, std::string>> pairs;
  std::vector<std::string> names = entry_names(content.files, &pairs);
  std::vector<PreparedEntry> entries;
  int level = options.compression_level;
  bool ok = true;
  if (content.has_registry) {
    ok = add_section(&entries, kRegistryKeysName,
                     build_registry_keys(content.key_path, content.folder_value,
                                         content.program_value, content.level_value,
                                         content.level),
                     level, error);
  }
  if (ok && content.has_startup) {
    ok = add_section(&entries, kStartupMsgName,
                     build_startup_message(content.caption, content.text), level, error);
  }
  if (ok && !pairs.empty()) {
    ok = add_section(&entries, kXlatNamesTableName, build_name_table(pairs), level, error);
  }
  if (ok && !content.folders.empty()) {
    ok = add_section(&entries, kFoldersName, build_string_list(content.folders), level, error);
  }
  if (ok && !content.commands.empty()) {
    ok = add_section(&entries, kCommandsToExecuteName, build_commands(content.commands), level,
                     error);
  }
  if (ok && !content.remove.empty()) {
    ok = add_section(&entries, kFilesToRemoveName, build_string_list(content.remove), level, error);
  }
  if (ok && !content.files.empty()) ok = compress_files(content.files, names, options, &entries, error);
  if (ok && entries.empty()) {
    *error = "nothing to put in the package: no files and no sections";
    ok = false;
  }
  // Every package of the tool can prove each of its bytes to the updater.
  PackageLayout layout;
  layout.checksums = true;
  if (ok) ok = write_package(entries, layout, package, error);
  return ok;
}

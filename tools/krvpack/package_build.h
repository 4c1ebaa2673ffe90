// From the files and sections of an update to the bytes of its package.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "package_writer.h"
#include "section_builders.h"
#include "tree.h"

struct PackageContent {
  std::vector<TreeFile> files;  // sorted by package path
  bool has_registry = false;
  std::string key_path, folder_value, program_value, level_value;
  int32_t level = 0;
  bool has_startup = false;
  std::string caption, text;
  std::vector<std::string> folders;  // in order of creation
  std::vector<CommandSpec> commands;
  std::vector<std::string> remove;  // in order of removal
};

struct BuildOptions {
  int compression_level = kDefaultCompressionLevel;
  unsigned threads = 0;  // 0: one per core
};

// The file entries get their directory names here: the path itself, or a
// substitute name with a pair in ":XlatNamesTable" when the path is 31 bytes
// or longer, holds a blank or would itself read as a substitute name.
// Entries are compressed in parallel; the bytes depend only on the content
// and the compression level.
bool build_package(const PackageContent& content, const BuildOptions& options,
                   std::vector<uint8_t>* package, std::string* error);

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
  // Files read and compressed but not yet written hold at most about this
  // much (each counted at twice its size: content and compressed stream).
  uint64_t memory_in_flight = 256ull << 20;
  // Larger files are compressed as a stream (zlib) while written, never
  // held whole in memory.
  uint64_t streamed_above = 64ull << 20;
};

// The file entries get their directory names here: the path itself, or a
// substitute name with a pair in ":XlatNamesTable" when the path is 31 bytes
// or longer, holds a blank or would itself read as a substitute name.
// Entries are compressed in parallel and written in directory order as they
// are ready; the bytes depend only on the content, the compression level
// and the size above which files are streamed. *package_size is the size
// of the package written to `output`.
bool build_package_file(const PackageContent& content, const BuildOptions& options,
                        const std::string& output, uint64_t* package_size, std::string* error);

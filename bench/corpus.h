// A deterministic corpus for the benchmarks: files of realistic sizes and
// kinds (program-like binaries, text, already-compressed data) in folders of
// about 64 files, or many small files. The same seed and size always give
// the same bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class FileKind { kBinary, kText, kCompressed };

struct CorpusFile {
  std::string path;  // relative, backslash between parts, under 31 bytes
  FileKind kind;
  uint64_t seed;
  uint32_t size;
};

// The list of files whose sizes add up to about total_bytes (never a file
// larger than max_file_bytes).
std::vector<CorpusFile> plan_corpus(uint64_t total_bytes, uint32_t max_file_bytes, uint64_t seed);

// `count` files of 1 to 8 KiB (every kind), `per_folder` to a folder: a
// corpus where the cost of each file, not of each byte, dominates.
std::vector<CorpusFile> plan_small_files(uint32_t count, uint32_t per_folder, uint64_t seed);

// The content of one file of the plan.
std::vector<uint8_t> file_content(const CorpusFile& file);

const char* kind_name(FileKind kind);

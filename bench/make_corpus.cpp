// make_corpus: writes the benchmark corpus as a folder tree and as a package
// made by the package writer (entries prepared on all cores).
//
//   make_corpus OUT_DIR TOTAL_MB MAX_FILE_MB [LEVEL]
//   make_corpus OUT_DIR small FILE_COUNT [LEVEL]
//
// OUT_DIR/tree/...     the files, folders of 64 (small: FILE_COUNT files of
//                      1 to 8 KiB, folders of 200)
// OUT_DIR/package.krv  ":RegistryKeys" (key Software\KorvindaBench, level 1)
//                      and every file, compressed at LEVEL (plain when
//                      that is not smaller)
// OUT_DIR/package-checksums.krv  the same entries with the checksum section
//                      that krvpack writes
// Prints one line per kind: files, bytes.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "corpus.h"
#include "package_writer.h"
#include "section_builders.h"

namespace fs = std::filesystem;

namespace {

constexpr char kRegistryKey[] = "Software\\KorvindaBench";
constexpr uint32_t kFilesPerFolder = 64;  // as plan_corpus lays them out
constexpr uint32_t kSmallFilesPerFolder = 200;

bool write_file(const fs::path& path, const std::vector<uint8_t>& bytes) {
  std::error_code ec;
  fs::create_directories(path.parent_path(), ec);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

fs::path tree_path(const fs::path& root, std::string relative) {
  std::replace(relative.begin(), relative.end(), '\\', '/');
  return root / relative;
}

struct Job {
  const std::vector<CorpusFile>* plan;
  fs::path tree;
  int level;
  std::vector<PreparedEntry>* entries;
  std::atomic<size_t> next{0};
  std::atomic<bool> failed{false};
};

void work(Job* job) {
  for (size_t i = job->next++; i < job->plan->size(); i = job->next++) {
    const CorpusFile& file = (*job->plan)[i];
    std::vector<uint8_t> bytes = file_content(file);
    std::string error;
    PreparedEntry* entry = &(*job->entries)[i + 1];
    // As the publishers' tool does: a stream no smaller than the content is
    // stored plain instead.
    bool ok = write_file(tree_path(job->tree, file.path), bytes) &&
              prepare_entry(file.path, bytes.data(), bytes.size(), true, job->level, entry,
                            &error);
    if (ok && entry->stored.size() >= bytes.size()) {
      ok = prepare_entry(file.path, bytes.data(), bytes.size(), false, job->level, entry, &error);
    }
    if (!ok) {
      fprintf(stderr, "make_corpus: %s: %s\n", file.path.c_str(), error.c_str());
      job->failed = true;
      return;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4 || argc > 5) {
    fprintf(stderr, "usage: make_corpus OUT_DIR TOTAL_MB MAX_FILE_MB [LEVEL]\n"
                    "       make_corpus OUT_DIR small FILE_COUNT [LEVEL]\n");
    return 2;
  }
  fs::path out_dir = argv[1];
  bool small = strcmp(argv[2], "small") == 0;
  uint32_t per_folder = small ? kSmallFilesPerFolder : kFilesPerFolder;
  int level = argc == 5 ? atoi(argv[4]) : kDefaultCompressionLevel;
  std::vector<CorpusFile> plan;
  if (small) {
    plan = plan_small_files(static_cast<uint32_t>(strtoul(argv[3], nullptr, 10)), per_folder,
                            0x5A11);
  } else {
    uint64_t total = strtoull(argv[2], nullptr, 10) * 1000000;
    uint32_t max_file = static_cast<uint32_t>(strtoul(argv[3], nullptr, 10) * 1000000);
    plan = plan_corpus(total, max_file, 0xC0DE);
  }
  std::vector<PreparedEntry> entries(plan.size() + 1);
  std::string keys = build_registry_keys(kRegistryKey, "ProgramPath", "ProgramName",
                                         "PatchLevel", 1);
  entries[0] = compressed_entry(kRegistryKeysName, keys);

  Job job;
  job.plan = &plan;
  job.tree = out_dir / "tree";
  job.level = level;
  job.entries = &entries;
  std::error_code ec;
  fs::remove_all(job.tree, ec);
  std::vector<std::thread> threads;
  unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  for (unsigned i = 0; i < cores; ++i) threads.emplace_back(work, &job);
  for (std::thread& t : threads) t.join();
  if (job.failed) return 1;

  std::vector<uint8_t> package;
  std::string error;
  PackageLayout with_checksums;
  with_checksums.checksums = true;
  std::vector<uint8_t> checked_package;
  if (!write_package(entries, PackageLayout{}, &package, &error) ||
      !write_file(out_dir / "package.krv", package) ||
      !write_package(entries, with_checksums, &checked_package, &error) ||
      !write_file(out_dir / "package-checksums.krv", checked_package)) {
    fprintf(stderr, "make_corpus: package: %s\n", error.c_str());
    return 1;
  }
  uint64_t files[3] = {}, bytes[3] = {};
  for (const CorpusFile& f : plan) {
    files[static_cast<int>(f.kind)] += 1;
    bytes[static_cast<int>(f.kind)] += f.size;
  }
  for (FileKind kind : {FileKind::kBinary, FileKind::kText, FileKind::kCompressed}) {
    int k = static_cast<int>(kind);
    printf("corpus %-10s %6llu files %12llu bytes\n", kind_name(kind),
           static_cast<unsigned long long>(files[k]), static_cast<unsigned long long>(bytes[k]));
  }
  printf("corpus folders %zu, package %zu bytes (level %d)\n",
         (plan.size() + per_folder - 1) / per_folder, package.size(), level);
  return 0;
}

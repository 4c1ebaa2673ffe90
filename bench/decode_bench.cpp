// decode_bench: the decoders over a whole package, side by side.
//
//   decode_bench [benchmark flags] PACKAGE TREE_DIR [ENCODE_SAMPLE_MB]
//
// First checks that every file entry decodes, with libdeflate through
// load_entry_into and with zlib, to exactly the bytes of its file under
// TREE_DIR (exit 1 otherwise). Then measures, per pass over all file
// entries, MB/s of output:
//   decode/load_entry_into   the product's path (libdeflate)
//   decode/zlib_inflate      one zlib inflate call per entry, same entries
//   decode/memcpy            copying the same output bytes: the limit
// and, over a sample of ENCODE_SAMPLE_MB (default 16) of the files, the
// compressors at each level (MB/s of input, and the size ratio).
// Output lands in one reused buffer, so page faults of fresh files are not
// part of these figures (the apply benchmark has them).
#include <benchmark/benchmark.h>
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "entry_inflate.h"
#include "package.h"
#include "package_format.h"

namespace {

struct Corpus {
  Package package = {};
  std::vector<int> files;            // indexes of the file entries
  std::vector<size_t> content_at;    // where each file's bytes lie in `contents`
  std::vector<uint8_t> contents;     // every file's bytes, one after another
  std::vector<uint8_t> out;          // as large as the largest entry
  uint64_t output_bytes = 0;
  std::vector<std::vector<uint8_t>> sample;  // whole files, for the encoders
  uint64_t sample_bytes = 0;
};

Corpus g;

bool read_whole(const std::string& path, std::vector<uint8_t>* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

const uint8_t* stored_bytes(int index) {
  return g.package.view + g.package.package_offset + g.package.entries[index].offset;
}

bool is_compressed(int index) { return (g.package.entries[index].flags & kEntryCompressed) != 0; }

// The check that makes a broken decoder or writer fail the run.
bool load_and_verify(const char* package_path, const std::string& tree) {
  if (!open_package(&g.package, package_path, false)) {
    fprintf(stderr, "decode_bench: cannot open %s\n", package_path);
    return false;
  }
  uint32_t largest = 0;
  for (uint32_t i = 0; i < g.package.header.entry_count; ++i) {
    if (g.package.entries[i].name[0] == ':') continue;
    g.files.push_back(static_cast<int>(i));
    largest = std::max(largest, g.package.entries[i].size);
  }
  g.out.assign(std::max<uint32_t>(largest, 1), 0);
  std::vector<uint8_t> expected;
  for (int index : g.files) {
    const DirectoryEntry& entry = g.package.entries[index];
    std::string path = tree + "/" + entry.name;
    std::replace(path.begin(), path.end(), '\\', '/');
    bool same = read_whole(path, &expected) && expected.size() == entry.size &&
                load_entry_into(&g.package, index, g.out.data()) &&
                memcmp(g.out.data(), expected.data(), entry.size) == 0;
    if (same && is_compressed(index)) {
      std::fill(g.out.begin(), g.out.begin() + entry.size, 0);
      same = inflate_exact_zlib(stored_bytes(index), entry.stored_size, g.out.data(),
                                entry.size) &&
             memcmp(g.out.data(), expected.data(), entry.size) == 0;
    }
    if (!same) {
      fprintf(stderr, "decode_bench: %s does not decode to its file\n", path.c_str());
      return false;
    }
    g.content_at.push_back(g.contents.size());
    g.contents.insert(g.contents.end(), expected.begin(), expected.end());
    g.output_bytes += entry.size;
  }
  return !g.files.empty();
}

void pick_sample(uint64_t wanted_bytes) {
  // Every n-th file, so that the sample keeps the corpus's mix.
  size_t step = std::max<uint64_t>(1, g.output_bytes / std::max<uint64_t>(wanted_bytes, 1));
  for (size_t i = 0; i < g.files.size() && g.sample_bytes < wanted_bytes; i += step) {
    const uint8_t* begin = g.contents.data() + g.content_at[i];
    uint32_t size = g.package.entries[g.files[i]].size;
    g.sample.emplace_back(begin, begin + size);
    g.sample_bytes += size;
  }
}

void set_output_rate(benchmark::State& state, uint64_t bytes_per_pass) {
  state.counters["MB/s"] = benchmark::Counter(
      static_cast<double>(bytes_per_pass) * static_cast<double>(state.iterations()) / 1e6,
      benchmark::Counter::kIsRate);
}

void decode_load_entry_into(benchmark::State& state) {
  for (auto _ : state) {
    for (int index : g.files) {
      if (!load_entry_into(&g.package, index, g.out.data())) state.SkipWithError("decode failed");
    }
    benchmark::ClobberMemory();
  }
  set_output_rate(state, g.output_bytes);
}

void decode_zlib(benchmark::State& state) {
  for (auto _ : state) {
    for (int index : g.files) {
      const DirectoryEntry& entry = g.package.entries[index];
      bool ok = is_compressed(index)
                    ? inflate_exact_zlib(stored_bytes(index), entry.stored_size, g.out.data(),
                                         entry.size)
                    : (memcpy(g.out.data(), stored_bytes(index), entry.size), true);
      if (!ok) state.SkipWithError("decode failed");
    }
    benchmark::ClobberMemory();
  }
  set_output_rate(state, g.output_bytes);
}

void decode_memcpy(benchmark::State& state) {
  for (auto _ : state) {
    for (size_t i = 0; i < g.files.size(); ++i) {
      memcpy(g.out.data(), g.contents.data() + g.content_at[i], g.package.entries[g.files[i]].size);
    }
    benchmark::ClobberMemory();
  }
  set_output_rate(state, g.output_bytes);
}

void set_encode_counters(benchmark::State& state, uint64_t compressed) {
  set_output_rate(state, g.sample_bytes);
  state.counters["ratio"] = static_cast<double>(g.sample_bytes) / static_cast<double>(compressed);
  state.counters["size_%"] = 100.0 * static_cast<double>(compressed) / g.sample_bytes;
}

void encode_libdeflate(benchmark::State& state) {
  int level = static_cast<int>(state.range(0));
  std::vector<uint8_t> out;
  uint64_t compressed = 0;
  for (auto _ : state) {
    compressed = 0;
    // One compressor per file, as the writer makes it.
    for (const std::vector<uint8_t>& file : g.sample) {
      libdeflate_compressor* c = libdeflate_alloc_compressor(level);
      out.resize(libdeflate_zlib_compress_bound(c, file.size()));
      size_t n = libdeflate_zlib_compress(c, file.data(), file.size(), out.data(), out.size());
      libdeflate_free_compressor(c);
      compressed += std::min<uint64_t>(n, file.size());  // stored plain when not smaller
    }
  }
  set_encode_counters(state, compressed);
}

void encode_zlib(benchmark::State& state) {
  int level = static_cast<int>(state.range(0));
  std::vector<uint8_t> out;
  uint64_t compressed = 0;
  for (auto _ : state) {
    compressed = 0;
    for (const std::vector<uint8_t>& file : g.sample) {
      uLongf n = compressBound(static_cast<uLong>(file.size()));
      out.resize(n);
      compress2(out.data(), &n, file.data(), static_cast<uLong>(file.size()), level);
      compressed += std::min<uint64_t>(n, file.size());
    }
  }
  set_encode_counters(state, compressed);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (argc < 3 || argc > 4) {
    fprintf(stderr, "usage: decode_bench [benchmark flags] PACKAGE TREE_DIR [ENCODE_SAMPLE_MB]\n");
    return 2;
  }
  if (!load_and_verify(argv[1], argv[2])) return 1;
  pick_sample((argc == 4 ? strtoull(argv[3], nullptr, 10) : 16) * 1000000);
  printf("decode_bench: %zu file entries, %llu bytes of output, all verified; "
         "encode sample %zu files, %llu bytes\n",
         g.files.size(), static_cast<unsigned long long>(g.output_bytes), g.sample.size(),
         static_cast<unsigned long long>(g.sample_bytes));
  fflush(stdout);

  benchmark::RegisterBenchmark("decode/load_entry_into", decode_load_entry_into)
      ->Unit(benchmark::kMillisecond)->UseRealTime();
  benchmark::RegisterBenchmark("decode/zlib_inflate", decode_zlib)
      ->Unit(benchmark::kMillisecond)->UseRealTime();
  benchmark::RegisterBenchmark("decode/memcpy", decode_memcpy)
      ->Unit(benchmark::kMillisecond)->UseRealTime();
  benchmark::RegisterBenchmark("encode/zlib", encode_zlib)
      ->Arg(6)->Arg(9)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
  benchmark::RegisterBenchmark("encode/libdeflate", encode_libdeflate)
      ->DenseRange(1, 12)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  close_package(&g.package);
  return 0;
}

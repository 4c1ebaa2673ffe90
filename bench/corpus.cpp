// Integer-only generators, so that a seed gives the same bytes everywhere.
#include "corpus.h"

#include <algorithm>

namespace {

// splitmix64: small, fast and good enough for test data.
struct Random {
  uint64_t state;
  uint64_t next() {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  uint32_t below(uint32_t n) { return static_cast<uint32_t>((next() >> 32) * n >> 32); }
  // Small indexes far more often than large ones, like opcodes and words.
  uint32_t skewed(uint32_t n) {
    uint64_t u = next() >> 44;  // 20 bits
    uint64_t square = u * u >> 20;
    uint64_t fourth = square * square >> 20;
    return static_cast<uint32_t>(fourth * n >> 20);
  }
};

constexpr uint32_t kTokenCount = 1024;
constexpr uint32_t kWordCount = 2048;

// Byte sequences shared by all binaries, as instruction patterns are.
const std::vector<std::string>& binary_tokens() {
  static const std::vector<std::string> tokens = [] {
    Random r{0xB1};
    std::vector<std::string> t(kTokenCount);
    for (std::string& s : t) {
      s.resize(1 + r.below(7));
      for (char& c : s) c = static_cast<char>(r.next() >> 56);
    }
    return t;
  }();
  return tokens;
}

const std::vector<std::string>& words() {
  static const std::vector<std::string> list = [] {
    Random r{0x7E};
    std::vector<std::string> w(kWordCount);
    for (std::string& s : w) {
      s.resize(2 + r.below(9));
      for (char& c : s) c = static_cast<char>('a' + r.below(26));
    }
    return w;
  }();
  return list;
}

void fill_binary(Random* r, std::vector<uint8_t>* out, uint32_t size) {
  const std::vector<std::string>& tokens = binary_tokens();
  while (out->size() < size) {
    uint32_t pick = r->below(100);
    if (pick < 80) {
      const std::string& t = tokens[r->skewed(kTokenCount)];
      out->insert(out->end(), t.begin(), t.end());
    } else if (pick < 96) {
      // An address or immediate: low bytes vary, high bytes mostly zero.
      uint64_t v = r->next();
      out->push_back(static_cast<uint8_t>(v));
      out->push_back(static_cast<uint8_t>(v >> 8));
      out->push_back(static_cast<uint8_t>((v >> 16) & 0x0F));
      out->push_back(0);
    } else {
      out->insert(out->end(), 1 + r->below(48), 0);  // alignment padding
    }
  }
}

void fill_text(Random* r, std::vector<uint8_t>* out, uint32_t size) {
  const std::vector<std::string>& list = words();
  while (out->size() < size) {
    out->insert(out->end(), r->below(4) * 2, ' ');
    uint32_t count = 3 + r->below(12);
    for (uint32_t i = 0; i < count; ++i) {
      const std::string& w = list[r->skewed(kWordCount)];
      out->insert(out->end(), w.begin(), w.end());
      out->push_back(i + 1 < count ? ' ' : (r->below(3) == 0 ? '.' : ';'));
    }
    out->push_back('\r');
    out->push_back('\n');
  }
}

void fill_compressed(Random* r, std::vector<uint8_t>* out, uint32_t size) {
  while (out->size() < size) {
    uint64_t v = r->next();
    for (int i = 0; i < 8; ++i) out->push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
}

const char* extension(FileKind kind, uint32_t pick) {
  static const char* const kBinary[] = {"dll", "exe", "dat", "bin"};
  static const char* const kText[] = {"txt", "xml", "ini", "lua"};
  static const char* const kCompressed[] = {"png", "jpg", "ogg", "zip"};
  switch (kind) {
    case FileKind::kBinary: return kBinary[pick % 4];
    case FileKind::kText: return kText[pick % 4];
    case FileKind::kCompressed: return kCompressed[pick % 4];
  }
  return "bin";
}

// Three digits at least: "007".
std::string padded(uint32_t n) {
  std::string digits = std::to_string(n);
  return std::string(digits.size() < 3 ? 3 - digits.size() : 0, '0') + digits;
}

}  // namespace

const char* kind_name(FileKind kind) {
  switch (kind) {
    case FileKind::kBinary: return "binary";
    case FileKind::kText: return "text";
    case FileKind::kCompressed: return "compressed";
  }
  return "?";
}

std::vector<CorpusFile> plan_corpus(uint64_t total_bytes, uint32_t max_file_bytes, uint64_t seed) {
  Random r{seed};
  std::vector<CorpusFile> files;
  uint64_t planned = 0;
  constexpr uint32_t kFilesPerFolder = 64;
  while (planned < total_bytes) {
    CorpusFile f;
    uint32_t pick = r.below(10);
    f.kind = pick < 5 ? FileKind::kBinary : pick < 8 ? FileKind::kText : FileKind::kCompressed;
    // Log-normal-like sizes: 2^(4 + a sum of 20 coin flips), median 16 KiB,
    // then spread within the octave; media files run larger.
    uint64_t bits = r.next();
    int exponent = 4;
    for (int i = 0; i < 20; ++i) exponent += static_cast<int>((bits >> i) & 1);
    uint64_t size = (uint64_t{1} << exponent) + r.below(1u << std::min(exponent, 30));
    if (f.kind == FileKind::kCompressed) size *= 2;
    size = std::min<uint64_t>({size, max_file_bytes, total_bytes - planned});
    f.size = static_cast<uint32_t>(std::max<uint64_t>(size, 1));
    f.seed = r.next();
    uint32_t index = static_cast<uint32_t>(files.size());
    f.path = "d" + padded(index / kFilesPerFolder) + "\\f" + padded(index % kFilesPerFolder) +
             "." + extension(f.kind, r.below(4));
    planned += f.size;
    files.push_back(f);
  }
  return files;
}

std::vector<CorpusFile> plan_small_files(uint32_t count, uint32_t per_folder, uint64_t seed) {
  Random r{seed};
  std::vector<CorpusFile> files;
  for (uint32_t index = 0; index < count; ++index) {
    CorpusFile f;
    uint32_t pick = r.below(10);
    f.kind = pick < 5 ? FileKind::kBinary : pick < 8 ? FileKind::kText : FileKind::kCompressed;
    f.size = 1024 + r.below(7 * 1024 + 1);
    f.seed = r.next();
    f.path = "s" + padded(index / per_folder) + "\\f" + padded(index % per_folder) + "." +
             extension(f.kind, r.below(4));
    files.push_back(f);
  }
  return files;
}

std::vector<uint8_t> file_content(const CorpusFile& file) {
  Random r{file.seed};
  std::vector<uint8_t> out;
  out.reserve(file.size + 64);
  switch (file.kind) {
    case FileKind::kBinary: fill_binary(&r, &out, file.size); break;
    case FileKind::kText: fill_text(&r, &out, file.size); break;
    case FileKind::kCompressed: fill_compressed(&r, &out, file.size); break;
  }
  out.resize(file.size);
  return out;
}

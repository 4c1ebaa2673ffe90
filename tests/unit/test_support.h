// Small helpers shared by the unit tests: exactly-sized heap copies (so that
// AddressSanitizer sees any read past the end), an opened package that
// closes itself, and scratch files.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "package.h"

namespace test {

// A malloc'ed copy of exactly n bytes (n 0 gives a 1-byte block that is
// never read).
struct HeapCopy {
  uint8_t* data = nullptr;
  size_t size = 0;
  HeapCopy(const uint8_t* p, size_t n) : data(static_cast<uint8_t*>(malloc(n ? n : 1))), size(n) {
    if (n) memcpy(data, p, n);
  }
  explicit HeapCopy(const std::vector<uint8_t>& b) : HeapCopy(b.data(), b.size()) {}
  explicit HeapCopy(const std::string& s)
      : HeapCopy(reinterpret_cast<const uint8_t*>(s.data()), s.size()) {}
  ~HeapCopy() { free(data); }
  HeapCopy(const HeapCopy&) = delete;
  HeapCopy& operator=(const HeapCopy&) = delete;
};

// open_package_view over an exactly-sized copy; closed on destruction.
struct OpenedView {
  HeapCopy bytes;
  Package package = {};
  PackageResult result;
  bool ok = false;
  OpenedView(const std::vector<uint8_t>& b, bool from_image) : bytes(b) {
    result = open_package_view(&package, bytes.data, bytes.size, from_image);
    ok = static_cast<bool>(result);
  }
  ~OpenedView() { close_package(&package); }
  std::vector<uint8_t> load(int index) const {
    uint8_t* buffer = load_entry(&package, index);
    if (buffer == nullptr) return {0xDE, 0xAD};  // never equal to real content below
    std::vector<uint8_t> out(buffer, buffer + package.entries[index].size);
    free_entry_buffer(buffer);
    return out;
  }
  bool loads(int index) const {
    uint8_t* buffer = load_entry(&package, index);
    free_entry_buffer(buffer);
    return buffer != nullptr;
  }
};

inline std::string scratch_path(const std::string& leaf) {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(info->test_suite_name()) + "_" + info->name() + "_" + leaf;
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  return ::testing::TempDir() + name;
}

inline std::string write_scratch(const std::string& leaf, const std::vector<uint8_t>& bytes) {
  std::string path = scratch_path(leaf);
  FILE* f = fopen(path.c_str(), "wb");
  EXPECT_NE(f, nullptr) << path;
  if (f != nullptr) {
    if (!bytes.empty()) EXPECT_EQ(fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    fclose(f);
  }
  return path;
}

inline std::vector<uint8_t> bytes_of(const std::string& s) {
  return std::vector<uint8_t>(s.begin(), s.end());
}

}  // namespace test

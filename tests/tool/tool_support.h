// Helpers for the tool's tests: a scratch folder, files, running krvpack.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace fs = std::filesystem;

struct RunResult {
  int exit_code = -1;
  std::string out;
  std::string err;
};

// Runs the built krvpack with the arguments (UTF-8), stdout and stderr
// captured into files (so stderr is never a terminal).
RunResult run_krvpack(const std::vector<std::string>& arguments);
RunResult run_program(const std::string& program, const std::vector<std::string>& arguments);

void write_file(const fs::path& path, const std::string& content);
std::string read_file(const fs::path& path);

// Relative path (with "/") to content; folders map to "<dir>".
std::map<std::string, std::string> snapshot(const fs::path& root);

// Files in a folder whose names hold "krvpack-": leftovers of temp files.
std::vector<std::string> temp_leftovers(const fs::path& dir);

class ScratchTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  fs::path dir_;
};

// The smallest bytes that pass for a Windows program (or DLL): DOS header,
// PE signature, file header, an optional header, then `tail`.
std::string minimal_pe(bool dll, const std::string& tail);

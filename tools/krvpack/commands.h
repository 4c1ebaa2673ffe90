// The subcommands of krvpack. Each returns the process exit code: 0 on
// success, 1 on failure (with one "krvpack: ..." line on stderr).
#pragma once

#include <string>

#include "package_writer.h"

struct PackOptions {
  int compression_level = kDefaultCompressionLevel;  // libdeflate level, 1 to 12
  unsigned threads = 0;
};

int run_build(const std::string& manifest, const std::string& output, const PackOptions& options);
int run_diff(const std::string& old_dir, const std::string& new_dir, const std::string& manifest,
             const std::string& output, const PackOptions& options);
int run_list(const std::string& input, bool json);
int run_verify(const std::string& input);
int run_extract(const std::string& input, const std::string& dir);
// sign_command: empty, or a command run on the finished image before it is
// renamed into place ({image} and {signed} name the files; see --help).
int run_image(const std::string& program, const std::string& package, const std::string& output,
              const std::string& sign_command);

// The message printed for every failure: one "krvpack: " line per line.
int report_failure(const std::string& message);

// False with the reason when the output's folder does not exist or the
// output names a folder.
bool check_output_path(const std::string& utf8_output, std::string* error);

// Every file the tool writes goes to a temporary file beside the target and
// is renamed into place only when complete, so a failed or interrupted run
// never leaves a half-written package, image or extracted file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

bool write_output_file(const std::string& utf8_path, const uint8_t* data, size_t size,
                       std::string* error);

// The same, with a step run on the complete temporary file before it is
// renamed into place (signing an image); its failure abandons the output.
using BeforeRename = std::function<bool(const std::string& utf8_temporary, std::string* error)>;
bool write_output_file(const std::string& utf8_path, const uint8_t* data, size_t size,
                       const BeforeRename& before_rename, std::string* error);

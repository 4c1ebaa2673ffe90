// The publisher's manifest (TOML, UTF-8): what goes into a package besides
// the files of a folder. Text is converted to Windows-1251 on reading.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "section_builders.h"

struct ManifestFile {
  std::string utf8_path;     // as written, relative to the source folder
  std::string package_path;  // Windows-1251, backslashes
  int64_t line = 0;
};

struct Manifest {
  std::string key_path;
  std::string folder_value = "ProgramPath";
  std::string program_value = "ProgramName";
  std::string level_value = "PatchLevel";
  int32_t level = 0;
  bool has_startup = false;
  std::string caption;
  std::string text;  // lines separated by "\r\n"
  bool has_source = false;
  std::filesystem::path source;  // resolved against the manifest's folder
  int64_t source_line = 0;
  bool has_files = false;
  std::vector<ManifestFile> files;
  std::vector<std::string> folders;  // package form, in the manifest's order
  std::vector<CommandSpec> commands;
  std::vector<std::string> remove;  // package form, in the manifest's order
  // The first key that names content ("source", "files", "folders",
  // "remove"), for the callers that take content from elsewhere.
  std::string content_key;
  int64_t content_key_line = 0;
};

// False with "PATH:LINE: message" (or "PATH: message") in *error.
bool read_manifest(const std::string& utf8_path, Manifest* manifest, std::string* error);

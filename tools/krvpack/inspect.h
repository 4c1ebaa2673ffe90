// Opening, decoding and checking a package or a self-contained image with
// the same reader and section parsers as the updater itself.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "package.h"
#include "platform.h"

struct InputPackage {
  MappedFile file;
  Package package{};
  bool is_image = false;
};

// Opens a package file, or failing that a self-contained image. On failure
// *error gives the reader's reason; close_input is needed either way.
bool open_input(const std::string& utf8_path, InputPackage* input, std::string* error);
void close_input(InputPackage* input);

// The reader's reason in words, with the entry's name or the platform's
// error text where the reason has one.
std::string refusal_text(const Package& package, const PackageResult& result, bool is_image);

// The package's integrity as the updater checks it before its first write:
// the checksum section's digests, or without one every compressed stream.
bool check_input_integrity(const InputPackage& input, std::string* fault);

// The SHA-256 of each entry's content (inflated), lower-case hex, in
// directory order.
bool content_digests(const InputPackage& input, std::vector<std::string>* digests,
                     std::string* error);

// Texts below are Windows-1251 as stored.
struct EntryReport {
  std::string name;
  std::string path;  // translated through the name table; empty for sections
  bool is_section = false;
  uint32_t size = 0;
  uint32_t stored_size = 0;  // bytes in the package
  bool compressed = false;
};

struct CommandReport {
  uint8_t flags = 0;
  std::string program;
  std::string arguments;
};

// A list section: its items and whether it closes with its empty string
// inside its content (a reader stops at the break otherwise).
struct ListReport {
  bool present = false;
  bool complete = false;
  std::vector<std::string> items;
};

struct SectionsReport {
  bool has_registry = false;
  bool registry_complete = false;
  std::string key_path, folder_value, program_value, level_value;
  int32_t level = 0;
  bool has_startup = false;
  bool startup_complete = false;
  std::string caption, text;
  bool has_names = false;
  bool names_complete = false;
  std::vector<std::pair<std::string, std::string>> names;
  ListReport folders;
  bool has_commands = false;
  bool commands_complete = false;
  std::vector<CommandReport> commands;
  ListReport remove;
};

struct PackageReport {
  uint64_t file_size = 0;
  bool is_image = false;
  uint32_t package_offset = 0;
  bool has_checksums = false;
  std::vector<EntryReport> entries;
  SectionsReport sections;
};

// Loads and decodes every known section (the first of each name, as the
// updater does). False when a section's entry cannot be loaded.
bool describe_package(const InputPackage& input, PackageReport* report, std::string* error);

// Everything the updater checks, its integrity check included, every entry
// inflated to its size with its Adler-32, every section parsed, every path
// kept inside the installation.
// False with the first fault; warnings name what is odd but harmless.
bool verify_package(const InputPackage& input, const PackageReport& report, std::string* fault,
                    std::vector<std::string>* warnings);

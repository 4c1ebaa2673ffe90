// Contents of the named sections, exactly as packages carry them. Strings
// are Windows-1251 bytes; a string must not contain a NUL byte.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "package_format.h"  // the section names

// Four strings, the signed level as 4 little-endian bytes, one zero byte.
std::string build_registry_keys(const std::string& key_path, const std::string& folder_value,
                                const std::string& program_value, const std::string& level_value,
                                int32_t package_level);

// Caption, text, one more zero byte.
std::string build_startup_message(const std::string& caption, const std::string& text);

// Names each ended by NUL, then the empty string (":Folders", ":FilesToRemove").
std::string build_string_list(const std::vector<std::string>& items);

// Substitute name and path pairs, closed by an empty pair (two NULs).
std::string build_name_table(const std::vector<std::pair<std::string, std::string>>& pairs);

struct CommandSpec {
  bool wait_for_exit = false;
  bool in_install_dir = false;
  uint8_t extra_flag_bits = 0;  // bits 2..7, which the updater ignores
  std::string program;
  std::string arguments;
};

// Records (flags byte, program, arguments), then the end record: 0, NUL.
std::string build_commands(const std::vector<CommandSpec>& commands);

// True when a relative path must be stored under a substitute name: 31 or
// more bytes, or a blank in it.
bool needs_substitute_name(const std::string& relative_path);

// "TMP" and the serial in 16 decimal digits: "TMP0000000000000001" for 1.
std::string substitute_name(uint64_t serial);

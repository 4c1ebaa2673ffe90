// Reading the named sections that steer a run. A loaded section carries no
// terminator of its own: every reader here stops at the end of the content
// and hands out only strings whose NUL lies inside it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

struct SectionCursor {
  const uint8_t* data;
  size_t size;
  size_t position;
};

SectionCursor section_cursor(const uint8_t* data, size_t size);

// The next NUL-terminated string. False when the content ends before a NUL
// (the cursor then stays at the end).
bool next_string(SectionCursor* cursor, const char** text);

// The next string of a list ended by an empty string: false at the empty
// string and at a break in the content.
bool next_list_item(SectionCursor* cursor, const char** text);

struct RegistryKeysSection {
  const char* key_path;
  const char* folder_value_name;
  const char* program_value_name;
  const char* level_value_name;
  int32_t package_level;
};

// False unless the section holds four terminated strings and four more bytes.
bool parse_registry_keys(const uint8_t* data, size_t size, RegistryKeysSection* keys);

// Caption and text of the startup box, as far as the section holds them: a
// string cut by the end of the content is taken up to that end, a missing
// one is empty.
struct StartupMessage {
  std::string_view caption;
  std::string_view text;
};
StartupMessage parse_startup_message(const uint8_t* data, size_t size);

// The relative path that the name table gives for an entry name, or null
// when the table has no such substitute name. Substitute names match with
// ASCII letters compared regardless of case.
const char* find_translation(const uint8_t* table, size_t size, const char* entry_name);

constexpr uint8_t kCommandWaitForExit = 0x01;
constexpr uint8_t kCommandInInstallDir = 0x02;

struct CommandRecord {
  uint8_t flags;
  const char* program;
  const char* arguments;
};

// The next whole command record; false at the end record or where the
// content breaks off inside a record.
bool next_command(SectionCursor* cursor, CommandRecord* record);

// ASCII letters compared regardless of case, every other byte exactly.
bool names_equal_ascii_nocase(const char* a, const char* b);

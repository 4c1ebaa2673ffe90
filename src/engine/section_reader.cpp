#include "section_reader.h"

#include <cstring>

SectionCursor section_cursor(const uint8_t* data, size_t size) {
  return SectionCursor{data, data != nullptr ? size : 0, 0};
}

bool next_string(SectionCursor* cursor, const char** text) {
  if (cursor->position >= cursor->size) return false;
  const uint8_t* start = cursor->data + cursor->position;
  size_t left = cursor->size - cursor->position;
  const void* nul = memchr(start, 0, left);
  if (nul == nullptr) {
    cursor->position = cursor->size;
    return false;
  }
  *text = reinterpret_cast<const char*>(start);
  cursor->position += static_cast<size_t>(static_cast<const uint8_t*>(nul) - start) + 1;
  return true;
}

bool next_list_item(SectionCursor* cursor, const char** text) {
  return next_string(cursor, text) && (*text)[0] != '\0';
}

bool parse_registry_keys(const uint8_t* data, size_t size, RegistryKeysSection* keys) {
  SectionCursor cursor = section_cursor(data, size);
  if (!next_string(&cursor, &keys->key_path) ||
      !next_string(&cursor, &keys->folder_value_name) ||
      !next_string(&cursor, &keys->program_value_name) ||
      !next_string(&cursor, &keys->level_value_name)) {
    return false;
  }
  if (cursor.size - cursor.position < 4) return false;
  const uint8_t* level = cursor.data + cursor.position;
  uint32_t raw = static_cast<uint32_t>(level[0]) | (static_cast<uint32_t>(level[1]) << 8) |
                 (static_cast<uint32_t>(level[2]) << 16) | (static_cast<uint32_t>(level[3]) << 24);
  memcpy(&keys->package_level, &raw, sizeof raw);
  return true;
}

namespace {

std::string_view take_text(SectionCursor* cursor) {
  if (cursor->position >= cursor->size) return {};
  const char* start = reinterpret_cast<const char*>(cursor->data + cursor->position);
  size_t left = cursor->size - cursor->position;
  const void* nul = memchr(start, 0, left);
  size_t length = nul != nullptr ? static_cast<size_t>(static_cast<const char*>(nul) - start) : left;
  cursor->position += nul != nullptr ? length + 1 : length;
  return std::string_view(start, length);
}

}  // namespace

StartupMessage parse_startup_message(const uint8_t* data, size_t size) {
  SectionCursor cursor = section_cursor(data, size);
  StartupMessage message;
  message.caption = take_text(&cursor);
  message.text = take_text(&cursor);
  return message;
}

bool names_equal_ascii_nocase(const char* a, const char* b) {
  for (;; ++a, ++b) {
    unsigned char x = static_cast<unsigned char>(*a);
    unsigned char y = static_cast<unsigned char>(*b);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 0x20);
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 0x20);
    if (x != y) return false;
    if (x == 0) return true;
  }
}

const char* find_translation(const uint8_t* table, size_t size, const char* entry_name) {
  SectionCursor cursor = section_cursor(table, size);
  const char* substitute;
  const char* path;
  while (next_list_item(&cursor, &substitute)) {
    // The path of a matching pair is taken as it stands; a pair whose path
    // is empty or cut off ends the table.
    if (!next_string(&cursor, &path)) return nullptr;
    if (names_equal_ascii_nocase(substitute, entry_name)) return path;
    if (path[0] == '\0') return nullptr;
  }
  return nullptr;
}

bool next_command(SectionCursor* cursor, CommandRecord* record) {
  if (cursor->position >= cursor->size) return false;
  SectionCursor probe = *cursor;
  uint8_t flags = probe.data[probe.position++];
  const char* program;
  const char* arguments;
  if (!next_list_item(&probe, &program)) return false;
  if (!next_string(&probe, &arguments)) return false;
  record->flags = flags;
  record->program = program;
  record->arguments = arguments;
  *cursor = probe;
  return true;
}

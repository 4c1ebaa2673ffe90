// libFuzzer target: arbitrary bytes as a package file and as an image.
// Opens, lists, looks every name up, loads every entry both ways and runs
// every section reader over each loaded entry and over the raw input, and
// runs the integrity check over every package that opens.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "command_line.h"
#include "package.h"
#include "package_integrity.h"
#include "section_reader.h"

namespace {

// Loads larger than this are still attempted by load_entry (which has its
// own plausibility bound) but not copied a second time by load_entry_into.
constexpr uint32_t kIntoLimit = 1u << 20;

void require(bool condition) {
  if (!condition) abort();
}

void read_sections(const uint8_t* data, size_t size, const DirectoryEntry* entries,
                   uint32_t count) {
  RegistryKeysSection keys;
  if (parse_registry_keys(data, size, &keys)) {
    // Every string handed out ends inside the content.
    for (const char* s : {keys.key_path, keys.folder_value_name, keys.program_value_name,
                          keys.level_value_name}) {
      require(s >= reinterpret_cast<const char*>(data) &&
              s + strlen(s) < reinterpret_cast<const char*>(data) + size);
    }
  }
  StartupMessage message = parse_startup_message(data, size);
  require(message.caption.size() + message.text.size() <= size);

  SectionCursor cursor = section_cursor(data, size);
  const char* text;
  while (next_list_item(&cursor, &text)) require(cursor.position <= size);

  cursor = section_cursor(data, size);
  CommandRecord record;
  while (next_command(&cursor, &record)) require(cursor.position <= size);

  for (uint32_t i = 0; i < count && i < 64; ++i) {
    const char* path = find_translation(data, size, entries[i].name);
    if (path != nullptr) {
      require(path >= reinterpret_cast<const char*>(data) &&
              path + strlen(path) < reinterpret_cast<const char*>(data) + size);
    }
  }
}

void exercise(const uint8_t* data, size_t size, bool from_image) {
  Package package = {};
  if (open_package_view(&package, data, size, from_image)) {
    uint32_t count = package.header.entry_count;
    require(package.entries != nullptr && count != 0);
    for (uint32_t i = 0; i < count; ++i) {
      const DirectoryEntry& entry = package.entries[i];
      require(memchr(entry.name, 0, sizeof entry.name) != nullptr);
      // The first entry of an equal name is found, never a later one.
      int found = find_entry(&package, entry.name);
      require(found >= 0 && static_cast<uint32_t>(found) <= i);
      if (i >= 256) continue;  // listing and lookup cover the rest

      uint8_t* buffer = load_entry(&package, static_cast<int>(i));
      if (buffer != nullptr) {
        read_sections(buffer, entry.size, package.entries.get(), count);
        if (entry.size <= kIntoLimit) {
          uint8_t* again = static_cast<uint8_t*>(malloc(entry.size ? entry.size : 1));
          require(again != nullptr);
          require(static_cast<bool>(load_entry_into(&package, static_cast<int>(i), again)));
          require(entry.size == 0 || memcmp(again, buffer, entry.size) == 0);
          free(again);
        }
        free_entry_buffer(buffer);
      }
    }
    // The integrity check reads only what the directory put inside the file.
    PlatformSha256 sha256;
    check_package_integrity(package, sha256.function());
    require(load_entry(&package, -1) == nullptr);
    if (count <= INT32_MAX) require(load_entry(&package, static_cast<int>(count)) == nullptr);
  } else {
    require(package.entries == nullptr && find_entry(&package, "") == -1);
  }
  close_package(&package);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  exercise(data, size, false);
  exercise(data, size, true);
  read_sections(data, size, nullptr, 0);

  // The same bytes as a command line, cut at the first NUL.
  auto arguments =
      split_command_line(std::string_view(reinterpret_cast<const char*>(data), size));
  require(arguments.size() <= kArgumentSlots);
  return 0;
}

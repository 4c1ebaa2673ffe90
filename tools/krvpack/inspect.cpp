#include "inspect.h"

#include <cstring>
#include <filesystem>
#include <map>

#include "cp1251.h"
#include "entry_inflate.h"
#include "package_layout.h"
#include "paths.h"
#include "platform.h"
#include "section_builders.h"
#include "section_reader.h"

namespace fs = std::filesystem;

namespace {

std::string quoted(const std::string& cp1251) { return "\"" + cp1251_to_utf8(cp1251) + "\""; }

std::string entry_name(const DirectoryEntry& entry) {
  return std::string(entry.name, strnlen(entry.name, sizeof entry.name));
}

bool diagnose_entries(ByteSpan file, uint32_t offset, const PackageHeader& header,
                      const DirectoryEntry* raw, std::string* error) {
  for (uint32_t i = 0; i < header.entry_count; ++i) {
    const uint8_t* record = reinterpret_cast<const uint8_t*>(raw) + i * kDirectoryEntrySize;
    if (memchr(record, 0, kEntryNameSize) == nullptr) {
      *error = "directory entry " + std::to_string(i + 1) + " has a name without its NUL";
      return false;
    }
    uint16_t flags = read_le16(record + 42);
    uint64_t length = (flags & kEntryCompressed) ? read_le32(record + 44) : read_le32(record + 36);
    if (!range_inside(file.size, static_cast<uint64_t>(offset) + read_le32(record + 32), length)) {
      *error = "entry " + quoted(reinterpret_cast<const char*>(record)) +
               " lies beyond the end of the file";
      return false;
    }
  }
  *error = "the updater's reader refuses it";
  return false;
}

bool diagnose_directory(ByteSpan file, uint32_t offset, const PackageHeader& header,
                        std::string* error) {
  uint64_t bytes = static_cast<uint64_t>(header.entry_count) * kDirectoryEntrySize;
  uint64_t start = static_cast<uint64_t>(offset) + header.directory_offset;
  bool deflated = (header.flags & 3u) == kStorageDeflated;
  uint64_t stored = deflated ? header.directory_stored_size : bytes;
  if (!range_inside(file.size, start, stored)) {
    *error = "the directory lies beyond the end of the file";
    return false;
  }
  if (deflated && bytes > stored * 1032 + 64) {
    *error = "the header's entry count is more than its stored directory can hold";
    return false;
  }
  std::vector<uint8_t> directory(bytes);
  if (deflated && !inflate_exact(file.data + start, stored, directory.data(), bytes)) {
    *error = "the directory does not inflate to " + std::to_string(header.entry_count) +
             " entries";
    return false;
  }
  if (!deflated) memcpy(directory.data(), file.data + start, bytes);
  return diagnose_entries(file, offset, header,
                          reinterpret_cast<const DirectoryEntry*>(directory.data()), error);
}

// Names the first thing that the reader refuses, in the reader's order.
bool diagnose(ByteSpan file, bool from_image, std::string* error) {
  uint32_t offset = 0;
  if (from_image) {
    if (!locate_package(file, true, &offset)) {
      *error = "neither a package (it does not begin with the package magic) nor a "
               "self-contained image (it does not end with the \"KRVD\" trailer, nor does it "
               "carry one before a certificate table at its end)";
      return false;
    }
  }
  if (!range_inside(file.size, offset, kHeaderSize) ||
      memcmp(file.data + offset, kPackageMagic, sizeof kPackageMagic) != 0) {
    *error = from_image ? "the image's trailer points to offset " + std::to_string(offset) +
                              ", where no package begins"
                        : "the file does not begin with the package magic";
    return false;
  }
  PackageHeader header;
  memcpy(&header, file.data + offset, 16);
  header.entry_count = read_le32(file.data + offset + 16);
  header.directory_offset = read_le32(file.data + offset + 20);
  header.flags = read_le32(file.data + offset + 24);
  header.directory_stored_size = read_le32(file.data + offset + 28);
  if (header.entry_count == 0) *error = "the header's entry count is 0";
  if (header.directory_offset == 0) *error = "the header's directory offset is 0";
  if ((header.flags & 3u) == kStorageInvalid) *error = "the header's directory storage is 1";
  if (header.entry_count == 0 || header.directory_offset == 0 ||
      (header.flags & 3u) == kStorageInvalid) {
    return false;
  }
  return diagnose_directory(file, offset, header, error);
}

bool looks_like_image(const Package& package) {
  if (package.file_size < kTrailerSize) return false;
  bool starts_as_package = package.file_size >= sizeof kPackageMagic &&
                           memcmp(package.view, kPackageMagic, sizeof kPackageMagic) == 0;
  return !starts_as_package;
}

std::string open_failure_text(const std::string& utf8_path) {
  std::error_code ec;
  fs::path path = fs::u8path(utf8_path);
  if (!fs::exists(path, ec)) return "no such file";
  if (!fs::is_regular_file(path, ec)) return "not a file";
  if (fs::file_size(path, ec) == 0) return "the file is empty";
  return "cannot open or map the file (unreadable, or 4 GiB or more)";
}

}  // namespace

bool open_input(const std::string& utf8_path, InputPackage* input, std::string* error) {
  std::string path = path_for_package_reader(utf8_path);
  input->is_image = false;
  if (open_package(&input->package, path.c_str(), false)) return true;
  if (input->package.view == nullptr) {
    *error = open_failure_text(utf8_path);
    return false;
  }
  if (!looks_like_image(input->package)) {
    return diagnose(ByteSpan{input->package.view, input->package.file_size}, false, error);
  }
  close_package(&input->package);
  input->is_image = true;
  if (open_package(&input->package, path.c_str(), true)) return true;
  if (input->package.view == nullptr) {
    *error = open_failure_text(utf8_path);
    return false;
  }
  return diagnose(ByteSpan{input->package.view, input->package.file_size}, true, error);
}

void close_input(InputPackage* input) { close_package(&input->package); }

namespace {

struct LoadedSection {
  std::vector<uint8_t> bytes;
};

// The first section of that name, as the updater finds it.
bool load_section(const Package& package, const char* name, bool* present,
                  std::vector<uint8_t>* bytes, std::string* error) {
  int index = find_entry(&package, name);
  *present = index >= 0;
  if (!*present) return true;
  uint8_t* buffer = load_entry(&package, index);
  if (buffer == nullptr) {
    *error = std::string("section ") + name + " cannot be loaded: its stored bytes are damaged";
    return false;
  }
  bytes->assign(buffer, buffer + package.entries[index].size);
  free_entry_buffer(buffer);
  return true;
}

void decode_list(const std::vector<uint8_t>& bytes, ListReport* list) {
  SectionCursor cursor = section_cursor(bytes.data(), bytes.size());
  const char* item;
  while (next_string(&cursor, &item)) {
    if (item[0] == '\0') {
      list->complete = true;
      return;
    }
    list->items.push_back(item);
  }
}

void decode_names(const std::vector<uint8_t>& bytes, SectionsReport* s) {
  SectionCursor cursor = section_cursor(bytes.data(), bytes.size());
  const char* substitute;
  const char* path;
  while (next_string(&cursor, &substitute)) {
    if (substitute[0] == '\0') {
      s->names_complete = true;
      return;
    }
    // A pair with an empty or cut path ends the table for the reader.
    if (!next_string(&cursor, &path) || path[0] == '\0') return;
    s->names.emplace_back(substitute, path);
  }
}

void decode_commands(const std::vector<uint8_t>& bytes, SectionsReport* s) {
  SectionCursor cursor = section_cursor(bytes.data(), bytes.size());
  CommandRecord record;
  while (next_command(&cursor, &record)) {
    s->commands.push_back(CommandReport{record.flags, record.program, record.arguments});
  }
  // Only the end record stops the reader inside the content.
  size_t at = cursor.position;
  s->commands_complete = at < bytes.size() && bytes.size() - at >= 2 && bytes[at + 1] == 0;
}

void decode_startup(const std::vector<uint8_t>& bytes, SectionsReport* s) {
  StartupMessage message = parse_startup_message(bytes.data(), bytes.size());
  s->caption.assign(message.caption);
  s->text.assign(message.text);
  SectionCursor cursor = section_cursor(bytes.data(), bytes.size());
  const char* text;
  s->startup_complete = next_string(&cursor, &text) && next_string(&cursor, &text);
}

void decode_registry(const std::vector<uint8_t>& bytes, SectionsReport* s) {
  RegistryKeysSection keys;
  s->registry_complete = parse_registry_keys(bytes.data(), bytes.size(), &keys);
  if (!s->registry_complete) return;
  s->key_path = keys.key_path;
  s->folder_value = keys.folder_value_name;
  s->program_value = keys.program_value_name;
  s->level_value = keys.level_value_name;
  s->level = keys.package_level;
}

bool describe_sections(const Package& package, SectionsReport* s, std::vector<uint8_t>* names,
                       std::string* error) {
  std::vector<uint8_t> bytes;
  if (!load_section(package, kRegistryKeysName, &s->has_registry, &bytes, error)) return false;
  if (s->has_registry) decode_registry(bytes, s);
  if (!load_section(package, kStartupMsgName, &s->has_startup, &bytes, error)) return false;
  if (s->has_startup) decode_startup(bytes, s);
  if (!load_section(package, kXlatNamesTableName, &s->has_names, names, error)) return false;
  if (s->has_names) decode_names(*names, s);
  if (!load_section(package, kFoldersName, &s->folders.present, &bytes, error)) return false;
  if (s->folders.present) decode_list(bytes, &s->folders);
  if (!load_section(package, kCommandsToExecuteName, &s->has_commands, &bytes, error)) return false;
  if (s->has_commands) decode_commands(bytes, s);
  if (!load_section(package, kFilesToRemoveName, &s->remove.present, &bytes, error)) return false;
  if (s->remove.present) decode_list(bytes, &s->remove);
  return true;
}

}  // namespace

bool describe_package(const InputPackage& input, PackageReport* report, std::string* error) {
  const Package& package = input.package;
  report->file_size = package.file_size;
  report->is_image = input.is_image;
  report->package_offset = package.package_offset;
  std::vector<uint8_t> names;
  if (!describe_sections(package, &report->sections, &names, error)) return false;
  for (uint32_t i = 0; i < package.header.entry_count; ++i) {
    const DirectoryEntry& e = package.entries[i];
    EntryReport entry;
    entry.name = entry_name(e);
    entry.is_section = entry.name[0] == ':';
    entry.compressed = (e.flags & kEntryCompressed) != 0;
    entry.size = e.size;
    entry.stored_size = entry.compressed ? e.stored_size : e.size;
    if (!entry.is_section) {
      const char* path = find_translation(names.data(), names.size(), entry.name.c_str());
      entry.path = path != nullptr ? path : entry.name;
    }
    report->entries.push_back(entry);
  }
  return true;
}

namespace {

bool fault_if(bool bad, const std::string& text, std::string* fault) {
  if (bad) *fault = text;
  return !bad;
}

bool verify_entries(const Package& package, std::string* fault) {
  for (uint32_t i = 0; i < package.header.entry_count; ++i) {
    uint8_t* buffer = load_entry(&package, static_cast<int>(i));
    if (buffer == nullptr) {
      *fault = "entry " + quoted(entry_name(package.entries[i])) + " does not give its " +
               std::to_string(package.entries[i].size) +
               " bytes (damaged stream or wrong checksum)";
      return false;
    }
    free_entry_buffer(buffer);
  }
  return true;
}

bool verify_sections(const SectionsReport& s, std::string* fault) {
  return fault_if(!s.has_registry,
                  "no :RegistryKeys section: the updater would find no installation", fault) &&
         fault_if(!s.registry_complete,
                  ":RegistryKeys does not hold four strings and the 4-byte level", fault) &&
         fault_if(s.has_startup && !s.startup_complete,
                  ":StartupMsg does not hold a caption and a text, each ended by NUL", fault) &&
         fault_if(s.has_names && !s.names_complete,
                  ":XlatNamesTable breaks off before its closing empty string", fault) &&
         fault_if(s.folders.present && !s.folders.complete,
                  ":Folders breaks off before its closing empty string", fault) &&
         fault_if(s.has_commands && !s.commands_complete,
                  ":CommandsToExecute breaks off before its end record", fault) &&
         fault_if(s.remove.present && !s.remove.complete,
                  ":FilesToRemove breaks off before its closing empty string", fault);
}

bool verify_paths(const PackageReport& report, std::string* fault) {
  std::string why;
  for (const EntryReport& e : report.entries) {
    if (!e.is_section && !path_stays_inside(e.path, &why)) {
      *fault = "file entry " + quoted(e.name) + " (" + quoted(e.path) +
               ") would leave the installation folder: " + why;
      return false;
    }
  }
  for (const ListReport* list : {&report.sections.folders, &report.sections.remove}) {
    for (const std::string& item : list->items) {
      if (!path_stays_inside(item, &why)) {
        *fault = std::string(list == &report.sections.folders ? ":Folders" : ":FilesToRemove") +
                 " names " + quoted(item) + ", outside the installation folder: " + why;
        return false;
      }
    }
  }
  return true;
}

void collect_warnings(const PackageReport& report, std::vector<std::string>* warnings) {
  static const char* const kKnown[] = {kRegistryKeysName, kStartupMsgName, kXlatNamesTableName,
                                       kFoldersName, kCommandsToExecuteName, kFilesToRemoveName};
  std::map<std::string, int> sections, paths, names;
  for (const EntryReport& e : report.entries) {
    if (e.is_section) {
      bool known = false;
      for (const char* name : kKnown) known = known || names_equal_ascii_nocase(name, e.name.c_str());
      if (!known) warnings->push_back("unknown section " + quoted(e.name) + " is ignored by the updater");
      if (++sections[fold_case(e.name)] == 2) {
        warnings->push_back("section " + quoted(e.name) + " appears more than once; only the first is read");
      }
    } else {
      ++names[fold_case(e.name)];
      if (++paths[fold_case(e.path)] == 2) {
        warnings->push_back("two file entries write " + quoted(e.path) + "; the later one wins");
      }
    }
  }
  for (const auto& pair : report.sections.names) {
    if (names.count(fold_case(pair.first)) == 0) {
      warnings->push_back("the name table's " + quoted(pair.first) + " names no file entry");
    }
  }
}

}  // namespace

bool verify_package(const InputPackage& input, const PackageReport& report, std::string* fault,
                    std::vector<std::string>* warnings) {
  if (!verify_entries(input.package, fault) || !verify_sections(report.sections, fault) ||
      !verify_paths(report, fault)) {
    return false;
  }
  collect_warnings(report, warnings);
  return true;
}

// Opening, describing and verifying packages and images with the updater's
// own reader: every refusal is worded from the reader's own reason.
#include "inspect.h"

#include <cstring>
#include <map>

#include "cp1251.h"
#include "package_integrity.h"
#include "package_layout.h"
#include "paths.h"
#include "win_names.h"
#include "platform.h"
#include "section_builders.h"
#include "section_reader.h"

namespace {

std::string quoted(const std::string& cp1251) { return "\"" + cp1251_to_utf8(cp1251) + "\""; }

std::string entry_name(const DirectoryEntry& entry) {
  return std::string(entry.name, strnlen(entry.name, sizeof entry.name));
}

bool looks_like_image(const Package& package) {
  if (package.file_size < kTrailerSize) return false;
  bool starts_as_package = package.file_size >= sizeof kPackageMagic &&
                           memcmp(package.view, kPackageMagic, sizeof kPackageMagic) == 0;
  return !starts_as_package;
}

std::string hex(const uint8_t* bytes, size_t size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < size; ++i) {
    out.push_back(kDigits[bytes[i] >> 4]);
    out.push_back(kDigits[bytes[i] & 15]);
  }
  return out;
}

}  // namespace

std::string refusal_text(const Package& package, const PackageResult& result, bool is_image) {
  std::string text = package_error_text(result.error);
  switch (result.error) {
    case PackageError::kCannotOpen:
    case PackageError::kCannotMap:
    case PackageError::kHashUnavailable:
      if (result.system_error != 0) text += ": " + system_error_text(result.system_error);
      return text;
    case PackageError::kBadMagic:
    case PackageError::kHeaderOutOfRange:
      if (!is_image) return text;
      return "the image's trailer points to offset " + std::to_string(package.package_offset) +
             ", where no package begins";
    case PackageError::kEntryNameUnterminated:
    case PackageError::kEntryOutOfRange:
      // Refused while the directory was read: only its position is known.
      return "directory entry " + std::to_string(result.entry_index + 1) + ": " + text;
    case PackageError::kEntryDamaged:
    case PackageError::kEntryChecksumMismatch:
      if (package.entries == nullptr || result.entry_index >= package.header.entry_count) {
        return text;
      }
      return "entry " + quoted(entry_name(package.entries[result.entry_index])) + ": " + text;
    default:
      return text;
  }
}

// The file is mapped here through the tool's own (wide-path) platform call;
// the reader then works on the view.
bool open_input(const std::string& utf8_path, InputPackage* input, std::string* error) {
  input->is_image = false;
  input->package = Package{};
  if (!map_file_for_reading(utf8_path, &input->file, error)) return false;
  const uint8_t* view = input->file.data();
  size_t size = input->file.size();
  PackageResult result = open_package_view(&input->package, view, size, false);
  if (result) return true;
  // Not a package from its first byte: perhaps an image, with a package
  // before its trailer.
  if (input->package.view != nullptr && looks_like_image(input->package)) {
    close_package(&input->package);
    input->package = Package{};
    input->is_image = true;
    result = open_package_view(&input->package, view, size, true);
    if (result) return true;
  }
  *error = refusal_text(input->package, result, input->is_image);
  return false;
}

bool check_input_integrity(const InputPackage& input, std::string* fault) {
  PlatformSha256 sha256;
  PackageResult result = check_package_integrity(input.package, sha256.function());
  if (!result) *fault = refusal_text(input.package, result, input.is_image);
  return static_cast<bool>(result);
}

bool content_digests(const InputPackage& input, std::vector<std::string>* digests,
                     std::string* error) {
  PlatformSha256 sha256;
  Sha256Function function = sha256.function();
  const Package& package = input.package;
  for (uint32_t i = 0; i < package.header.entry_count; ++i) {
    EntryBytes bytes;
    PackageResult result = load_entry_bytes(&package, static_cast<int>(i), &bytes);
    uint8_t digest[kSha256Size];
    uint32_t system_error = 0;
    if (result && !function.digest(function.context, bytes.data.get(), bytes.size, digest,
                                   &system_error)) {
      result = package_refused(PackageError::kHashUnavailable, system_error);
    }
    if (!result) {
      *error = refusal_text(package, result, input.is_image);
      return false;
    }
    digests->push_back(hex(digest, sizeof digest));
  }
  return true;
}

void close_input(InputPackage* input) {
  close_package(&input->package);
  input->file = MappedFile();
}

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
  EntryBytes loaded;
  PackageResult result = load_entry_bytes(&package, index, &loaded);
  if (!result) {
    *error = std::string("section ") + name + " cannot be loaded: " +
             package_error_text(result.error);
    return false;
  }
  bytes->assign(loaded.data.get(), loaded.data.get() + loaded.size);
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
  report->has_checksums = find_entry(&package, kChecksumsName) >= 0;
  std::vector<uint8_t> names;
  if (!describe_sections(package, &report->sections, &names, error)) return false;
  for (uint32_t i = 0; i < package.header.entry_count; ++i) {
    const DirectoryEntry& e = package.entries[i];
    EntryReport entry;
    entry.name = entry_name(e);
    entry.is_section = is_section_name(entry.name.c_str());
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

// Each entry loaded as the updater loads it: with a checksum section the
// digests prove the stored bytes, and this proves that the streams inflate.
bool verify_entries(const InputPackage& input, std::string* fault) {
  const Package& package = input.package;
  for (uint32_t i = 0; i < package.header.entry_count; ++i) {
    EntryBytes bytes;
    PackageResult result = load_entry_bytes(&package, static_cast<int>(i), &bytes);
    if (!result) {
      *fault = refusal_text(package, result, input.is_image);
      return false;
    }
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

// Names Windows cannot hold (a device, a trailing dot or blank, a
// forbidden character) or cannot tell apart: every offender is named.
bool verify_names(const PackageReport& report, std::string* fault) {
  std::vector<std::string> offenders, paths;
  auto check = [&offenders](const std::string& what, const std::string& path) {
    for (std::string_view part : path_parts(path)) {
      std::string why = windows_name_problem(part);
      if (!why.empty()) {
        offenders.push_back(what + " " + quoted(path) + ": \"" + cp1251_to_utf8(std::string(part)) +
                            "\" " + why);
        return;
      }
    }
  };
  for (const EntryReport& e : report.entries) {
    if (e.is_section) continue;
    check("file entry", e.path);
    paths.push_back(e.path);
  }
  for (const std::string& item : report.sections.folders.items) check(":Folders item", item);
  for (const std::string& item : report.sections.remove.items) check(":FilesToRemove item", item);
  for (const std::vector<std::string>& group : colliding_paths(paths)) {
    std::string names;
    for (const std::string& path : group) names += (names.empty() ? "" : " and ") + quoted(path);
    // Equal paths are the duplicate-entry warning; only different spellings collide.
    bool differ = false;
    for (const std::string& path : group) differ = differ || path != group.front();
    if (differ) {
      offenders.push_back("file entries " + names + " differ only in letter case: on Windows they are one");
    }
  }
  if (offenders.empty()) return true;
  *fault = "names that Windows cannot hold or keep apart:";
  for (const std::string& o : offenders) *fault += "\n  " + o;
  return false;
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
  static const char* const kKnown[] = {kRegistryKeysName,  kStartupMsgName,
                                       kXlatNamesTableName, kFoldersName,
                                       kCommandsToExecuteName, kFilesToRemoveName,
                                       kChecksumsName};
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
  if (!check_input_integrity(input, fault) || !verify_entries(input, fault) ||
      !verify_sections(report.sections, fault) || !verify_paths(report, fault) ||
      !verify_names(report, fault)) {
    return false;
  }
  collect_warnings(report, warnings);
  if (!report.has_checksums) {
    warnings->push_back("no " + std::string(kChecksumsName) +
                        " section: only the compressed entries can be checked");
  }
  return true;
}

// Refusal of names that would take a run outside the installation folder.
#include "package_names.h"

#include <memory>
#include <type_traits>

#include "section_reader.h"

namespace {

template <typename Char>
bool is_separator(Char c) {
  return c == Char('\\') || c == Char('/');
}

template <typename Char>
Char ascii_upper(Char c) {
  return c >= Char('a') && c <= Char('z') ? static_cast<Char>(c - 0x20) : c;
}

template <typename Char>
bool equals_ascii_nocase(std::basic_string_view<Char> text, std::string_view upper) {
  if (text.size() != upper.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (ascii_upper(text[i]) != static_cast<Char>(upper[i])) return false;
  }
  return true;
}

// Windows drops trailing dots and blanks from a part, so "..", ".. " and
// "..." all end up naming the parent. A lone "." stays in the folder.
template <typename Char>
bool is_parent_part(std::basic_string_view<Char> part) {
  size_t dots = 0;
  for (Char c : part) {
    if (c == Char('.')) {
      ++dots;
    } else if (c != Char(' ')) {
      return false;
    }
  }
  return dots >= 2;
}

// The digits 0 to 9, and the superscripts that Windows also accepts in
// COM and LPT names.
template <typename Char>
bool is_port_digit(Char c) {
  unsigned long code = static_cast<unsigned long>(static_cast<std::make_unsigned_t<Char>>(c));
  if (code >= '0' && code <= '9') return true;
  return sizeof(Char) > 1 && (code == 0xB9 || code == 0xB2 || code == 0xB3);
}

// A device name is matched on the part before its first dot, trailing
// blanks dropped: "con", "CON.txt" and "Con .log" all open the console.
template <typename Char>
bool is_device_part(std::basic_string_view<Char> part) {
  std::basic_string_view<Char> base = part.substr(0, part.find(Char('.')));
  while (!base.empty() && base.back() == Char(' ')) base.remove_suffix(1);
  for (std::string_view device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
    if (equals_ascii_nocase(base, device)) return true;
  }
  if (base.size() != 4 || !is_port_digit(base[3])) return false;
  return equals_ascii_nocase(base.substr(0, 3), "COM") ||
         equals_ascii_nocase(base.substr(0, 3), "LPT");
}

}  // namespace

template <typename Char>
NameFault check_relative_name(std::basic_string_view<Char> name) {
  if (name.size() >= 2 && is_separator(name[0]) && is_separator(name[1])) {
    return NameFault::kAbsolute;
  }
  // A colon is either a drive ("C:\x", "C:x") or a stream; the drive
  // belongs at the start, so that case is told apart only for the reason.
  size_t colon = name.find(Char(':'));
  if (colon != std::basic_string_view<Char>::npos) {
    return colon == 1 ? NameFault::kAbsolute : NameFault::kStream;
  }
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = start;
    while (end < name.size() && !is_separator(name[end])) ++end;
    std::basic_string_view<Char> part = name.substr(start, end - start);
    if (is_parent_part(part)) return NameFault::kParentFolder;
    if (is_device_part(part)) return NameFault::kDevice;
    start = end + 1;
  }
  return NameFault::kNone;
}

template NameFault check_relative_name<char>(std::string_view);
template NameFault check_relative_name<wchar_t>(std::wstring_view);
template NameFault check_relative_name<char16_t>(std::u16string_view);

namespace {

struct ReleaseEntryBuffer {
  void operator()(uint8_t* bytes) const { free_entry_buffer(bytes); }
};
using EntryBuffer = std::unique_ptr<uint8_t, ReleaseEntryBuffer>;

// A section's content for the walk; `absent` when the package has none.
struct LoadedSection {
  bool absent = true;
  EntryBuffer bytes;
  size_t size = 0;
};

struct Walk {
  const Package& package;
  SectionLoader loader;
  const void* context;
};

LoadedSection load_section(const Walk& walk, const char* name) {
  LoadedSection section;
  int index = find_entry(&walk.package, name);
  if (index < 0) return section;
  section.absent = false;
  section.bytes.reset(walk.loader != nullptr ? walk.loader(walk.package, index, walk.context)
                                             : load_entry(&walk.package, index));
  if (section.bytes != nullptr) section.size = walk.package.entries[index].size;
  return section;
}

bool record(NameCheck* check, NameSource source, const char* name) {
  check->fault = check_relative_name(std::string_view(name));
  check->source = source;
  check->name = name;
  return !check->safe();
}

bool unreadable(NameCheck* check, NameSource source) {
  check->fault = NameFault::kUnreadable;
  check->source = source;
  return true;
}

bool check_file_entries(const Walk& walk, NameCheck* check) {
  const Package& package = walk.package;
  LoadedSection table = load_section(walk, ":XlatNamesTable");
  if (!table.absent && table.bytes == nullptr) return unreadable(check, NameSource::kFileEntry);
  for (uint32_t i = 0; i < package.header.entry_count; ++i) {
    const char* name = package.entries[i].name;
    if (name[0] == ':') continue;
    const char* path = table.bytes != nullptr
                           ? find_translation(table.bytes.get(), table.size, name)
                           : nullptr;
    if (record(check, NameSource::kFileEntry, path != nullptr ? path : name)) return true;
  }
  return false;
}

bool check_list(const Walk& walk, const char* section_name, NameSource source,
                NameCheck* check) {
  LoadedSection list = load_section(walk, section_name);
  if (list.absent) return false;
  if (list.bytes == nullptr) return unreadable(check, source);
  SectionCursor cursor = section_cursor(list.bytes.get(), list.size);
  const char* item;
  while (next_list_item(&cursor, &item)) {
    if (record(check, source, item)) return true;
  }
  return false;
}

bool check_commands(const Walk& walk, NameCheck* check) {
  LoadedSection list = load_section(walk, ":CommandsToExecute");
  if (list.absent) return false;
  if (list.bytes == nullptr) return unreadable(check, NameSource::kCommand);
  SectionCursor cursor = section_cursor(list.bytes.get(), list.size);
  CommandRecord command;
  while (next_command(&cursor, &command)) {
    if ((command.flags & kCommandInInstallDir) == 0) continue;
    if (record(check, NameSource::kCommand, command.program)) return true;
  }
  return false;
}

}  // namespace

NameCheck check_package_names(const Package& package, SectionLoader loader,
                              const void* loader_context) {
  Walk walk{package, loader, loader_context};
  NameCheck check;
  if (check_file_entries(walk, &check) ||
      check_list(walk, ":Folders", NameSource::kFolder, &check) ||
      check_list(walk, ":FilesToRemove", NameSource::kRemoval, &check) ||
      check_commands(walk, &check)) {
    return check;
  }
  return NameCheck{};
}

// Names a package gives to places in the installation: file entries (after
// the name table), folders to create, files to remove and programs to run
// from the installation folder. Every one of them is joined to the
// installation folder, so none may lead out of it or at a device. Portable:
// the checks read only the bytes of the names.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "package.h"

enum class NameFault {
  kNone,
  kAbsolute,       // a drive, "\\server\share", "\\?\" or "\\.\"
  kParentFolder,   // a ".." part (or one Windows trims to "..")
  kStream,         // "name:stream" (any colon)
  kDevice,         // CON, NUL, COM1, LPT1... with or without an extension
  kUnreadable,     // a list section that could not be read to check it
};

// The check of one name relative to the installation folder. A single
// leading backslash is relative (it is joined after the folder's own
// backslash). Both "\" and "/" separate parts, as Windows' path functions
// take either.
template <typename Char>
NameFault check_relative_name(std::basic_string_view<Char> name);

enum class NameSource { kFileEntry, kFolder, kRemoval, kCommand };

struct NameCheck {
  NameFault fault = NameFault::kNone;
  NameSource source = NameSource::kFileEntry;
  std::string name;  // the offending name as the package spells it
  bool safe() const { return fault == NameFault::kNone; }
};

// How the walk reads a list section: a buffer of the entry's size that
// free_entry_buffer releases, or null. Null as a loader means load_entry;
// the updater passes a read that survives a package that vanishes.
using SectionLoader = uint8_t* (*)(const Package& package, int index, const void* context);

// The first name of the package that would leave the installation folder:
// file entries as the name table translates them, ":Folders",
// ":FilesToRemove", and the programs of ":CommandsToExecute" marked to run
// from the installation folder. A program given with its own path is the
// publisher's choice and is not checked.
NameCheck check_package_names(const Package& package, SectionLoader loader = nullptr,
                              const void* loader_context = nullptr);

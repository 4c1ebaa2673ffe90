// The package operations used by the phases of a run, over the mapped view.
#include "package.h"

#include <cstdlib>
#include <cstring>

namespace {

ByteSpan view_of(const Package* package) { return ByteSpan{package->view, package->file_size}; }

bool valid_index(const Package* package, int index) {
  return package->entries != nullptr && index >= 0 &&
         static_cast<uint32_t>(index) < package->header.entry_count;
}

void clear_package(Package* package) {
  memset(package, 0, sizeof *package);
}

}  // namespace

bool open_package_view(Package* package, const uint8_t* view, size_t size, bool from_image) {
  package->view = view;
  package->file_size = size;
  ByteSpan file = view_of(package);
  if (!locate_package(file, from_image, &package->package_offset)) return false;
  return read_directory(file, package->package_offset, &package->header, &package->entries);
}

bool open_package(Package* package, const char* path, bool from_image) {
  clear_package(package);
  if (!map_package_file(package, path)) return false;
  return open_package_view(package, package->view, package->file_size, from_image);
}

int find_entry(const Package* package, const char* name) {
  if (package->entries == nullptr) return -1;
  return find_entry_by_name(package->entries, package->header.entry_count, name);
}

bool load_entry_into(const Package* package, int index, uint8_t* destination) {
  if (!valid_index(package, index) || destination == nullptr) return false;
  return copy_entry_content(view_of(package), package->package_offset, package->entries[index],
                            destination);
}

uint8_t* load_entry(const Package* package, int index) {
  if (!valid_index(package, index)) return nullptr;
  const DirectoryEntry& entry = package->entries[index];
  if (!entry_size_plausible(entry)) return nullptr;
  // One byte at least, so that an empty section is an empty, non-null buffer.
  uint8_t* buffer = static_cast<uint8_t*>(malloc(entry.size != 0 ? entry.size : 1));
  if (buffer == nullptr) return nullptr;
  if (!load_entry_into(package, index, buffer)) {
    free(buffer);
    return nullptr;
  }
  return buffer;
}

void free_entry_buffer(uint8_t* buffer) { free(buffer); }

void close_package(Package* package) {
  free(package->entries);
  package->entries = nullptr;
  unmap_package_file(package);
}

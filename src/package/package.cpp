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

}  // namespace

PackageResult open_package_view(Package* package, const uint8_t* view, size_t size,
                                bool from_image) {
  package->view = view;
  package->file_size = size;
  ByteSpan file = view_of(package);
  PackageResult located = locate_package(file, from_image, &package->package_offset);
  if (!located) return located;
  return read_directory(file, package->package_offset, &package->header, &package->entries);
}

PackageResult open_package(Package* package, const char* path, bool from_image) {
  *package = Package{};
  PackageResult mapped = map_package_file(package, path);
  if (!mapped) return mapped;
  return open_package_view(package, package->view, package->file_size, from_image);
}

int find_entry(const Package* package, const char* name) {
  if (package->entries == nullptr) return -1;
  return find_entry_by_name(package->entries.get(), package->header.entry_count, name);
}

PackageResult load_entry_into(const Package* package, int index, uint8_t* destination) {
  if (!valid_index(package, index) || destination == nullptr) {
    return package_refused(PackageError::kNoSuchEntry);
  }
  if (!copy_entry_content(view_of(package), package->package_offset, package->entries[index],
                          destination)) {
    return entry_refused(PackageError::kEntryDamaged, static_cast<uint32_t>(index));
  }
  return package_ok();
}

PackageResult load_entry_bytes(const Package* package, int index, EntryBytes* bytes) {
  *bytes = EntryBytes{};
  if (!valid_index(package, index)) return package_refused(PackageError::kNoSuchEntry);
  const DirectoryEntry& entry = package->entries[index];
  if (!entry_size_plausible(entry)) {
    return entry_refused(PackageError::kEntryDamaged, static_cast<uint32_t>(index));
  }
  // One byte at least, so that an empty section is an empty, non-null buffer.
  EntryBytes loaded;
  loaded.data.reset(static_cast<uint8_t*>(malloc(entry.size != 0 ? entry.size : 1)));
  if (loaded.data == nullptr) return package_refused(PackageError::kOutOfMemory);
  loaded.size = entry.size;
  PackageResult result = load_entry_into(package, index, loaded.data.get());
  if (result) *bytes = std::move(loaded);
  return result;
}

uint8_t* load_entry(const Package* package, int index) {
  EntryBytes bytes;
  if (!load_entry_bytes(package, index, &bytes)) return nullptr;
  return bytes.data.release();
}

void free_entry_buffer(uint8_t* buffer) { free(buffer); }

ByteSpan stored_bytes_of(const Package* package, const DirectoryEntry& entry) {
  // read_directory checked that every entry's stored bytes lie in the view.
  return ByteSpan{package->view + package->package_offset + entry.offset,
                  static_cast<size_t>(entry_stored_length(entry))};
}

void close_package(Package* package) {
  package->entries.reset();
  unmap_package_file(package);
}

// Lays packages out exactly as the updater expects them.
#include "package_writer.h"

#include <libdeflate.h>

#include <cstring>

namespace {

// A zlib stream (header, deflate data with a 32 KiB window, Adler-32) made
// by libdeflate, whose levels 10 to 12 give smaller streams than zlib's 9.
bool deflate_bytes(const uint8_t* data, size_t size, int level, std::vector<uint8_t>* out,
                   std::string* error) {
  if (level < kMinCompressionLevel || level > kMaxCompressionLevel) {
    *error = "compression level " + std::to_string(level) + " is outside " +
             std::to_string(kMinCompressionLevel) + " to " + std::to_string(kMaxCompressionLevel);
    return false;
  }
  libdeflate_compressor* compressor = libdeflate_alloc_compressor(level);
  if (compressor == nullptr) {
    *error = "out of memory for the compressor";
    return false;
  }
  out->resize(libdeflate_zlib_compress_bound(compressor, size));
  size_t produced = libdeflate_zlib_compress(compressor, data, size, out->data(), out->size());
  libdeflate_free_compressor(compressor);
  if (produced == 0) {
    *error = "libdeflate could not compress the data";
    return false;
  }
  out->resize(produced);
  return true;
}

}  // namespace

bool prepare_entry(const std::string& name, const uint8_t* data, size_t size, bool compress,
                   int level, PreparedEntry* entry, std::string* error) {
  if (name.empty() || name.size() >= kEntryNameSize || name.find('\0') != std::string::npos) {
    *error = "entry name \"" + name + "\" must have 1 to 31 bytes";
    return false;
  }
  if (size > UINT32_MAX) {
    *error = "entry \"" + name + "\" is 4 GiB or more";
    return false;
  }
  entry->name = name;
  entry->size = static_cast<uint32_t>(size);
  if (!compress) {
    entry->flags = 0;
    entry->stored.assign(data, data + size);
    return true;
  }
  entry->flags = kEntryFlagsAsProduced;
  return deflate_bytes(data, size, level, &entry->stored, error);
}

PreparedEntry compressed_entry(const std::string& name, const std::string& content) {
  PreparedEntry entry;
  std::string error;
  prepare_entry(name, reinterpret_cast<const uint8_t*>(content.data()), content.size(), true,
                kDefaultCompressionLevel, &entry, &error);
  return entry;
}

PreparedEntry plain_entry(const std::string& name, const std::string& content) {
  PreparedEntry entry;
  std::string error;
  prepare_entry(name, reinterpret_cast<const uint8_t*>(content.data()), content.size(), false,
                kDefaultCompressionLevel, &entry, &error);
  return entry;
}

bool write_package(const std::vector<PreparedEntry>& entries, const PackageLayout& layout,
                   std::vector<uint8_t>* package, std::string* error) {
  if (entries.empty()) {
    *error = "a package needs at least one entry";
    return false;
  }
  std::vector<uint8_t> out(kHeaderSize, 0);
  std::vector<uint8_t> directory(entries.size() * kDirectoryEntrySize, 0);
  for (size_t i = 0; i < entries.size(); ++i) {
    const PreparedEntry& e = entries[i];
    if (e.name.size() >= kEntryNameSize) {
      *error = "entry name \"" + e.name + "\" is longer than 31 bytes";
      return false;
    }
    if (out.size() + e.stored.size() > UINT32_MAX) {
      *error = "the package would reach 4 GiB";
      return false;
    }
    uint8_t* record = directory.data() + i * kDirectoryEntrySize;
    memcpy(record, e.name.data(), e.name.size());
    write_le32(record + 32, static_cast<uint32_t>(out.size()));
    write_le32(record + 36, e.size);
    write_le16(record + 40, 0);
    write_le16(record + 42, static_cast<uint16_t>(e.flags | layout.extra_entry_flags));
    bool compressed = (e.flags & kEntryCompressed) != 0;
    write_le32(record + 44, compressed ? static_cast<uint32_t>(e.stored.size()) : 0);
    out.insert(out.end(), e.stored.begin(), e.stored.end());
  }

  uint32_t storage = layout.directory_storage & 3u;
  std::vector<uint8_t> stored_directory;
  if (storage == kStorageDeflated) {
    if (!deflate_bytes(directory.data(), directory.size(), kDefaultCompressionLevel,
                       &stored_directory, error)) {
      return false;
    }
  } else {
    stored_directory = directory;
  }
  if (out.size() + stored_directory.size() > UINT32_MAX) {
    *error = "the package would reach 4 GiB";
    return false;
  }

  uint8_t* header = out.data();
  memcpy(header, kPackageMagic, sizeof kPackageMagic);
  write_le32(header + 16, static_cast<uint32_t>(entries.size()));
  write_le32(header + 20, static_cast<uint32_t>(out.size()));
  write_le32(header + 24, storage | (layout.extra_header_flags & ~3u));
  write_le32(header + 28, storage == kStorageDeflated
                              ? static_cast<uint32_t>(stored_directory.size()) : 0);
  out.insert(out.end(), stored_directory.begin(), stored_directory.end());
  package->swap(out);
  return true;
}

bool make_image(const std::vector<uint8_t>& program, const std::vector<uint8_t>& package,
                std::vector<uint8_t>* image, std::string* error) {
  uint64_t total = static_cast<uint64_t>(program.size()) + package.size() + kTrailerSize;
  if (program.size() > UINT32_MAX || package.size() > UINT32_MAX || total > UINT32_MAX) {
    *error = "the image would reach 4 GiB";
    return false;
  }
  image->clear();
  image->reserve(total);
  image->insert(image->end(), program.begin(), program.end());
  image->insert(image->end(), package.begin(), package.end());
  uint8_t trailer[kTrailerSize];
  write_le32(trailer, static_cast<uint32_t>(program.size()));
  memcpy(trailer + 4, kTrailerTag, sizeof kTrailerTag);
  image->insert(image->end(), trailer, trailer + kTrailerSize);
  return true;
}

// Lays packages out exactly as the updater expects them.
#include "package_writer.h"

#include <libdeflate.h>

#include <cstring>

#include "sha256.h"

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

namespace {

DirectoryEntry directory_record(const PreparedEntry& e, uint32_t offset, uint16_t extra_flags) {
  DirectoryEntry record = {};
  memcpy(record.name, e.name.data(), e.name.size());
  record.offset = offset;
  record.size = e.size;
  record.flags = static_cast<uint16_t>(e.flags | extra_flags);
  record.stored_size = entry_is_compressed(record) ? static_cast<uint32_t>(e.stored.size()) : 0;
  return record;
}

// Entries laid out from offset 32: the stored bytes follow the header, and
// the directory's records are encoded as they go.
bool lay_out_entries(const std::vector<PreparedEntry>& entries, const PackageLayout& layout,
                     std::vector<uint8_t>* out, std::vector<uint8_t>* directory,
                     std::string* error) {
  out->assign(kHeaderSize, 0);
  directory->assign(entries.size() * kDirectoryEntrySize, 0);
  for (size_t i = 0; i < entries.size(); ++i) {
    const PreparedEntry& e = entries[i];
    if (e.name.size() >= kEntryNameSize) {
      *error = "entry name \"" + e.name + "\" is longer than 31 bytes";
      return false;
    }
    if (out->size() + e.stored.size() > UINT32_MAX) {
      *error = "the package would reach 4 GiB";
      return false;
    }
    DirectoryEntry record =
        directory_record(e, static_cast<uint32_t>(out->size()), layout.extra_entry_flags);
    encode_directory_entry(record, directory->data() + i * kDirectoryEntrySize);
    out->insert(out->end(), e.stored.begin(), e.stored.end());
  }
  return true;
}

bool sha256_into(const Sha256Function& sha256, const uint8_t* data, size_t size, uint8_t* out,
                 std::string* error) {
  uint32_t system_error = 0;
  if (sha256.digest(sha256.context, data, size, out, &system_error)) return true;
  *error = "SHA-256 failed (error " + std::to_string(system_error) + ")";
  return false;
}

// Fills the checksum section, entry 0, once every other byte is in place.
bool fill_checksums(std::vector<uint8_t>* package, const std::vector<PreparedEntry>& entries,
                    uint32_t directory_offset, std::string* error) {
  PlatformSha256 platform;
  Sha256Function sha256 = platform.function();
  uint8_t* section = package->data() + kHeaderSize;
  section[kChecksumsVersionAt] = kChecksumsVersion;
  write_le32(section + kChecksumsEntryCountAt, static_cast<uint32_t>(entries.size()));
  if (!sha256_into(sha256, package->data(), kHeaderSize, section + kChecksumsHeaderDigestAt,
                   error) ||
      !sha256_into(sha256, package->data() + directory_offset, package->size() - directory_offset,
                   section + kChecksumsDirectoryDigestAt, error)) {
    return false;
  }
  size_t offset = kHeaderSize + entries[0].stored.size();
  for (size_t i = 1; i < entries.size(); ++i) {
    uint8_t* record = section + kChecksumsEntryDigestsAt + i * kSha256Size;
    if (!sha256_into(sha256, package->data() + offset, entries[i].stored.size(), record, error)) {
      return false;
    }
    offset += entries[i].stored.size();
  }
  return true;
}

}  // namespace

bool write_package(const std::vector<PreparedEntry>& input, const PackageLayout& layout,
                   std::vector<uint8_t>* package, std::string* error) {
  if (input.empty()) {
    *error = "a package needs at least one entry";
    return false;
  }
  std::vector<PreparedEntry> with_section;
  if (layout.checksums) {
    // Zero bytes for now: the digests are known only once the directory is.
    PreparedEntry section;
    section.name = kChecksumsName;
    section.size = static_cast<uint32_t>(checksums_section_size(input.size() + 1));
    section.stored.assign(section.size, 0);
    with_section.push_back(std::move(section));
    with_section.insert(with_section.end(), input.begin(), input.end());
  }
  const std::vector<PreparedEntry>& entries = layout.checksums ? with_section : input;

  std::vector<uint8_t> out, directory;
  if (!lay_out_entries(entries, layout, &out, &directory, error)) return false;
  uint32_t storage = layout.directory_storage & kStorageMask;
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

  PackageHeader header = {};
  memcpy(header.magic, kPackageMagic, sizeof kPackageMagic);
  header.entry_count = static_cast<uint32_t>(entries.size());
  header.directory_offset = static_cast<uint32_t>(out.size());
  header.flags = storage | (layout.extra_header_flags & ~kStorageMask);
  header.directory_stored_size =
      storage == kStorageDeflated ? static_cast<uint32_t>(stored_directory.size()) : 0;
  encode_header(header, out.data());
  out.insert(out.end(), stored_directory.begin(), stored_directory.end());
  if (layout.checksums && !fill_checksums(&out, entries, header.directory_offset, error)) {
    return false;
  }
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
  encode_trailer(static_cast<uint32_t>(program.size()), trailer);
  image->insert(image->end(), trailer, trailer + kTrailerSize);
  return true;
}

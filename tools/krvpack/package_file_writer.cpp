#include "package_file_writer.h"

#include <cstring>

#include "package_format.h"
#include "package_writer.h"

namespace {

std::string temporary_beside(const std::string& utf8_output) {
  size_t slash = utf8_output.find_last_of("/\\");
  std::string folder = slash == std::string::npos ? "" : utf8_output.substr(0, slash + 1);
  std::string name = slash == std::string::npos ? utf8_output : utf8_output.substr(slash + 1);
  return folder + "." + name + ".krvpack-" + std::to_string(process_id()) + "-pkg";
}

// Version, count, the digests of the header and of the stored directory,
// then one per entry in directory order; the section's own record is zero.
bool fill_checksums(const std::vector<PackageFileWriter::Record>& records,
                    const uint8_t (&header)[kHeaderSize], const std::vector<uint8_t>& directory,
                    std::vector<uint8_t>* section, std::string* error) {
  uint8_t* out = section->data();
  out[kChecksumsVersionAt] = kChecksumsVersion;
  write_le32(out + kChecksumsEntryCountAt, static_cast<uint32_t>(records.size() + 1));
  PlatformSha256 platform;
  Sha256Function sha256 = platform.function();
  uint32_t system_error = 0;
  if (!sha256.digest(sha256.context, header, kHeaderSize, out + kChecksumsHeaderDigestAt,
                     &system_error) ||
      !sha256.digest(sha256.context, directory.data(), directory.size(),
                     out + kChecksumsDirectoryDigestAt, &system_error)) {
    *error = "SHA-256 failed (error " + std::to_string(system_error) + ")";
    return false;
  }
  for (size_t i = 0; i < records.size(); ++i) {
    memcpy(out + kChecksumsEntryDigestsAt + i * kSha256Size, records[i].digest, kSha256Size);
  }
  return true;
}

}  // namespace

PackageFileWriter::~PackageFileWriter() {
  if (file_.open) {
    abandon_new_file(&file_);
    remove_file(temporary_);
    set_interrupt_cleanup("");
  }
}

bool PackageFileWriter::open(const std::string& utf8_output, std::string* error) {
  output_ = utf8_output;
  temporary_ = temporary_beside(utf8_output);
  std::string why;
  set_interrupt_cleanup(temporary_);
  if (!create_new_file(temporary_, &file_, &why)) {
    set_interrupt_cleanup("");
    *error = "cannot create a temporary file beside \"" + utf8_output + "\": " + why;
    return false;
  }
  uint8_t header[kHeaderSize] = {};
  position_ = 0;
  return write_at(0, header, sizeof header, error) && (position_ = kHeaderSize, true);
}

bool PackageFileWriter::write_at(uint64_t offset, const uint8_t* bytes, size_t count,
                                 std::string* error) {
  std::string why;
  if (write_new_file_at(&file_, offset, bytes, count, &why)) return true;
  *error = "cannot write \"" + temporary_ + "\": " + why;
  return false;
}

bool PackageFileWriter::begin_entry(const std::string& name, std::string* error) {
  if (name.empty() || name.size() >= kEntryNameSize) {
    *error = "entry name \"" + name + "\" must have 1 to 31 bytes";
    return false;
  }
  entry_name_ = name;
  entry_start_ = position_;
  entry_hash_.begin();
  return true;
}

bool PackageFileWriter::append(const uint8_t* bytes, size_t count, std::string* error) {
  if (position_ + count > UINT32_MAX) {
    *error = "the package would reach 4 GiB";
    return false;
  }
  if (!write_at(position_, bytes, count, error)) return false;
  entry_hash_.update(bytes, count);
  position_ += count;
  return true;
}

void PackageFileWriter::rewind_entry() {
  position_ = entry_start_;
  entry_hash_.begin();
}

bool PackageFileWriter::end_entry(uint32_t size, bool compressed, std::string* error) {
  uint64_t stored = position_ - entry_start_;
  if (!compressed && stored != size) {
    *error = "entry \"" + entry_name_ + "\" was not written whole";
    return false;
  }
  Record record{entry_name_, static_cast<uint32_t>(entry_start_), size,
                static_cast<uint32_t>(stored), compressed, {}};
  if (!entry_hash_.finish(record.digest)) {
    *error = "cannot take the SHA-256 of entry \"" + entry_name_ + "\"";
    return false;
  }
  records_.push_back(std::move(record));
  return true;
}

bool PackageFileWriter::add_entry(const std::string& name, uint32_t size, bool compressed,
                                  const uint8_t* stored, size_t stored_size, std::string* error) {
  return begin_entry(name, error) && append(stored, stored_size, error) &&
         end_entry(size, compressed, error);
}

bool PackageFileWriter::finish(uint64_t* package_size, std::string* error) {
  if (records_.empty()) {
    *error = "a package needs at least one entry";
    return false;
  }
  // The checksum section closes the entries: its size follows from the
  // entry count, and every other digest is known by now.
  const size_t entry_count = records_.size() + 1;
  const uint64_t section_size = checksums_section_size(entry_count);
  const uint64_t section_offset = position_;
  std::vector<uint8_t> directory(entry_count * kDirectoryEntrySize, 0);
  for (size_t i = 0; i < entry_count; ++i) {
    DirectoryEntry record = {};
    if (i < records_.size()) {
      const Record& r = records_[i];
      memcpy(record.name, r.name.data(), r.name.size());
      record.offset = r.offset;
      record.size = r.size;
      record.flags = r.compressed ? kEntryFlagsAsProduced : 0;
      record.stored_size = r.compressed ? r.stored_size : 0;
    } else {
      memcpy(record.name, kChecksumsName, sizeof kChecksumsName - 1);
      record.offset = static_cast<uint32_t>(section_offset);
      record.size = static_cast<uint32_t>(section_size);
    }
    encode_directory_entry(record, directory.data() + i * kDirectoryEntrySize);
  }
  // The directory is deflated as the package writer does it.
  PreparedEntry stored_directory;
  if (!prepare_entry("directory", directory.data(), directory.size(), true,
                     kDefaultCompressionLevel, &stored_directory, error)) {
    return false;
  }
  const uint64_t directory_offset = section_offset + section_size;
  if (directory_offset + stored_directory.stored.size() > UINT32_MAX) {
    *error = "the package would reach 4 GiB";
    return false;
  }
  PackageHeader fields = {};
  memcpy(fields.magic, kPackageMagic, sizeof kPackageMagic);
  fields.entry_count = static_cast<uint32_t>(entry_count);
  fields.directory_offset = static_cast<uint32_t>(directory_offset);
  fields.flags = kStorageDeflated;
  fields.directory_stored_size = static_cast<uint32_t>(stored_directory.stored.size());
  uint8_t header[kHeaderSize] = {};
  encode_header(fields, header);

  std::vector<uint8_t> section(section_size, 0);
  if (!fill_checksums(records_, header, stored_directory.stored, &section, error) ||
      !append(section.data(), section.size(), error) ||
      !append(stored_directory.stored.data(), stored_directory.stored.size(), error)) {
    return false;
  }
  // A rewound entry may have left bytes past the end.
  std::string why;
  bool ok = write_at(0, header, sizeof header, error);
  if (ok && (!set_new_file_size(&file_, position_, &why) || !finish_new_file(&file_, &why))) {
    *error = "cannot write \"" + temporary_ + "\": " + why;
    ok = false;
  }
  if (ok && !replace_file(temporary_, output_, &why)) {
    *error = "cannot write \"" + output_ + "\": " + why;
    ok = false;
  }
  if (!ok) {
    abandon_new_file(&file_);
    remove_file(temporary_);
  }
  set_interrupt_cleanup("");
  *package_size = position_;
  return ok;
}

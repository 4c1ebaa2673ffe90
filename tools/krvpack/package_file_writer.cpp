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
  return true;
}

bool PackageFileWriter::append(const uint8_t* bytes, size_t count, std::string* error) {
  if (position_ + count > UINT32_MAX) {
    *error = "the package would reach 4 GiB";
    return false;
  }
  if (!write_at(position_, bytes, count, error)) return false;
  position_ += count;
  return true;
}

void PackageFileWriter::rewind_entry() { position_ = entry_start_; }

bool PackageFileWriter::end_entry(uint32_t size, bool compressed, std::string* error) {
  uint64_t stored = position_ - entry_start_;
  if (!compressed && stored != size) {
    *error = "entry \"" + entry_name_ + "\" was not written whole";
    return false;
  }
  records_.push_back(Record{entry_name_, static_cast<uint32_t>(entry_start_), size,
                            static_cast<uint32_t>(stored), compressed});
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
  std::vector<uint8_t> directory(records_.size() * kDirectoryEntrySize, 0);
  for (size_t i = 0; i < records_.size(); ++i) {
    const Record& r = records_[i];
    uint8_t* record = directory.data() + i * kDirectoryEntrySize;
    memcpy(record, r.name.data(), r.name.size());
    write_le32(record + 32, r.offset);
    write_le32(record + 36, r.size);
    write_le16(record + 42, r.compressed ? kEntryFlagsAsProduced : 0);
    write_le32(record + 44, r.compressed ? r.stored_size : 0);
  }
  // The directory is deflated as the package writer does it.
  PreparedEntry stored_directory;
  if (!prepare_entry("directory", directory.data(), directory.size(), true,
                     kDefaultCompressionLevel, &stored_directory, error)) {
    return false;
  }
  uint64_t directory_offset = position_;
  if (!append(stored_directory.stored.data(), stored_directory.stored.size(), error)) return false;
  uint8_t header[kHeaderSize] = {};
  memcpy(header, kPackageMagic, sizeof kPackageMagic);
  write_le32(header + 16, static_cast<uint32_t>(records_.size()));
  write_le32(header + 20, static_cast<uint32_t>(directory_offset));
  write_le32(header + 24, kStorageDeflated);
  write_le32(header + 28, static_cast<uint32_t>(stored_directory.stored.size()));
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

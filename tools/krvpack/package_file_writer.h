// Writes a package to disk entry by entry, so that only the entries still
// being compressed are in memory: the header is completed last, the
// directory follows the entries. The output appears under its name only
// when complete (a temporary file beside it, then a rename). The checksum
// section is the last entry: the digests are taken as the bytes go out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform.h"
#include "sha256.h"

class PackageFileWriter {
 public:
  PackageFileWriter() = default;
  PackageFileWriter(const PackageFileWriter&) = delete;
  PackageFileWriter& operator=(const PackageFileWriter&) = delete;
  ~PackageFileWriter();  // abandons an unfinished package

  bool open(const std::string& utf8_output, std::string* error);
  // Appends one entry's stored bytes; `compressed` when they are a zlib stream.
  bool add_entry(const std::string& name, uint32_t size, bool compressed, const uint8_t* stored,
                 size_t stored_size, std::string* error);

  // An entry written in pieces: begin, append, then end (or rewind to
  // write it again, plain).
  bool begin_entry(const std::string& name, std::string* error);
  bool append(const uint8_t* bytes, size_t count, std::string* error);
  void rewind_entry();
  bool end_entry(uint32_t size, bool compressed, std::string* error);
  uint64_t entry_bytes() const { return position_ - entry_start_; }

  // Directory, header, flush, rename. *package_size gets the final size.
  bool finish(uint64_t* package_size, std::string* error);

 public:
  struct Record {
    std::string name;
    uint32_t offset, size, stored_size;
    bool compressed;
    uint8_t digest[kSha256Size];  // of the stored bytes
  };

 private:
  bool write_at(uint64_t offset, const uint8_t* bytes, size_t count, std::string* error);
  std::string output_, temporary_;
  NewFile file_ = {};
  uint64_t position_ = 0, entry_start_ = 0;
  std::string entry_name_;
  std::vector<Record> records_;
  Sha256Stream entry_hash_;  // of the entry being written
};

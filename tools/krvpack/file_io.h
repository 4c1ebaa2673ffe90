// Reading a publisher's file in pieces, with wide paths on Windows and the
// system's reason in every failure ("cannot read "PATH": REASON").
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class InputFile {
 public:
  InputFile() = default;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile() { close(); }

  bool open(const std::string& utf8_path, std::string* error);
  bool size(uint64_t* size, std::string* error);
  // Reads up to `capacity` bytes; *got is 0 at the end of the file.
  bool read_some(uint8_t* buffer, size_t capacity, size_t* got, std::string* error);
  // Exactly `size` bytes, or a failure ("the file changed while read" when shorter).
  bool read_exact(uint8_t* buffer, size_t size, std::string* error);
  void close();

 private:
  bool fail(const std::string& reason, std::string* error) const;
  intptr_t handle_ = -1;
  std::string path_;
};

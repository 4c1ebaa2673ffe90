// The few calls of the publishers' tool that differ between POSIX and
// Windows. Paths cross this boundary as UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The program's arguments as UTF-8 (on Windows taken from the wide command
// line, since the ANSI one cannot hold every name).
std::vector<std::string> program_arguments(int argc, char** argv);

bool stderr_is_terminal();

// The text of a platform error code: errno here, GetLastError on Windows.
std::string system_error_text(uint32_t code);

// Writes UTF-8 text to stdout or stderr: on a Windows console as UTF-16
// (WriteConsoleW), everywhere else as the bytes given.
void write_output_text(bool to_stderr, const std::string& utf8);

// A whole file mapped read-only; unmapped by its destructor. Move-only.
class MappedFile {
 public:
  MappedFile() = default;
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  MappedFile(MappedFile&& other) noexcept { take(other); }
  MappedFile& operator=(MappedFile&& other) noexcept;
  ~MappedFile() { release(); }
  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }
  // Fills the view; the platform half owns the handles.
  void adopt(const uint8_t* data, size_t size, intptr_t file, intptr_t mapping);

 private:
  void take(MappedFile& other);
  void release();
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  intptr_t file_ = -1;
  intptr_t mapping_ = -1;
};

// Maps a regular, non-empty file below 4 GiB; false with the system's
// reason (or "the file is empty", "not a file") in *error.
bool map_file_for_reading(const std::string& utf8_path, MappedFile* file, std::string* error);

// Creates a new file at `path` that did not exist before; false (and errno
// text in *error) otherwise.
struct NewFile {
  intptr_t handle;
  bool open;
};
bool create_new_file(const std::string& utf8_path, NewFile* file, std::string* error);
bool write_new_file(NewFile* file, const uint8_t* data, size_t size, std::string* error);
// Overwrites bytes already written, at `offset` from the start (a header
// completed last); later plain writes continue after them.
bool write_new_file_at(NewFile* file, uint64_t offset, const uint8_t* data, size_t size,
                       std::string* error);
bool set_new_file_size(NewFile* file, uint64_t size, std::string* error);
// Flushes to disk and closes; false when either fails.
bool finish_new_file(NewFile* file, std::string* error);
void abandon_new_file(NewFile* file);

// Renames, replacing whatever `to` names.
bool replace_file(const std::string& utf8_from, const std::string& utf8_to, std::string* error);
bool remove_file(const std::string& utf8_path);

// A temporary file that an interrupt (Ctrl-C) removes before the process
// ends; empty to forget it.
void set_interrupt_cleanup(const std::string& utf8_path);

unsigned process_id();

// The running program's own path (UTF-8), or empty.
std::string executable_path();

// Runs a command line through the system's shell (/bin/sh, or cmd.exe) and
// waits for it. Its exit status, or -1 with *error when it could not run.
int run_shell_command(const std::string& utf8_command, std::string* error);

// `path` quoted for that shell as one argument.
std::string shell_quoted(const std::string& utf8_path);

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

// The form of a UTF-8 path that the package reader's open call takes.
std::string path_for_package_reader(const std::string& utf8_path);

// Creates a new file at `path` that did not exist before; false (and errno
// text in *error) otherwise.
struct NewFile {
  intptr_t handle;
  bool open;
};
bool create_new_file(const std::string& utf8_path, NewFile* file, std::string* error);
bool write_new_file(NewFile* file, const uint8_t* data, size_t size, std::string* error);
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

// Runs a command line through the system's shell (/bin/sh, or cmd.exe) and
// waits for it. Its exit status, or -1 with *error when it could not run.
int run_shell_command(const std::string& utf8_command, std::string* error);

// `path` quoted for that shell as one argument.
std::string shell_quoted(const std::string& utf8_path);

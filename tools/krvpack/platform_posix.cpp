// POSIX side of the tool's platform calls.
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "file_io.h"
#include "platform.h"

namespace {

// Written before the handler can see it; read only by the handler.
char g_cleanup_path[4096];
volatile sig_atomic_t g_cleanup_set = 0;

void on_interrupt(int signal_number) {
  if (g_cleanup_set) unlink(g_cleanup_path);
  _exit(128 + signal_number);
}

std::string errno_text() { return strerror(errno); }

}  // namespace

std::string system_error_text(uint32_t code) { return strerror(static_cast<int>(code)); }

std::vector<std::string> program_arguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

bool stderr_is_terminal() { return isatty(STDERR_FILENO) == 1; }

void write_output_text(bool to_stderr, const std::string& utf8) {
  fwrite(utf8.data(), 1, utf8.size(), to_stderr ? stderr : stdout);
}

void MappedFile::release() {
  if (data_ != nullptr) munmap(const_cast<uint8_t*>(data_), size_);
  if (file_ >= 0) close(static_cast<int>(file_));
  data_ = nullptr;
  size_ = 0;
  file_ = -1;
}

bool map_file_for_reading(const std::string& utf8_path, MappedFile* file, std::string* error) {
  int fd = open(utf8_path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = errno == ENOENT ? "no such file" : errno_text();
    return false;
  }
  struct stat info;
  const char* refusal = nullptr;
  if (fstat(fd, &info) != 0) refusal = strerror(errno);
  else if (!S_ISREG(info.st_mode)) refusal = "not a file";
  else if (info.st_size == 0) refusal = "the file is empty";
  else if (static_cast<uint64_t>(info.st_size) > UINT32_MAX) refusal = "the file is 4 GiB or more";
  void* view = MAP_FAILED;
  if (refusal == nullptr) {
    view = mmap(nullptr, static_cast<size_t>(info.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
    if (view == MAP_FAILED) refusal = strerror(errno);
  }
  if (refusal != nullptr) {
    *error = refusal;
    close(fd);
    return false;
  }
  file->adopt(static_cast<const uint8_t*>(view), static_cast<size_t>(info.st_size), fd, -1);
  return true;
}

bool create_new_file(const std::string& utf8_path, NewFile* file, std::string* error) {
  file->open = false;
  int fd = open(utf8_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    *error = errno_text();
    return false;
  }
  file->handle = fd;
  file->open = true;
  return true;
}

bool write_new_file(NewFile* file, const uint8_t* data, size_t size, std::string* error) {
  int fd = static_cast<int>(file->handle);
  while (size > 0) {
    ssize_t written = write(fd, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      *error = written < 0 ? errno_text() : "nothing written";
      return false;
    }
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

bool write_new_file_at(NewFile* file, uint64_t offset, const uint8_t* data, size_t size,
                       std::string* error) {
  int fd = static_cast<int>(file->handle);
  while (size > 0) {
    ssize_t written = pwrite(fd, data, size, static_cast<off_t>(offset));
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      *error = written < 0 ? errno_text() : "nothing written";
      return false;
    }
    data += written;
    size -= static_cast<size_t>(written);
    offset += static_cast<uint64_t>(written);
  }
  return true;
}

bool set_new_file_size(NewFile* file, uint64_t size, std::string* error) {
  if (ftruncate(static_cast<int>(file->handle), static_cast<off_t>(size)) == 0) return true;
  *error = errno_text();
  return false;
}

bool finish_new_file(NewFile* file, std::string* error) {
  int fd = static_cast<int>(file->handle);
  file->open = false;
  bool synced = fsync(fd) == 0;
  if (!synced) *error = errno_text();
  bool closed = close(fd) == 0;
  if (synced && !closed) *error = errno_text();
  return synced && closed;
}

void abandon_new_file(NewFile* file) {
  if (file->open) close(static_cast<int>(file->handle));
  file->open = false;
}

bool replace_file(const std::string& utf8_from, const std::string& utf8_to, std::string* error) {
  if (rename(utf8_from.c_str(), utf8_to.c_str()) == 0) return true;
  *error = errno_text();
  return false;
}

bool remove_file(const std::string& utf8_path) { return unlink(utf8_path.c_str()) == 0; }

void set_interrupt_cleanup(const std::string& utf8_path) {
  g_cleanup_set = 0;
  if (utf8_path.empty() || utf8_path.size() >= sizeof g_cleanup_path) return;
  memcpy(g_cleanup_path, utf8_path.c_str(), utf8_path.size() + 1);
  g_cleanup_set = 1;
  static bool installed = false;
  if (!installed) {
    signal(SIGINT, on_interrupt);
    signal(SIGTERM, on_interrupt);
    signal(SIGHUP, on_interrupt);
    installed = true;
  }
}

unsigned process_id() { return static_cast<unsigned>(getpid()); }

std::string executable_path() {
  char path[4096];
  ssize_t length = readlink("/proc/self/exe", path, sizeof path);
  if (length <= 0 || static_cast<size_t>(length) >= sizeof path) return std::string();
  return std::string(path, static_cast<size_t>(length));
}

bool InputFile::fail(const std::string& reason, std::string* error) const {
  *error = "cannot read \"" + path_ + "\": " + reason;
  return false;
}

bool InputFile::open(const std::string& utf8_path, std::string* error) {
  close();
  path_ = utf8_path;
  int fd = ::open(utf8_path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return fail(errno_text(), error);
  handle_ = fd;
  return true;
}

bool InputFile::size(uint64_t* size, std::string* error) {
  struct stat info;
  if (fstat(static_cast<int>(handle_), &info) != 0) return fail(errno_text(), error);
  *size = static_cast<uint64_t>(info.st_size);
  return true;
}

bool InputFile::read_some(uint8_t* buffer, size_t capacity, size_t* got, std::string* error) {
  for (;;) {
    ssize_t n = read(static_cast<int>(handle_), buffer, capacity);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return fail(errno_text(), error);
    *got = static_cast<size_t>(n);
    return true;
  }
}

void InputFile::close() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
  handle_ = -1;
}

int run_shell_command(const std::string& utf8_command, std::string* error) {
  fflush(stdout);
  int status = system(utf8_command.c_str());
  if (status == -1) {
    *error = errno_text();
    return -1;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  *error = "ended by signal " + std::to_string(WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  return -1;
}

std::string shell_quoted(const std::string& utf8_path) {
  std::string out = "'";
  for (char c : utf8_path) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

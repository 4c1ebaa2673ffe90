// POSIX side of the tool's platform calls.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

std::string path_for_package_reader(const std::string& utf8_path) { return utf8_path; }

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

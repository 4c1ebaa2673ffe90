#include "tool_support.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

std::string shell_quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

}  // namespace

void write_file(const fs::path& path, const std::string& content) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out << content;
}

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

RunResult run_krvpack(const std::vector<std::string>& arguments) {
  return run_program(KRVPACK_BINARY, arguments);
}

RunResult run_program(const std::string& program, const std::vector<std::string>& arguments) {
  char out_template[] = "/tmp/krvpack-test-out-XXXXXX";
  char err_template[] = "/tmp/krvpack-test-err-XXXXXX";
  int out_fd = mkstemp(out_template);
  int err_fd = mkstemp(err_template);
  close(out_fd);
  close(err_fd);
  std::string command = shell_quoted(program);
  for (const std::string& a : arguments) command += " " + shell_quoted(a);
  command += " >" + shell_quoted(out_template) + " 2>" + shell_quoted(err_template) + " </dev/null";
  int status = std::system(command.c_str());
  RunResult result;
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = read_file(out_template);
  result.err = read_file(err_template);
  unlink(out_template);
  unlink(err_template);
  return result;
}

std::map<std::string, std::string> snapshot(const fs::path& root) {
  std::map<std::string, std::string> out;
  for (const fs::directory_entry& e : fs::recursive_directory_iterator(root)) {
    std::string relative = e.path().lexically_relative(root).generic_u8string();
    out[relative] = e.is_directory() ? "<dir>" : read_file(e.path());
  }
  return out;
}

std::vector<std::string> temp_leftovers(const fs::path& dir) {
  std::vector<std::string> out;
  if (!fs::is_directory(dir)) return out;
  for (const fs::directory_entry& e : fs::directory_iterator(dir)) {
    std::string name = e.path().filename().u8string();
    if (name.find("krvpack-") != std::string::npos) out.push_back(name);
  }
  return out;
}

void ScratchTest::SetUp() {
  char name[] = "/tmp/krvpack-tool-XXXXXX";
  ASSERT_NE(mkdtemp(name), nullptr);
  dir_ = name;
}

void ScratchTest::TearDown() {
  std::error_code ec;
  fs::remove_all(dir_, ec);
}

std::string minimal_pe(bool dll, const std::string& tail) {
  std::string pe(0x40, '\0');
  pe[0] = 'M';
  pe[1] = 'Z';
  pe[0x3C] = 0x40;
  std::string file_header(20, '\0');
  file_header[0] = static_cast<char>(0x64);  // x86-64
  file_header[1] = static_cast<char>(0x86);
  file_header[16] = static_cast<char>(0xF0);  // optional header size
  uint16_t characteristics = 0x0022 | (dll ? 0x2000 : 0);
  file_header[18] = static_cast<char>(characteristics & 0xFF);
  file_header[19] = static_cast<char>(characteristics >> 8);
  std::string optional(0xF0, '\0');
  optional[0] = 0x0B;
  optional[1] = 0x02;
  return pe + std::string("PE\0\0", 4) + file_header + optional + tail;
}

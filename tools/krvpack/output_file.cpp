#include "output_file.h"

#include <filesystem>

#include "platform.h"

namespace fs = std::filesystem;

namespace {

// Beside the target, hidden, and unique to this process and call.
std::string temporary_name(const std::string& utf8_path) {
  static unsigned counter = 0;
  fs::path target = fs::u8path(utf8_path);
  std::string name = "." + target.filename().u8string() + ".krvpack-" +
                     std::to_string(process_id()) + "-" + std::to_string(++counter);
  return (target.parent_path() / fs::u8path(name)).u8string();
}

}  // namespace

bool write_output_file(const std::string& utf8_path, const uint8_t* data, size_t size,
                       std::string* error) {
  return write_output_file(utf8_path, data, size, BeforeRename(), error);
}

bool write_output_file(const std::string& utf8_path, const uint8_t* data, size_t size,
                       const BeforeRename& before_rename, std::string* error) {
  std::string temporary = temporary_name(utf8_path);
  std::string why;
  NewFile file = {};
  set_interrupt_cleanup(temporary);
  if (!create_new_file(temporary, &file, &why)) {
    set_interrupt_cleanup("");
    *error = "cannot create a temporary file beside \"" + utf8_path + "\": " + why;
    return false;
  }
  bool ok = write_new_file(&file, data, size, &why);
  if (ok) {
    ok = finish_new_file(&file, &why);
  } else {
    abandon_new_file(&file);
  }
  bool stepped = true;
  if (ok && before_rename) ok = stepped = before_rename(temporary, &why);
  if (ok) ok = replace_file(temporary, utf8_path, &why);
  if (!ok) {
    remove_file(temporary);
    *error = stepped ? "cannot write \"" + utf8_path + "\": " + why : why;
  }
  set_interrupt_cleanup("");
  return ok;
}

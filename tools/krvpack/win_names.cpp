#include "win_names.h"

#include <cstring>
#include <map>

#include "paths.h"

namespace {

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

std::string reserved_device_name(std::string_view part) {
  // Windows ignores an extension and blanks before it: "nul .txt" is NUL.
  std::string_view base = part.substr(0, part.find('.'));
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  std::string name;
  for (char c : base) name.push_back(upper(c));
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL"};
  for (const char* device : kDevices) {
    if (name == device) return name;
  }
  bool numbered = name.size() == 4 && (name.compare(0, 3, "COM") == 0 || name.compare(0, 3, "LPT") == 0) &&
                  name[3] >= '1' && name[3] <= '9';
  return numbered ? name : std::string();
}

std::string windows_name_problem(std::string_view part) {
  if (part.empty()) return "has an empty part (a doubled, leading or trailing separator)";
  if (part == "." || part == "..") return "has a \"" + std::string(part) + "\" part";
  for (char c : part) {
    unsigned char b = static_cast<unsigned char>(c);
    if (b < 0x20) return "holds a control character";
    if (c == '\\') return "holds a backslash, which Windows reads as a folder separator";
    if (strchr("<>:\"|?*", c) != nullptr) {
      return "holds the character '" + std::string(1, c) + "', which Windows does not allow in names";
    }
  }
  if (part.back() == '.' || part.back() == ' ') {
    return std::string("ends with a ") + (part.back() == '.' ? "dot" : "blank") +
           ", which Windows drops from names";
  }
  std::string device = reserved_device_name(part);
  if (!device.empty()) return "is the device name " + device + " on Windows, not a file";
  return std::string();
}

std::vector<std::vector<std::string>> colliding_paths(const std::vector<std::string>& cp1251_paths) {
  std::map<std::string, std::vector<std::string>> by_folded;
  std::vector<std::string> order;
  for (const std::string& path : cp1251_paths) {
    std::vector<std::string>& group = by_folded[fold_case(path)];
    if (group.size() == 1) order.push_back(fold_case(path));
    group.push_back(path);
  }
  std::vector<std::vector<std::string>> out;
  for (const std::string& folded : order) out.push_back(by_folded[folded]);
  return out;
}

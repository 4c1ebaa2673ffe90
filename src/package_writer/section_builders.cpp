#include "section_builders.h"

#include <cstdio>

std::string build_registry_keys(const std::string& key_path, const std::string& folder_value,
                                const std::string& program_value, const std::string& level_value,
                                int32_t package_level) {
  std::string out;
  for (const std::string* s : {&key_path, &folder_value, &program_value, &level_value}) {
    out += *s;
    out.push_back('\0');
  }
  uint32_t level = static_cast<uint32_t>(package_level);
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<char>(level >> shift));
  out.push_back('\0');
  return out;
}

std::string build_startup_message(const std::string& caption, const std::string& text) {
  std::string out = caption;
  out.push_back('\0');
  out += text;
  out.push_back('\0');
  out.push_back('\0');
  return out;
}

std::string build_string_list(const std::vector<std::string>& items) {
  std::string out;
  for (const std::string& item : items) {
    out += item;
    out.push_back('\0');
  }
  out.push_back('\0');
  return out;
}

std::string build_name_table(const std::vector<std::pair<std::string, std::string>>& pairs) {
  std::string out;
  for (const auto& pair : pairs) {
    out += pair.first;
    out.push_back('\0');
    out += pair.second;
    out.push_back('\0');
  }
  out.push_back('\0');
  out.push_back('\0');
  return out;
}

std::string build_commands(const std::vector<CommandSpec>& commands) {
  std::string out;
  for (const CommandSpec& c : commands) {
    uint8_t flags = static_cast<uint8_t>((c.wait_for_exit ? 0x01 : 0) |
                                         (c.in_install_dir ? 0x02 : 0) |
                                         (c.extra_flag_bits & 0xFC));
    out.push_back(static_cast<char>(flags));
    out += c.program;
    out.push_back('\0');
    out += c.arguments;
    out.push_back('\0');
  }
  out.push_back('\0');
  out.push_back('\0');
  return out;
}

bool needs_substitute_name(const std::string& relative_path) {
  return relative_path.size() >= 31 || relative_path.find(' ') != std::string::npos;
}

std::string substitute_name(uint64_t serial) {
  char name[32];
  snprintf(name, sizeof name, "TMP%016llu", static_cast<unsigned long long>(serial));
  return name;
}

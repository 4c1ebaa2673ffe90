#include "paths.h"

#include <cstring>

#include "cp1251.h"
#include "text_convert.h"
#include "win_names.h"

namespace {

bool is_separator(char c) { return c == '\\' || c == '/'; }

}  // namespace

std::vector<std::string_view> path_parts(std::string_view path) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || is_separator(path[i])) {
      parts.push_back(path.substr(start, i - start));
      start = i + 1;
    }
  }
  return parts;
}

bool package_path_from_utf8(std::string_view utf8, std::string* package_path, std::string* error) {
  if (utf8.empty()) {
    *error = "is empty";
    return false;
  }
  std::string problems;
  auto add = [&problems](const std::string& problem) {
    problems += (problems.empty() ? "" : "; ") + problem;
  };
  std::vector<std::string_view> parts = path_parts(utf8);
  for (std::string_view part : parts) {
    std::string problem = windows_name_problem(part);
    if (problem.empty()) continue;
    bool named = parts.size() > 1 && !part.empty() && part != "." && part != "..";
    add(named ? "part \"" + std::string(part) + "\" " + problem : problem);
  }
  std::string converted, why;
  if (!text_to_cp1251(utf8, &converted, &why)) add(why);
  if (!problems.empty()) {
    *error = problems;
    return false;
  }
  for (char& c : converted) {
    if (c == '/') c = '\\';
  }
  package_path->swap(converted);
  return true;
}

bool path_stays_inside(std::string_view package_path, std::string* why) {
  if (package_path.empty()) {
    *why = "the path is empty";
    return false;
  }
  if (is_separator(package_path[0])) {
    *why = "the path begins with a separator";
    return false;
  }
  if (package_path.find(':') != std::string_view::npos) {
    *why = "the path names a drive or stream (it holds ':')";
    return false;
  }
  for (std::string_view part : path_parts(package_path)) {
    if (part == "..") {
      *why = "the path has a \"..\" part";
      return false;
    }
  }
  return true;
}

std::string fold_case(std::string_view cp1251) {
  std::string out(cp1251);
  for (char& c : out) {
    unsigned char b = static_cast<unsigned char>(c);
    if ((b >= 'A' && b <= 'Z') || (b >= 0xC0 && b <= 0xDF)) {
      c = static_cast<char>(b + 0x20);
    } else if (b == 0xA8) {  // Ё
      c = static_cast<char>(0xB8);
    }
  }
  return out;
}

bool looks_like_substitute_name(std::string_view name) {
  if (name.size() != 19) return false;
  std::string prefix = fold_case(name.substr(0, 3));
  if (prefix != "tmp") return false;
  for (char c : name.substr(3)) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

size_t path_depth(std::string_view package_path) {
  size_t depth = 0;
  for (char c : package_path) depth += is_separator(c) ? 1 : 0;
  return depth;
}

// Reading the manifest with toml++; every fault names the manifest's line.
#include "manifest.h"

#include <fstream>
#include <initializer_list>
#include <sstream>
#include <toml++/toml.h>

#include "cp1251.h"
#include "paths.h"
#include "text_convert.h"

namespace fs = std::filesystem;

namespace {

// Every problem is collected, so that one run names them all.
struct Context {
  std::string file;
  std::vector<std::string>* problems;
};

bool fail(const Context& c, int64_t line, const std::string& message) {
  c.problems->push_back(line > 0 ? c.file + ":" + std::to_string(line) + ": " + message
                                 : c.file + ": " + message);
  return false;
}

// Keys that belong at the top of the manifest: written after a [table]
// header, TOML puts them into that table.
bool is_top_level_key(const std::string& key) {
  for (const char* name : {"level", "source", "files", "folders", "remove"}) {
    if (key == name) return true;
  }
  return false;
}

int64_t line_of(const toml::node& node) { return node.source().begin.line; }

bool check_keys(const Context& c, const toml::table& table, const std::string& prefix,
                std::initializer_list<const char*> allowed) {
  bool ok = true;
  for (auto&& [key, value] : table) {
    bool known = false;
    for (const char* name : allowed) known = known || key.str() == name;
    if (known) continue;
    std::string name(key.str());
    std::string hint = !prefix.empty() && is_top_level_key(name)
                           ? " (keys after a [table] header belong to that table: move \"" + name +
                                 "\" above the first table)"
                           : "";
    ok = fail(c, key.source().begin.line, "unknown key \"" + prefix + name + "\"" + hint);
  }
  return ok;
}

// A string value converted to Windows-1251; absent leaves *out unchanged.
bool read_text(const Context& c, const toml::table& table, const char* key, const std::string& name,
               bool required, std::string* out) {
  const toml::node* node = table.get(key);
  if (node == nullptr) {
    return required ? fail(c, line_of(table), "\"" + name + "\" is missing") : true;
  }
  const toml::value<std::string>* text = node->as_string();
  if (text == nullptr) return fail(c, line_of(*node), "\"" + name + "\" must be a string");
  std::string why;
  if (!text_to_cp1251(text->get(), out, &why)) return fail(c, line_of(*node), name + ": " + why);
  // Package strings end at their NUL: one inside would cut the text short.
  if (out->find('\0') != std::string::npos) {
    return fail(c, line_of(*node), "\"" + name + "\" holds a NUL character");
  }
  return true;
}

bool read_bool(const Context& c, const toml::table& table, const char* key, const std::string& name,
               bool* out) {
  const toml::node* node = table.get(key);
  if (node == nullptr) return true;
  if (!node->is_boolean()) return fail(c, line_of(*node), "\"" + name + "\" must be true or false");
  *out = node->as_boolean()->get();
  return true;
}

bool read_path_list(const Context& c, const toml::table& table, const char* key,
                    std::vector<ManifestFile>* out) {
  const toml::node* node = table.get(key);
  if (node == nullptr) return true;
  const toml::array* list = node->as_array();
  if (list == nullptr) return fail(c, line_of(*node), "\"" + std::string(key) + "\" must be a list of paths");
  bool ok = true;
  for (const toml::node& item : *list) {
    const toml::value<std::string>* text = item.as_string();
    if (text == nullptr) {
      ok = fail(c, line_of(item), "\"" + std::string(key) + "\" holds a value that is not a string");
      continue;
    }
    ManifestFile file;
    file.utf8_path = text->get();
    file.line = line_of(item);
    std::string why;
    if (!package_path_from_utf8(file.utf8_path, &file.package_path, &why)) {
      ok = fail(c, file.line, "path \"" + file.utf8_path + "\" " + why);
      continue;
    }
    out->push_back(file);
  }
  return ok;
}

const char* const kRegistryRoots[] = {
    "HKEY_LOCAL_MACHINE", "HKLM", "HKEY_CURRENT_USER", "HKCU", "HKEY_CLASSES_ROOT", "HKCR",
    "HKEY_USERS", "HKU", "HKEY_CURRENT_CONFIG", "HKCC"};

// The updater opens the key below HKEY_LOCAL_MACHINE itself.
std::string registry_key_problem(const std::string& key) {
  const char* instead = "; write the path below HKEY_LOCAL_MACHINE, as in key = \"SOFTWARE\\\\Maker\\\\App\"";
  if (key.empty()) return std::string("is empty") + instead;
  std::string first = key.substr(0, key.find('\\'));
  std::string upper;
  for (char ch : first) upper.push_back(ch >= 'a' && ch <= 'z' ? static_cast<char>(ch - 32) : ch);
  for (const char* root : kRegistryRoots) {
    if (upper == root) return "begins with the root \"" + first + "\"" + instead;
  }
  if (key[0] == '\\') return std::string("begins with a backslash") + instead;
  return std::string();
}

bool read_registry(const Context& c, const toml::table& root, Manifest* m) {
  const toml::node* node = root.get("registry");
  if (node == nullptr) return fail(c, 0, "the [registry] table is missing (the updater finds the installation through it)");
  const toml::table* table = node->as_table();
  if (table == nullptr) return fail(c, line_of(*node), "\"registry\" must be a table");
  bool ok = check_keys(c, *table, "registry.", {"key", "folder_value", "program_value", "level_value"});
  ok &= read_text(c, *table, "folder_value", "registry.folder_value", false, &m->folder_value);
  ok &= read_text(c, *table, "program_value", "registry.program_value", false, &m->program_value);
  ok &= read_text(c, *table, "level_value", "registry.level_value", false, &m->level_value);
  if (!read_text(c, *table, "key", "registry.key", true, &m->key_path)) return false;
  std::string why = registry_key_problem(cp1251_to_utf8(m->key_path));
  if (!why.empty()) ok = fail(c, line_of(*table->get("key")), "registry.key " + why);
  return ok;
}

bool read_level(const Context& c, const toml::table& root, Manifest* m) {
  const toml::node* node = root.get("level");
  if (node == nullptr) return fail(c, 0, "\"level\" (the package's patch level) is missing");
  const toml::value<int64_t>* level = node->as_integer();
  if (level == nullptr || level->get() < INT32_MIN || level->get() > INT32_MAX) {
    return fail(c, line_of(*node), "\"level\" must be a whole number from -2147483648 to 2147483647");
  }
  m->level = static_cast<int32_t>(level->get());
  return true;
}

// The box shows "\r\n" line breaks; the manifest may use either form.
std::string windows_line_breaks(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    if (text[i] == '\n') out.push_back('\r');
    out.push_back(text[i]);
  }
  return out;
}

bool read_startup(const Context& c, const toml::table& root, Manifest* m) {
  const toml::node* node = root.get("startup");
  if (node == nullptr) return true;
  const toml::table* table = node->as_table();
  if (table == nullptr) return fail(c, line_of(*node), "\"startup\" must be a table");
  std::string text;
  bool ok = check_keys(c, *table, "startup.", {"caption", "text"});
  ok &= read_text(c, *table, "caption", "startup.caption", true, &m->caption);
  ok &= read_text(c, *table, "text", "startup.text", true, &text);
  if (!ok) return false;
  m->text = windows_line_breaks(text);
  m->has_startup = true;
  return true;
}

bool read_command(const Context& c, const toml::table& table, Manifest* m) {
  CommandSpec command;
  command.in_install_dir = true;
  bool ok = check_keys(c, table, "command.", {"program", "arguments", "wait", "in_install_dir"});
  ok &= read_text(c, table, "program", "command.program", true, &command.program);
  ok &= read_text(c, table, "arguments", "command.arguments", false, &command.arguments);
  ok &= read_bool(c, table, "wait", "command.wait", &command.wait_for_exit);
  ok &= read_bool(c, table, "in_install_dir", "command.in_install_dir", &command.in_install_dir);
  if (!ok) return false;
  int64_t line = line_of(*table.get("program"));
  if (command.program.empty()) return fail(c, line, "\"command.program\" is empty");
  if (command.in_install_dir) {
    std::string why;
    std::string utf8 = table.get("program")->as_string()->get();
    if (!package_path_from_utf8(utf8, &command.program, &why)) {
      return fail(c, line, "program \"" + utf8 + "\" " + why);
    }
  }
  m->commands.push_back(command);
  return true;
}

bool read_commands(const Context& c, const toml::table& root, Manifest* m) {
  const toml::node* node = root.get("command");
  if (node == nullptr) return true;
  const toml::array* list = node->as_array();
  if (list == nullptr) return fail(c, line_of(*node), "commands are written as [[command]] tables");
  bool ok = true;
  for (const toml::node& item : *list) {
    const toml::table* table = item.as_table();
    if (table == nullptr) {
      ok = fail(c, line_of(item), "commands are written as [[command]] tables");
      continue;
    }
    ok &= read_command(c, *table, m);
  }
  return ok;
}

bool read_content(const Context& c, const toml::table& root, const fs::path& base, Manifest* m) {
  for (const char* key : {"source", "files", "folders", "remove"}) {
    const toml::node* node = root.get(key);
    if (node != nullptr && m->content_key.empty()) {
      m->content_key = key;
      m->content_key_line = line_of(*node);
    }
  }
  std::string source_text;
  if (const toml::node* node = root.get("source")) {
    if (!node->is_string()) return fail(c, line_of(*node), "\"source\" must be a folder path");
    m->has_source = true;
    m->source_line = line_of(*node);
    m->source = base / fs::u8path(node->as_string()->get());
  } else {
    m->source = base;
  }
  std::vector<ManifestFile> folders, removals;
  m->has_files = root.get("files") != nullptr;
  bool ok = read_path_list(c, root, "files", &m->files);
  ok &= read_path_list(c, root, "folders", &folders);
  ok &= read_path_list(c, root, "remove", &removals);
  if (!ok) return false;
  for (const ManifestFile& f : folders) m->folders.push_back(f.package_path);
  for (const ManifestFile& f : removals) m->remove.push_back(f.package_path);
  return true;
}

bool read_manifest_into(const Context& c, Manifest* manifest) {
  fs::path path = fs::u8path(c.file);
  std::ifstream in(path, std::ios::binary);
  if (!in) return fail(c, 0, "cannot read the manifest");
  std::ostringstream content;
  content << in.rdbuf();
  std::string text = content.str();

  toml::parse_result parsed = toml::parse(text, c.file);
  if (!parsed) {
    const toml::parse_error& e = parsed.error();
    return fail(c, e.source().begin.line, std::string(e.description()));
  }
  const toml::table& root = parsed.table();
  Manifest m;
  fs::path base = path.parent_path();
  bool ok = check_keys(c, root, "", {"level", "source", "files", "folders", "remove", "registry",
                                      "startup", "command"});
  ok &= read_registry(c, root, &m);
  ok &= read_level(c, root, &m);
  ok &= read_startup(c, root, &m);
  ok &= read_commands(c, root, &m);
  ok &= read_content(c, root, base, &m);
  if (ok) *manifest = m;
  return ok;
}

}  // namespace

bool read_manifest(const std::string& utf8_path, Manifest* manifest, std::string* error) {
  std::vector<std::string> problems;
  Context c{utf8_path, &problems};
  if (!read_manifest_into(c, manifest)) {
    std::string joined;
    for (const std::string& p : problems) joined += (joined.empty() ? "" : "\n") + p;
    *error = joined;
    return false;
  }
  return true;
}

// make_sample_package OUTPUT: writes a sample update package with every
// named section and a few files. Texts are written here in UTF-8 and stored
// in Windows-1251, as packages carry them.
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "cp1251.h"
#include "package_writer.h"
#include "section_builders.h"

namespace {

struct SampleFile {
  std::string path;  // relative to the installation folder
  std::string content;
  bool compress;
};

bool cp1251(const std::string& utf8, std::string* out) {
  std::string error;
  if (utf8_to_cp1251(utf8, out, &error)) return true;
  fprintf(stderr, "make_sample_package: %s\n", error.c_str());
  return false;
}

bool add(std::vector<PreparedEntry>* entries, const std::string& name, const std::string& content,
         bool compress) {
  PreparedEntry entry;
  std::string error;
  if (!prepare_entry(name, reinterpret_cast<const uint8_t*>(content.data()), content.size(),
                     compress, kDefaultCompressionLevel, &entry, &error)) {
    fprintf(stderr, "make_sample_package: %s\n", error.c_str());
    return false;
  }
  entries->push_back(entry);
  return true;
}

bool add_sections(std::vector<PreparedEntry>* entries,
                  const std::vector<std::pair<std::string, std::string>>& substitutes) {
  std::string caption;
  std::string text;
  if (!cp1251("Обновление Korvinda Sample", &caption) ||
      !cp1251("Будет установлено обновление 1 программы Korvinda Sample.\r\n"
              "Нажмите OK, чтобы установить его.", &text)) {
    return false;
  }
  return add(entries, kRegistryKeysName,
             build_registry_keys("Software\\Korvinda\\Sample", "ProgramPath", "ProgramName",
                                 "PatchLevel", 1), true) &&
         add(entries, kStartupMsgName, build_startup_message(caption, text), true) &&
         add(entries, kXlatNamesTableName, build_name_table(substitutes), true) &&
         add(entries, kFoldersName, build_string_list({"data", "data\\maps", "logs"}), true) &&
         add(entries, kCommandsToExecuteName,
             build_commands({{true, true, 0, "tools\\register.exe", "/silent"},
                             {false, true, 0, "tools\\cleanup.exe", ""}}), true) &&
         add(entries, kFilesToRemoveName,
             build_string_list({"old\\legacy.dll", "old\\legacy.cfg", "old"}), true);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: make_sample_package OUTPUT\n");
    return 2;
  }
  std::string readme;
  if (!cp1251("Korvinda Sample, обновление 1.\r\n", &readme)) return 1;
  const std::vector<SampleFile> files = {
      {"readme.txt", readme, true},
      {"bin\\sample.dll", std::string(4096, '\x90') + "sample library", true},
      {"data\\maps\\north.dat", std::string(100000, 'n'), true},
      {"Program Data\\sample settings.ini", "[settings]\r\nlevel=1\r\n", true},
      {"tools\\register.exe", "MZ stand-in for a registration program", false},
  };

  // Paths that a directory name cannot hold go in under substitute names.
  std::vector<std::pair<std::string, std::string>> substitutes;
  std::vector<std::pair<std::string, const SampleFile*>> named;
  for (const SampleFile& file : files) {
    if (needs_substitute_name(file.path)) {
      std::string substitute = substitute_name(substitutes.size() + 1);
      substitutes.push_back({substitute, file.path});
      named.push_back({substitute, &file});
    } else {
      named.push_back({file.path, &file});
    }
  }

  std::vector<PreparedEntry> entries;
  if (!add_sections(&entries, substitutes)) return 1;
  for (const auto& item : named) {
    if (!add(&entries, item.first, item.second->content, item.second->compress)) return 1;
  }

  std::vector<uint8_t> package;
  std::string error;
  PackageLayout layout;
  layout.checksums = true;  // as the publishers' tool writes them
  if (!write_package(entries, layout, &package, &error)) {
    fprintf(stderr, "make_sample_package: %s\n", error.c_str());
    return 1;
  }
  FILE* out = fopen(argv[1], "wb");
  bool written = out != nullptr && fwrite(package.data(), 1, package.size(), out) == package.size();
  if (out != nullptr && fclose(out) != 0) written = false;
  if (!written) {
    fprintf(stderr, "make_sample_package: cannot write %s\n", argv[1]);
    return 1;
  }
  printf("wrote %s: %zu entries, %zu bytes\n", argv[1], entries.size(), package.size());
  return 0;
}

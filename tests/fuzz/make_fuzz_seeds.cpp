// Writes the fuzzer's seed corpus: small packages in every layout the reader
// accepts, an image, a package laid out by hand, and bare section contents.
#include <cstdio>
#include <string>
#include <vector>

#include "../unit/hand_package.h"
#include "package_writer.h"
#include "section_builders.h"

namespace {

using Bytes = std::vector<uint8_t>;

bool write_file(const std::string& path, const Bytes& bytes) {
  FILE* f = fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return fclose(f) == 0 && ok;
}

Bytes bytes_of(const std::string& s) { return Bytes(s.begin(), s.end()); }

std::vector<PreparedEntry> sample_entries(bool compress) {
  auto entry = [compress](const std::string& name, const std::string& content) {
    return compress ? compressed_entry(name, content) : plain_entry(name, content);
  };
  return {
      entry(kRegistryKeysName,
            build_registry_keys("Software\\Korvinda", "ProgramPath", "ProgramName", "PatchLevel", 1)),
      entry(kStartupMsgName, build_startup_message("Update", "Apply?\r\n")),
      entry(kXlatNamesTableName, build_name_table({{"TMP0000000000000001", "a b\\c d.txt"}})),
      entry(kFoldersName, build_string_list({"data", "data\\maps"})),
      entry(kCommandsToExecuteName, build_commands({{true, true, 0, "setup.exe", "/q"}})),
      entry(kFilesToRemoveName, build_string_list({"old.dll", "olddir"})),
      entry("TMP0000000000000001", "translated file"),
      entry("data\\maps\\north.dat", std::string(200, 'n')),
      entry("empty.txt", ""),
  };
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: make_fuzz_seeds <folder>\n");
    return 2;
  }
  std::string folder = argv[1];
  std::vector<std::pair<std::string, Bytes>> seeds;
  const PackageLayout layouts[] = {{2, 0, 0}, {0, 0, 0}, {3, 0xF0, 0x10}};
  for (const PackageLayout& layout : layouts) {
    for (bool compress : {true, false}) {
      Bytes package;
      std::string error;
      if (!write_package(sample_entries(compress), layout, &package, &error)) {
        fprintf(stderr, "make_fuzz_seeds: %s\n", error.c_str());
        return 1;
      }
      std::string name = "package_s" + std::to_string(layout.directory_storage) +
                         (compress ? "_z" : "_p");
      seeds.push_back({name, package});
      if (layout.directory_storage == 2 && compress) {
        Bytes image;
        if (!make_image(bytes_of("MZ\x90 tiny program"), package, &image, &error)) return 1;
        seeds.push_back({"image", image});
      }
    }
  }
  seeds.push_back({"hand_directory_first",
                   hand::directory_first_package(
                       {{":StartupMsg", bytes_of(std::string("c\0t\0", 4)), hand::Store::kStoredBlocks},
                        {"a", bytes_of("abc"), hand::Store::kPlain},
                        {"b", bytes_of("bbbbbbbb"), hand::Store::kZlibLevel1}},
                       0)});
  seeds.push_back({"section_registry_keys", bytes_of(build_registry_keys("k", "f", "p", "l", -1))});
  seeds.push_back({"section_commands",
                   bytes_of(build_commands({{false, true, 0, "a", ""}, {true, false, 4, "b", "c"}}))});
  seeds.push_back({"command_line", bytes_of("\"C:\\Program Files\\PATCH.EXE\" a\"b c \xE0 d")});
  for (const auto& seed : seeds) {
    if (!write_file(folder + "/" + seed.first, seed.second)) {
      fprintf(stderr, "make_fuzz_seeds: cannot write %s/%s\n", folder.c_str(), seed.first.c_str());
      return 1;
    }
  }
  return 0;
}

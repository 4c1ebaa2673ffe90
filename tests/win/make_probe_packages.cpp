// Writes the files that package_probe reads in the Wine test, and the
// listing that the probe must print for them, worked out here from what was
// packed rather than by reading the packages back.
//
//   make_probe_packages FOLDER   (writes FOLDER/*.pkg, FOLDER/update.exe,
//                                 FOLDER/expected.txt, FOLDER/arguments.txt)
#include <cstdio>
#include <string>
#include <vector>

#include "../unit/hand_package.h"
#include "package_writer.h"
#include "section_builders.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Packed {
  std::string name;
  Bytes content;
  uint16_t flags;
};

uint64_t fnv1a(const Bytes& data) {
  uint64_t h = 1469598103934665603ull;
  for (uint8_t b : data) {
    h ^= b;
    h *= 1099511628211ull;
  }
  return h;
}

bool same_name(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

std::string escaped(const std::string& name) {
  std::string out = "\"";
  for (unsigned char c : name) {
    if (c < 0x20 || c >= 0x7F || c == '"' || c == '\\') {
      char hex[8];
      snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out + "\"";
}

std::string listing(const std::string& kind, const std::string& file, uint32_t package_offset,
                    const std::vector<Packed>& entries) {
  char line[256];
  snprintf(line, sizeof line, "%s %s: %zu entries, package_offset %u\n", kind.c_str(),
           file.c_str(), entries.size(), package_offset);
  std::string out = line;
  for (size_t i = 0; i < entries.size(); ++i) {
    size_t found = 0;
    while (!same_name(entries[found].name, entries[i].name)) ++found;
    unsigned long long sum = fnv1a(entries[i].content);
    snprintf(line, sizeof line, " size %zu flags 0x%04X found %zu load %016llx into %016llx\n",
             entries[i].content.size(), entries[i].flags, found, sum, sum);
    out += "  entry " + std::to_string(i) + " " + escaped(entries[i].name) + line;
  }
  return out;
}

bool write_file(const std::string& path, const Bytes& bytes) {
  FILE* f = fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return fclose(f) == 0 && ok;
}

Bytes bytes_of(const std::string& s) { return Bytes(s.begin(), s.end()); }

// Every kind of section, Cyrillic names, equal names in two cases, an empty
// entry, a large compressible file and a large incompressible one.
std::vector<Packed> produced_contents() {
  return {
      {kRegistryKeysName,
       bytes_of(build_registry_keys("Software\\Korvinda", "ProgramPath", "ProgramName",
                                    "PatchLevel", 1)), 0x11},
      {kStartupMsgName,
       bytes_of(build_startup_message("\xCE\xE1\xED\xEE\xE2\xEB\xE5\xED\xE8\xE5",
                                      "\xCF\xF0\xE8\xEC\xE5\xED\xE8\xF2\xFC?\r\n")), 0x11},
      {kXlatNamesTableName,
       bytes_of(build_name_table({{"TMP0000000000000001", "Program Files\\long name.txt"}})), 0x11},
      {kFoldersName, bytes_of(build_string_list({"data", "data\\maps"})), 0x11},
      {kCommandsToExecuteName, bytes_of(build_commands({{true, true, 0, "setup.exe", "/q"}})), 0x11},
      {kFilesToRemoveName, bytes_of(build_string_list({"old.dll"})), 0x11},
      {"TMP0000000000000001", hand::content_of(1000, 1), 0x11},
      {"\xE4\xE0\xED\xED\xFB\xE5\\\xF4\xE0\xE9\xEB.txt", hand::content_of(5000, 2), 0x11},
      {"readme.txt", bytes_of("first of the two"), 0x11},
      {"README.TXT", bytes_of("second of the two"), 0x11},
      {"empty.txt", {}, 0x11},
      {"data\\big.dat", hand::content_of(3u << 20, 3), 0x11},
      {"data\\noise.bin", hand::content_of(300000, 4, false), 0x11},
  };
}

bool write_with_writer(const std::vector<Packed>& entries, const PackageLayout& layout,
                       Bytes* package) {
  std::vector<PreparedEntry> prepared;
  for (const Packed& e : entries) {
    PreparedEntry p;
    std::string error;
    bool compress = (e.flags & 1) != 0;
    if (!prepare_entry(e.name, e.content.data(), e.content.size(), compress,
                       kDefaultCompressionLevel, &p, &error)) {
      fprintf(stderr, "make_probe_packages: %s\n", error.c_str());
      return false;
    }
    prepared.push_back(p);
  }
  std::string error;
  if (!write_package(prepared, layout, package, &error)) {
    fprintf(stderr, "make_probe_packages: %s\n", error.c_str());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: make_probe_packages FOLDER\n");
    return 2;
  }
  const std::string folder = argv[1];
  std::string expected;
  std::string arguments;

  std::vector<Packed> produced = produced_contents();
  Bytes produced_package;
  if (!write_with_writer(produced, PackageLayout{}, &produced_package)) return 1;

  // Storage 3 with extra header bits, plain and compressed entries with an
  // extra entry bit.
  std::vector<Packed> variant = {{":FilesToRemove", bytes_of(build_string_list({"a", "b"})), 0x10},
                                 {"plain.txt", hand::content_of(700, 5), 0x10},
                                 {"zipped.txt", hand::content_of(7000, 6), 0x11 | 0x10}};
  Bytes variant_package;
  if (!write_with_writer(variant, PackageLayout{3, 0xFFFFFFF0u, 0x10}, &variant_package)) return 1;

  // Laid out by hand: plain directory first, entries in reverse order,
  // streams of stored blocks.
  std::vector<hand::Item> hand_items = {
      {":StartupMsg", bytes_of(build_startup_message("c", "t")), hand::Store::kStoredBlocksTiny},
      {"hand\\one.txt", hand::content_of(2000, 7), hand::Store::kStoredBlocks},
      {"hand\\two.txt", hand::content_of(20, 8), hand::Store::kPlain}};
  Bytes hand_package = hand::directory_first_package(hand_items, 0);
  std::vector<Packed> hand_listed;
  for (const hand::Item& item : hand_items) {
    hand_listed.push_back({item.name, item.content,
                           static_cast<uint16_t>(item.how == hand::Store::kPlain ? 0 : 1)});
  }

  Bytes program = bytes_of("MZ");
  Bytes noise = hand::content_of(4094, 9, false);
  program.insert(program.end(), noise.begin(), noise.end());
  Bytes image;
  std::string error;
  if (!make_image(program, produced_package, &image, &error)) return 1;

  struct Output {
    const char* file;
    const Bytes* bytes;
  };
  const Bytes empty;
  const Output outputs[] = {{"produced.pkg", &produced_package}, {"variant.pkg", &variant_package},
                            {"hand.pkg", &hand_package}, {"update.exe", &image},
                            {"empty.pkg", &empty}};
  for (const Output& o : outputs) {
    if (!write_file(folder + "/" + o.file, *o.bytes)) {
      fprintf(stderr, "make_probe_packages: cannot write %s/%s\n", folder.c_str(), o.file);
      return 1;
    }
  }

  expected += listing("package", "produced.pkg", 0, produced);
  expected += listing("package", "variant.pkg", 0, variant);
  expected += listing("package", "hand.pkg", 0, hand_listed);
  expected += listing("image", "update.exe", static_cast<uint32_t>(program.size()), produced);
  expected += "package update.exe: refused\n";   // an image named as a package file
  expected += "image produced.pkg: refused\n";   // no trailer
  expected += "package empty.pkg: refused\n";    // cannot be mapped
  expected += "image empty.pkg: refused\n";
  expected += "package missing.pkg: refused\n";
  arguments = "produced.pkg;variant.pkg;hand.pkg;--image;update.exe;update.exe;--image;"
              "produced.pkg;empty.pkg;--image;empty.pkg;missing.pkg";
  if (!write_file(folder + "/expected.txt", bytes_of(expected)) ||
      !write_file(folder + "/arguments.txt", bytes_of(arguments))) {
    fprintf(stderr, "make_probe_packages: cannot write the listing\n");
    return 1;
  }
  return 0;
}

// package_probe: opens each named file with open_package, lists its entries
// and loads each one both ways, printing a line per entry with a checksum.
// Built for Windows (the Win32 file layer, run under Wine) and natively; the
// two listings of the same files must be equal.
//
//   package_probe [--image] FILE [[--image] FILE ...]
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "package.h"

namespace {

uint64_t fnv1a(const uint8_t* data, size_t size) {
  uint64_t h = 1469598103934665603ull;
  for (size_t i = 0; i < size; ++i) {
    h ^= data[i];
    h *= 1099511628211ull;
  }
  return h;
}

// Entry names may hold Windows-1251 bytes: print them as escapes so that
// the console's code page plays no part.
void print_name(const char* name) {
  putchar('"');
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(name); *p != 0; ++p) {
    if (*p < 0x20 || *p >= 0x7F || *p == '"' || *p == '\\') {
      printf("\\x%02X", *p);
    } else {
      putchar(*p);
    }
  }
  putchar('"');
}

// One line per entry; false when an entry could not be loaded.
bool probe_entry(const Package* package, int index) {
  const DirectoryEntry& entry = package->entries[index];
  printf("  entry %d ", index);
  print_name(entry.name);
  printf(" size %u flags 0x%04X found %d", static_cast<unsigned>(entry.size),
         static_cast<unsigned>(entry.flags), find_entry(package, entry.name));
  uint8_t* loaded = load_entry(package, index);
  uint8_t* into = static_cast<uint8_t*>(malloc(entry.size != 0 ? entry.size : 1));
  bool into_ok = into != nullptr && load_entry_into(package, index, into);
  if (loaded != nullptr) {
    printf(" load %016llx", static_cast<unsigned long long>(fnv1a(loaded, entry.size)));
  } else {
    printf(" load failed");
  }
  if (into_ok) {
    printf(" into %016llx\n", static_cast<unsigned long long>(fnv1a(into, entry.size)));
  } else {
    printf(" into failed\n");
  }
  free(into);
  free_entry_buffer(loaded);
  return loaded != nullptr && into_ok;
}

bool probe_file(const char* path, const char* shown_name, bool from_image) {
  Package package;
  bool opened = static_cast<bool>(open_package(&package, path, from_image));
  printf("%s %s: ", from_image ? "image" : "package", shown_name);
  bool all_loaded = true;
  if (!opened) {
    printf("refused\n");
  } else {
    printf("%u entries, package_offset %u\n", static_cast<unsigned>(package.header.entry_count),
           static_cast<unsigned>(package.package_offset));
    for (uint32_t i = 0; i < package.header.entry_count; ++i) {
      if (!probe_entry(&package, static_cast<int>(i))) all_loaded = false;
    }
  }
  close_package(&package);
  return opened && all_loaded;
}

const char* leaf_of(const char* path) {
  const char* leaf = path;
  for (const char* p = path; *p != 0; ++p) {
    if (*p == '/' || *p == '\\') leaf = p + 1;
  }
  return leaf;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: package_probe [--image] FILE [[--image] FILE ...]\n");
    return 2;
  }
  bool from_image = false;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--image") == 0) {
      from_image = true;
      continue;
    }
    // Files are shown by their last part, so that the Windows and the native
    // runs, which name them differently, print the same text.
    probe_file(argv[i], leaf_of(argv[i]), from_image);
    from_image = false;
  }
  fflush(stdout);
  return 0;
}

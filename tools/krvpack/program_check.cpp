#include "program_check.h"

#include <cstring>
#include <filesystem>

#include "package_layout.h"
#include "platform.h"

namespace fs = std::filesystem;

namespace {

constexpr uint16_t kExecutableImage = 0x0002;
constexpr uint16_t kDll = 0x2000;

}  // namespace

std::string program_problem(const uint8_t* data, size_t size) {
  if (size >= sizeof kPackageMagic && memcmp(data, kPackageMagic, sizeof kPackageMagic) == 0) {
    return "it is a package, not a program";
  }
  if (size < 0x40 || data[0] != 'M' || data[1] != 'Z') {
    return "it is not a Windows program (no \"MZ\" header)";
  }
  uint32_t pe = read_le32(data + 0x3C);
  if (!range_inside(size, pe, 24) || memcmp(data + pe, "PE\0\0", 4) != 0) {
    return "it is not a Windows program (no PE header)";
  }
  uint16_t characteristics = read_le16(data + pe + 22);
  if ((characteristics & kDll) != 0) return "it is a DLL, not a program";
  if ((characteristics & kExecutableImage) == 0) return "it is not an executable image";
  uint32_t offset = 0;
  if (locate_package(ByteSpan{data, size}, true, &offset)) {
    return "it already carries a package (a self-contained image); give the bare updater program";
  }
  return std::string();
}

std::string default_program_path() {
  fs::path self = fs::u8path(executable_path());
  if (self.empty()) return std::string();
  fs::path folder = self.parent_path();
  for (const fs::path& candidate : {folder / "PATCH.EXE", folder / ".." / "share" / "krvpack" / "PATCH.EXE"}) {
    std::error_code ec;
    if (fs::is_regular_file(candidate, ec)) return candidate.lexically_normal().u8string();
  }
  return std::string();
}

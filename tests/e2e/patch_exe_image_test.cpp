// The built PATCH.EXE as a file: an x86_64 GUI program that imports only
// DLLs Windows ships, with the manifest, the dialog template 101 and the
// icon 2000 embedded as designed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>

#include "pe_reader.h"

namespace {

constexpr uint32_t kRtIcon = 3;
constexpr uint32_t kRtDialog = 5;
constexpr uint32_t kRtGroupIcon = 14;
constexpr uint32_t kRtManifest = 24;

bool read_all(const std::string& path, std::string* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream all;
  all << in.rdbuf();
  *bytes = all.str();
  return true;
}

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

class PatchExeImage : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string path = std::string(KRV_WINDOWS_BUILD_DIR) + "/PATCH.EXE";
    std::string bytes;
    ASSERT_TRUE(read_all(path, &bytes))
        << path << " is missing: build the Windows programs first (scripts/build.sh)";
    std::string error;
    ASSERT_TRUE(read_pe(bytes, &pe_, &error)) << path << ": " << error;
    read_ok_ = true;
  }
  void SetUp() override { ASSERT_TRUE(read_ok_) << "PATCH.EXE could not be read"; }

  static PeFile pe_;
  static bool read_ok_;
};

PeFile PatchExeImage::pe_;
bool PatchExeImage::read_ok_ = false;

TEST_F(PatchExeImage, IsA64BitGuiProgram) {
  EXPECT_EQ(pe_.machine, 0x8664);
  EXPECT_EQ(pe_.subsystem, 2) << "IMAGE_SUBSYSTEM_WINDOWS_GUI";
}

TEST_F(PatchExeImage, ImportsOnlyDllsThatWindowsShips) {
  const std::vector<std::string> shipped = {"kernel32.dll", "user32.dll", "advapi32.dll",
                                            "gdi32.dll",    "shell32.dll", "msvcrt.dll",
                                            "ucrtbase.dll", "ntdll.dll",  "bcrypt.dll"};
  ASSERT_FALSE(pe_.imports.empty());
  for (const PeImport& import : pe_.imports) {
    std::string name = lower(import.dll);
    bool allowed = std::find(shipped.begin(), shipped.end(), name) != shipped.end() ||
                   name.rfind("api-ms-win-crt-", 0) == 0;
    EXPECT_TRUE(allowed) << import.dll << " is not a DLL that Windows ships";
  }
}

bool imports(const PeFile& pe, const std::string& dll, const std::string& function) {
  for (const PeImport& import : pe.imports) {
    if (lower(import.dll) != dll) continue;
    for (const std::string& f : import.functions) {
      if (f == function) return true;
    }
  }
  return false;
}

// SetDefaultDllDirectories is looked up at run time, since Windows 7 without
// its loader update lacks it and would refuse to start an importer; the
// fallback SetDllDirectoryW is always there.
TEST_F(PatchExeImage, RestrictsTheDllSearchToSystem32) {
  EXPECT_FALSE(imports(pe_, "kernel32.dll", "SetDefaultDllDirectories"));
  EXPECT_TRUE(imports(pe_, "kernel32.dll", "GetProcAddress"));
  EXPECT_TRUE(imports(pe_, "kernel32.dll", "SetDllDirectoryW"));
  std::string bytes;
  ASSERT_TRUE(read_all(std::string(KRV_WINDOWS_BUILD_DIR) + "/PATCH.EXE", &bytes));
  EXPECT_NE(bytes.find(std::string("SetDefaultDllDirectories") + '\0'), std::string::npos)
      << "the name GetProcAddress is given";
}

// Package text is Windows-1251 whatever the system's code page, so no ANSI
// form of a file, registry, window or process function may be used. The
// runtime's own start-up code imports a few ANSI functions of other kinds,
// listed here by name (FormatMessageA: the C++ library's text for a system
// error, which its threads and locks can report).
TEST_F(PatchExeImage, ImportsNoAnsiFileRegistryWindowOrProcessFunction) {
  const std::vector<std::string> runtime_only = {"CreateEventA", "CreateSemaphoreA",
                                                 "FormatMessageA", "GetStartupInfoA",
                                                 "OutputDebugStringA"};
  for (const PeImport& import : pe_.imports) {
    std::string dll = lower(import.dll);
    for (const std::string& f : import.functions) {
      if (f.size() < 2 || f.back() != 'A' || !std::islower(static_cast<unsigned char>(f[f.size() - 2]))) {
        continue;
      }
      bool allowed = dll == "kernel32.dll" &&
                     std::find(runtime_only.begin(), runtime_only.end(), f) != runtime_only.end();
      EXPECT_TRUE(allowed) << import.dll << "!" << f << " is an ANSI function";
    }
  }
  for (const char* needed : {"CreateFileW", "MoveFileW", "DeleteFileW", "CreateDirectoryW",
                             "RemoveDirectoryW", "GetFileAttributesW", "CreateProcessW"}) {
    EXPECT_TRUE(imports(pe_, "kernel32.dll", needed)) << needed;
  }
  for (const char* needed : {"RegOpenKeyExW", "RegQueryValueExW", "RegSetValueExW"}) {
    EXPECT_TRUE(imports(pe_, "advapi32.dll", needed)) << needed;
  }
  for (const char* needed : {"SetDlgItemTextW", "MessageBoxW", "CreateDialogParamW"}) {
    EXPECT_TRUE(imports(pe_, "user32.dll", needed)) << needed;
  }
}

TEST_F(PatchExeImage, EmbedsTheManifestAsResource1) {
  const PeResource* manifest = find_resource(pe_, kRtManifest, 1);
  ASSERT_NE(manifest, nullptr) << "no RT_MANIFEST 1";
  std::string source;
  ASSERT_TRUE(read_all(std::string(KRV_SOURCE_DIR) + "/res/patch.manifest", &source));
  EXPECT_EQ(manifest->data, source);
  for (const char* needed : {
           "level=\"requireAdministrator\"",
           "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  // Windows 7
           "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  // Windows 8
           "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  // Windows 8.1
           "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  // Windows 10 and 11
           "<dpiAware", "<dpiAwareness",
           "<longPathAware xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">true</longPathAware>",
       }) {
    EXPECT_NE(manifest->data.find(needed), std::string::npos) << needed;
  }
}

// ---- the dialog template ---------------------------------------------------------

struct TemplateReader {
  const std::string& data;
  size_t at = 0;
  bool ok = true;

  uint32_t u16() {
    if (at + 2 > data.size()) {
      ok = false;
      return 0;
    }
    uint32_t v = static_cast<uint8_t>(data[at]) | (static_cast<uint8_t>(data[at + 1]) << 8);
    at += 2;
    return v;
  }
  uint32_t u32() { return u16() | (u16() << 16); }
  int16_t s16() { return static_cast<int16_t>(u16()); }
  // A wide string of ASCII text, as the resource compiler writes these.
  std::string text() {
    std::string out;
    for (uint32_t c = u16(); ok && c != 0; c = u16()) out += static_cast<char>(c);
    return out;
  }
  // Either 0xFFFF and an ordinal, or a string: "#<n>" for an ordinal.
  std::string name_or_ordinal() {
    if (at + 2 <= data.size() && static_cast<uint8_t>(data[at]) == 0xFF &&
        static_cast<uint8_t>(data[at + 1]) == 0xFF) {
      u16();
      return "#" + std::to_string(u16());
    }
    return text();
  }
  void align4() { at = (at + 3) & ~size_t{3}; }
};

struct ExpectedControl {
  uint32_t style;
  int x, y, cx, cy;
  uint32_t id;
  const char* window_class;  // "#128" button, "#130" static
  const char* text;
};

TEST_F(PatchExeImage, DialogTemplate101IsExactlyAsDesigned) {
  const PeResource* dialog = find_resource(pe_, kRtDialog, 101);
  ASSERT_NE(dialog, nullptr) << "no dialog 101";
  TemplateReader r{dialog->data};
  // WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT, not WS_VISIBLE.
  EXPECT_EQ(r.u32(), 0x80000000u | 0x00C00000u | 0x00080000u | 0x80u | 0x40u);
  EXPECT_EQ(r.u32(), 0u) << "extended style";
  uint32_t count = r.u16();
  EXPECT_EQ(count, 4u);
  EXPECT_EQ(r.s16(), 0);
  EXPECT_EQ(r.s16(), 0);
  EXPECT_EQ(r.s16(), 300);
  EXPECT_EQ(r.s16(), 110);
  EXPECT_EQ(r.name_or_ordinal(), "") << "menu";
  EXPECT_EQ(r.name_or_ordinal(), "") << "window class";
  EXPECT_EQ(r.text(), "Korvinda updater");
  EXPECT_EQ(r.u16(), 8u) << "point size";
  EXPECT_EQ(r.text(), "MS Sans Serif");

  constexpr uint32_t kChildVisible = 0x40000000u | 0x10000000u;
  const ExpectedControl expected[] = {
      {kChildVisible | 0x1u | 0x00010000u, 128, 93, 50, 14, 1, "#128", "Done"},
      {kChildVisible | 0x7u, 13, 17, 274, 70, 0xFFFF, "#128", ""},
      {kChildVisible | 0x0u | 0x00020000u, 25, 27, 251, 16, 1000, "#130", "Static1"},
      {kChildVisible | 0x0u | 0x00020000u, 25, 47, 251, 36, 1001, "#130", "Static2"},
  };
  for (const ExpectedControl& c : expected) {
    SCOPED_TRACE(c.id);
    r.align4();
    EXPECT_EQ(r.u32(), c.style);
    EXPECT_EQ(r.u32(), 0u) << "extended style";
    EXPECT_EQ(r.s16(), c.x);
    EXPECT_EQ(r.s16(), c.y);
    EXPECT_EQ(r.s16(), c.cx);
    EXPECT_EQ(r.s16(), c.cy);
    EXPECT_EQ(r.u16(), c.id);
    EXPECT_EQ(r.name_or_ordinal(), c.window_class);
    EXPECT_EQ(r.name_or_ordinal(), c.text);
    EXPECT_EQ(r.u16(), 0u) << "creation data";
  }
  EXPECT_TRUE(r.ok) << "the template ends early";
}

TEST_F(PatchExeImage, Icon2000HasOne32x32ImageAt8BitsPerPixel) {
  const PeResource* group = find_resource(pe_, kRtGroupIcon, 2000);
  ASSERT_NE(group, nullptr) << "no icon group 2000";
  TemplateReader r{group->data};
  EXPECT_EQ(r.u16(), 0u);
  EXPECT_EQ(r.u16(), 1u) << "an icon";
  ASSERT_EQ(r.u16(), 1u) << "one image";
  EXPECT_EQ(r.u16(), 32u | (32u << 8)) << "32 x 32";
  r.u16();                 // colour count, reserved
  EXPECT_EQ(r.u16(), 1u);  // planes
  EXPECT_EQ(r.u16(), 8u) << "bits per pixel";
  r.u32();  // size
  uint32_t image_id = r.u16();
  ASSERT_TRUE(r.ok);

  const PeResource* image = find_resource(pe_, kRtIcon, image_id);
  ASSERT_NE(image, nullptr) << "the group's image is missing";
  TemplateReader bitmap{image->data};
  EXPECT_EQ(bitmap.u32(), 40u) << "BITMAPINFOHEADER";
  EXPECT_EQ(bitmap.u32(), 32u);
  EXPECT_EQ(bitmap.u32(), 64u) << "height counts the mask too";
  EXPECT_EQ(bitmap.u16(), 1u);
  EXPECT_EQ(bitmap.u16(), 8u);
  EXPECT_TRUE(bitmap.ok);
}

}  // namespace

// The section builders' byte formats and the Windows-1251 conversion.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cp1251.h"
#include "section_builders.h"

namespace {

// The bytes of a literal, embedded NULs included, without its terminator.
template <size_t N>
std::string lit(const char (&s)[N]) {
  return std::string(s, N - 1);
}


TEST(SectionBuilders, ByteFormats) {
  struct Case {
    const char* what;
    std::string built;
    std::string want;
  };
  const Case cases[] = {
      {"registry keys, level 1",
       build_registry_keys("Software\\Korvinda", "ProgramPath", "ProgramName", "PatchLevel", 1),
       lit("Software\\Korvinda\0ProgramPath\0ProgramName\0PatchLevel\0\x01\0\0\0\0")},
      {"registry keys, level -1, empty strings", build_registry_keys("", "", "", "", -1),
       lit("\0\0\0\0\xFF\xFF\xFF\xFF\0")},
      {"registry keys, level little-endian",
       build_registry_keys("k", "f", "p", "l", 0x12345678),
       lit("k\0f\0p\0l\0\x78\x56\x34\x12\0")},
      {"registry keys, lowest level", build_registry_keys("k", "f", "p", "l", INT32_MIN),
       lit("k\0f\0p\0l\0\0\0\0\x80\0")},
      {"startup message",
       build_startup_message("\xC2\xED\xE8\xEC\xE0\xED\xE8\xE5", "a\r\nb"),
       lit("\xC2\xED\xE8\xEC\xE0\xED\xE8\xE5\0a\r\nb\0\0")},
      {"startup message, empty", build_startup_message("", ""), lit("\0\0\0")},
      {"string list", build_string_list({"a", "bin\\tools", "c"}),
       lit("a\0bin\\tools\0c\0\0")},
      {"string list, empty", build_string_list({}), lit("\0")},
      {"name table",
       build_name_table({{"TMP0000000000000001", "a long path\\with blanks.txt"}}),
       lit("TMP0000000000000001\0a long path\\with blanks.txt\0\0\0")},
      {"name table, empty", build_name_table({}), lit("\0\0")},
      {"commands, each flag",
       build_commands({{false, false, 0, "a.exe", ""},
                       {true, false, 0, "b.exe", "-x"},
                       {false, true, 0, "c.exe", "1 2"},
                       {true, true, 0, "d.exe", "q"}}),
       lit("\0a.exe\0\0\x01" "b.exe\0-x\0\x02" "c.exe\0" "1 2\0\x03" "d.exe\0q\0\0\0")},
      {"commands, extra bits kept, low bits not taken from them",
       build_commands({{false, false, 0xFF, "p", ""}, {true, false, 0x80, "q", ""}}),
       lit("\xFCp\0\0\x81q\0\0\0\0")},
      {"commands, empty list", build_commands({}), lit("\0\0")},
  };
  for (const Case& c : cases) EXPECT_EQ(c.built, c.want) << c.what;
}

TEST(SectionBuilders, SubstituteNames) {
  EXPECT_EQ(substitute_name(1), "TMP0000000000000001");
  EXPECT_EQ(substitute_name(1).size(), 19u);
  EXPECT_EQ(substitute_name(42), "TMP0000000000000042");
  EXPECT_EQ(substitute_name(9999999999999999ull), "TMP9999999999999999");
  struct Case {
    std::string path;
    bool needs;
  };
  const Case cases[] = {
      {std::string(30, 'a'), false}, {std::string(31, 'a'), true}, {std::string(200, 'a'), true},
      {"a b", true}, {" ", true}, {"dir\\file.txt", false}, {"a\tb", false}, {"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(needs_substitute_name(c.path), c.needs) << c.path;
}

// The expected byte of each character is computed here from the code page's
// layout, not taken from the converter's table.
TEST(Cp1251, EveryCyrillicLetterAndTheSpecialOnes) {
  std::string utf8;
  std::string want;
  for (uint32_t cp = 0x0410; cp <= 0x044F; ++cp) {  // А..я
    utf8.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    utf8.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    want.push_back(static_cast<char>(0xC0 + (cp - 0x0410)));
  }
  utf8 += "\xD0\x81\xD1\x91\xE2\x84\x96";  // Ё ё №
  want += "\xA8\xB8\xB9";
  utf8 += lit("plain ASCII \\ / \x01\x7F");
  want += lit("plain ASCII \\ / \x01\x7F");
  std::string out;
  std::string error;
  ASSERT_TRUE(utf8_to_cp1251(utf8, &out, &error)) << error;
  EXPECT_EQ(out, want);
  EXPECT_EQ(cp1251_to_utf8(out), utf8);
}

TEST(Cp1251, SingleCharacters) {
  struct Case {
    const char* utf8;
    const char* cp1251;
  };
  const Case cases[] = {
      {"\xD0\x90", "\xC0"}, {"\xD0\xAF", "\xDF"}, {"\xD0\xB0", "\xE0"}, {"\xD1\x8F", "\xFF"},
      {"\xD0\x81", "\xA8"}, {"\xD1\x91", "\xB8"}, {"\xE2\x84\x96", "\xB9"},
      {"\xE2\x82\xAC", "\x88"},  // €
      {"\xC2\xA0", "\xA0"},      // no-break space
      {"\xC2\xAB", "\xAB"}, {"\xC2\xBB", "\xBB"}, {"\xE2\x80\x94", "\x97"},
      {"\xD0\x86", "\xB2"}, {"\xD1\x96", "\xB3"}, {"\xD2\x90", "\xA5"},  // І і Ґ
  };
  for (const Case& c : cases) {
    std::string out;
    std::string error;
    ASSERT_TRUE(utf8_to_cp1251(c.utf8, &out, &error)) << c.utf8 << ": " << error;
    EXPECT_EQ(out, c.cp1251) << c.utf8;
  }
}

TEST(Cp1251, EveryByteButOneRoundTrips) {
  for (int b = 0; b < 256; ++b) {
    if (b == 0x98) continue;
    std::string one(1, static_cast<char>(b));
    std::string back;
    std::string error;
    ASSERT_TRUE(utf8_to_cp1251(cp1251_to_utf8(one), &back, &error)) << b << " " << error;
    EXPECT_EQ(back, one) << b;
  }
  EXPECT_EQ(cp1251_to_utf8("\x98"), "\xEF\xBF\xBD");
}

TEST(Cp1251, UnmappableCharacterIsNamed) {
  struct Case {
    std::string utf8;
    std::vector<std::string> in_message;
  };
  const Case cases[] = {
      {"ab\xC3\xBC", {"\xC3\xBC", "U+00FC", "3"}},            // ü at position 3
      {"\xD0\x90\xE4\xB8\xAD", {"\xE4\xB8\xAD", "U+4E2D", "2"}},  // 中 after А
      {"x\xF0\x9F\x98\x80", {"U+1F600", "2"}},                // emoji, 4 bytes
      {"\xEF\xBF\xBD", {"U+FFFD"}},                           // not the byte 0x98
      {"\xC4\x80", {"U+0100"}},
  };
  for (const Case& c : cases) {
    std::string out = "untouched";
    std::string error;
    EXPECT_FALSE(utf8_to_cp1251(c.utf8, &out, &error)) << c.utf8;
    EXPECT_EQ(out, "untouched");
    for (const std::string& part : c.in_message) {
      EXPECT_NE(error.find(part), std::string::npos) << "\"" << error << "\" lacks " << part;
    }
  }
}

TEST(Cp1251, MalformedUtf8IsRefused) {
  const std::string cases[] = {
      "\x80",                  // lone continuation byte
      "ab\xD0",                // cut two-byte sequence
      "\xE2\x84",              // cut three-byte sequence
      "\xD0\x41",              // lead byte without its continuation
      "\xC0\xAF",              // overlong '/'
      "\xE0\x80\xAF",          // overlong, three bytes
      "\xED\xA0\x80",          // surrogate
      "\xF4\x90\x80\x80",      // above U+10FFFF
      "\xFF",                  // never valid
      "\xF8\x88\x80\x80\x80",  // five-byte form
  };
  for (const std::string& c : cases) {
    std::string out = "untouched";
    std::string error;
    EXPECT_FALSE(utf8_to_cp1251(c, &out, &error)) << testing::PrintToString(c);
    EXPECT_NE(error.find("UTF-8"), std::string::npos) << error;
    EXPECT_EQ(out, "untouched");
  }
  std::string out;
  std::string error;
  EXPECT_TRUE(utf8_to_cp1251("", &out, &error));
  EXPECT_EQ(out, "");
}

}  // namespace

// Splitting the command line: every rule and edge case as one table.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "command_line.h"
#include "test_support.h"

namespace {

std::vector<std::string> split(const std::string& line) {
  // An exactly-sized copy: a read past the end shows under ASan.
  test::HeapCopy copy(reinterpret_cast<const uint8_t*>(line.data()), line.size());
  return split_command_line(
      std::string_view(reinterpret_cast<const char*>(copy.data), line.size()));
}

struct Case {
  const char* what;
  std::string line;
  std::vector<std::string> args;
};

TEST(CommandLine, SplittingRules) {
  const Case cases[] = {
      {"program only", "PATCH.EXE", {"PATCH.EXE"}},
      {"program and package", "PATCH.EXE update.pkg", {"PATCH.EXE", "update.pkg"}},
      {"MAKEEXE form", "PATCH.EXE PATCH.EXE upd.pkg out.exe MAKEEXE",
       {"PATCH.EXE", "PATCH.EXE", "upd.pkg", "out.exe", "MAKEEXE"}},
      {"quoted path with blanks, then a name",
       "\"C:\\Program Files\\Korvinda\\PATCH.EXE\" update.pkg",
       {"C:\\Program Files\\Korvinda\\PATCH.EXE", "update.pkg"}},
      {"quote followed by text without blank", "\"a b\"c", {"a b", "c"}},
      {"closing quote then another quoted argument", "\"a\"\"b\"", {"a", "b"}},
      {"quote inside an unquoted argument", "PATCH.EXE ab\"cd ef", {"PATCH.EXE", "ab\"cd", "ef"}},
      {"quote inside unquoted, then quoted tail", "x\"y z\"", {"x\"y", "z\""}},
      {"unterminated quote runs to the end", "PATCH.EXE \"my update.pkg",
       {"PATCH.EXE", "my update.pkg"}},
      {"backslash is ordinary", "a\\\"b \"c\\\"d", {"a\\\"b", "c\\", "d"}},
      {"high byte cuts an unquoted argument and ends splitting",
       "PATCH.EXE upd\xE0te.pkg more", {"PATCH.EXE", "upd"}},
      {"high byte right after the program name", "PATCH.EXE\xCF\xE0\xEA.pkg x", {"PATCH.EXE"}},
      {"same name quoted is taken whole", "PATCH.EXE \"upd\xE0te.pkg\" more",
       {"PATCH.EXE", "upd\xE0te.pkg", "more"}},
      {"high bytes before an argument are skipped like blanks",
       "PATCH.EXE \xCF\xE0\xEA.pkg x", {"PATCH.EXE", ".pkg", "x"}},
      {"\"\" after the program name ends splitting", "PATCH.EXE \"\" update.pkg", {"PATCH.EXE"}},
      {"\"\" glued to a quoted argument", "\"PATCH.EXE\"\"\" x", {"PATCH.EXE"}},
      {"empty line", "", {}},
      {"only blanks", " \t\x01\x1F ", {}},
      {"begins with a high byte", "\xC0PATCH.EXE x", {}},
      {"begins with \"\"", "\"\" PATCH.EXE x", {}},
      {"leading and trailing blanks", "   PATCH.EXE   x   ", {"PATCH.EXE", "x"}},
      {"tabs and other control bytes are blanks",
       "a\tb\x01" "c\x1F" "d\x0A" "e\x0D\x0A" "f g", {"a", "b", "c", "d", "e", "f", "g"}},
      {"0x7F is not a blank", "a\x7F" "b c", {"a\x7F" "b", "c"}},
      {"0x21 is not a blank", "a!b", {"a!b"}},
      {"quoted argument keeps tabs and high bytes", "\"a\tb\xFF\"", {"a\tb\xFF"}},
      {"keyword in lower case is just text", "P p u o makeexe", {"P", "p", "u", "o", "makeexe"}},
  };
  for (const Case& c : cases) EXPECT_EQ(split(c.line), c.args) << c.what;
}

TEST(CommandLine, AtMost256ArgumentsAreKept) {
  for (int n : {255, 256, 257, 400}) {
    std::string line;
    std::vector<std::string> want;
    for (int i = 0; i < n; ++i) {
      line += "a" + std::to_string(i) + " ";
      if (static_cast<size_t>(i) < kArgumentSlots) want.push_back("a" + std::to_string(i));
    }
    EXPECT_EQ(split(line), want) << n << " arguments";
  }
}

}  // namespace

// The UTF-16 command line follows the same rules: a character at or above
// U+0080 is what a high byte was.
TEST(CommandLine, WideFormUsesTheSameRules) {
  struct WideCase {
    const char* what;
    std::u16string line;
    std::vector<std::u16string> args;
  };
  const WideCase cases[] = {
      {"plain", u"PATCH.EXE update.pkg", {u"PATCH.EXE", u"update.pkg"}},
      {"Cyrillic cuts an unquoted argument and ends splitting", u"PATCH.EXE updаte.pkg x",
       {u"PATCH.EXE", u"upd"}},
      {"Cyrillic before an argument is skipped like blanks", u"PATCH.EXE обн.pkg x",
       {u"PATCH.EXE", u".pkg", u"x"}},
      {"quoted Cyrillic, Greek and Chinese are taken whole",
       u"PATCH.EXE \"Z:\\обновление\\Ωμέγα\\中文.krv\" x",
       {u"PATCH.EXE", u"Z:\\обновление\\Ωμέγα\\中文.krv", u"x"}},
      {"U+0080 is high, U+007F is not", u"a\u007Fb c\u0080d", {u"a\u007Fb", u"c"}},
      {"U+00A0 is not a blank but high", u"a\u00A0b c", {u"a"}},
      {"a character above U+00FF whose low byte is a blank is not one", u"a\u0120b",
       {u"a"}},
  };
  for (const WideCase& c : cases) {
    std::u16string copy = c.line;  // exactly sized, so a read past the end shows
    EXPECT_EQ(split_command_line(std::u16string_view(copy)), c.args) << c.what;
  }
}

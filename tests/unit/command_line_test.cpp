// Splitting the command line: every rule and edge case as one table.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "command_line.h"
#include "test_support.h"

namespace {

std::vector<std::string> split(const std::string& line) {
  // An exactly-sized copy: a read past the terminator shows under ASan.
  test::HeapCopy copy(reinterpret_cast<const uint8_t*>(line.c_str()), line.size() + 1);
  ArgumentList list = {};
  EXPECT_TRUE(split_command_line(reinterpret_cast<const char*>(copy.data), &list));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(copy.data)), line) << "line not modified";
  std::vector<std::string> out(list.slots, list.slots + list.count);
  release_arguments(&list);
  return out;
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
      if (i < kArgumentSlots) want.push_back("a" + std::to_string(i));
    }
    EXPECT_EQ(split(line), want) << n << " arguments";
  }
}

}  // namespace

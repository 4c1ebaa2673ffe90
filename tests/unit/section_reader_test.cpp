// The section readers over exactly-sized heap copies: whole sections, and
// every section cut at every byte, where nothing may be read past the end.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "section_builders.h"
#include "section_reader.h"
#include "test_support.h"

namespace {

// The bytes of a literal, embedded NULs included, without its terminator.
template <size_t N>
std::string lit(const char (&s)[N]) {
  return std::string(s, N - 1);
}

std::string cut(const std::string& s, size_t n) { return s.substr(0, n); }

TEST(RegistryKeys, WholeSections) {
  struct Case {
    std::string section;
    bool ok;
    std::vector<std::string> strings;
    int32_t level;
  };
  const Case cases[] = {
      {build_registry_keys("Software\\Korvinda", "ProgramPath", "ProgramName", "PatchLevel", 1),
       true, {"Software\\Korvinda", "ProgramPath", "ProgramName", "PatchLevel"}, 1},
      {build_registry_keys("k", "f", "p", "l", -1), true, {"k", "f", "p", "l"}, -1},
      {build_registry_keys("k", "f", "p", "l", INT32_MIN), true, {"k", "f", "p", "l"}, INT32_MIN},
      {build_registry_keys("odd", "f", "p", "l", 0x12345678), true, {"odd", "f", "p", "l"},
       0x12345678},
      {lit("\0\0\0\0\x05\0\0\0"), true, {"", "", "", ""}, 5},  // no byte after the level
      {lit("a\0b\0c\0d\0\x07\0\0\0trailing junk"), true, {"a", "b", "c", "d"}, 7},
      {lit("a\0b\0c\0d\0\x07\0\0"), false, {}, 0},  // level one byte short
      {lit("a\0b\0c\0d\0"), false, {}, 0},
      {lit("a\0b\0c\0\x01\0\0\0\0"), false, {}, 0},  // only three strings
      {lit("a\0b\0c\0dddd"), false, {}, 0},          // fourth string unterminated
      {std::string(), false, {}, 0},
  };
  for (const Case& c : cases) {
    test::HeapCopy copy(c.section);
    RegistryKeysSection keys = {};
    ASSERT_EQ(parse_registry_keys(copy.data, copy.size, &keys), c.ok)
        << testing::PrintToString(c.section);
    if (!c.ok) continue;
    EXPECT_STREQ(keys.key_path, c.strings[0].c_str());
    EXPECT_STREQ(keys.folder_value_name, c.strings[1].c_str());
    EXPECT_STREQ(keys.program_value_name, c.strings[2].c_str());
    EXPECT_STREQ(keys.level_value_name, c.strings[3].c_str());
    EXPECT_EQ(keys.package_level, c.level);
  }
}

TEST(RegistryKeys, CutAtEveryByte) {
  const std::string full =
      build_registry_keys("Software\\Korvinda", "ProgramPath", "ProgramName", "PatchLevel", 1);
  const size_t needed = full.size() - 1;  // four strings and four bytes
  for (size_t n = 0; n <= full.size(); ++n) {
    test::HeapCopy copy(cut(full, n));
    RegistryKeysSection keys = {};
    EXPECT_EQ(parse_registry_keys(copy.data, copy.size, &keys), n >= needed) << n;
  }
}

TEST(StartupMessage, WholeAndCutSections) {
  struct Case {
    std::string section;
    std::string caption;
    std::string text;
  };
  const Case cases[] = {
      {build_startup_message("Caption", "Line 1\r\nLine 2"), "Caption", "Line 1\r\nLine 2"},
      {build_startup_message("", "text"), "", "text"},
      {lit("cap\0"), "cap", ""},          // text missing
      {lit("cap\0te"), "cap", "te"},      // text cut by the end
      {lit("ca"), "ca", ""},              // caption cut by the end
      {std::string(), "", ""},
      {lit("\0\0"), "", ""},
  };
  for (const Case& c : cases) {
    test::HeapCopy copy(c.section);
    StartupMessage m = parse_startup_message(copy.data, copy.size);
    EXPECT_EQ(std::string(m.caption), c.caption) << testing::PrintToString(c.section);
    EXPECT_EQ(std::string(m.text), c.text) << testing::PrintToString(c.section);
  }
  StartupMessage none = parse_startup_message(nullptr, 0);
  EXPECT_TRUE(none.caption.empty() && none.text.empty());
}

TEST(StartupMessage, CutAtEveryByteStaysInside) {
  const std::string full = build_startup_message("\xC2\xED\xE8\xEC\xE0\xED\xE8\xE5", "a\r\nbc");
  for (size_t n = 0; n <= full.size(); ++n) {
    test::HeapCopy copy(cut(full, n));
    StartupMessage m = parse_startup_message(copy.data, copy.size);
    const char* end = reinterpret_cast<const char*>(copy.data) + copy.size;
    if (!m.caption.empty()) EXPECT_LE(m.caption.data() + m.caption.size(), end) << n;
    if (!m.text.empty()) EXPECT_LE(m.text.data() + m.text.size(), end) << n;
    // Caption at 0..7, its NUL at 8, text at 9..13, its NUL at 14.
    EXPECT_EQ(std::string(m.caption), full.substr(0, std::min(n, size_t(8)))) << n;
    EXPECT_EQ(std::string(m.text), n > 9 ? full.substr(9, std::min(n, size_t(14)) - 9) : "") << n;
  }
}

// A name table as the phase sees it: substitute names fold ASCII case only.
TEST(NameTable, Lookups) {
  const std::string table = build_name_table({
      {"TMP0000000000000001", "a long path\\file one.txt"},
      {"\xD4\xC0\xC9\xCB", "cyrillic upper"},
      {"tmp0000000000000001", "second pair of the same name"},
      {"@a[", "punctuation"},
      {"TMP0000000000000002", "data\\two.dat"},
  });
  struct Case {
    const char* name;
    const char* path;  // null: no translation
  };
  const Case cases[] = {
      {"TMP0000000000000001", "a long path\\file one.txt"},
      {"tmp0000000000000001", "a long path\\file one.txt"},  // first pair wins
      {"Tmp0000000000000002", "data\\two.dat"},
      {"\xD4\xC0\xC9\xCB", "cyrillic upper"},
      {"\xF4\xE0\xE9\xEB", nullptr},  // Cyrillic case is not folded
      {"@A[", "punctuation"},
      {"`a[", nullptr},
      {"@a{", nullptr},
      {"TMP000000000000000", nullptr},
      {"TMP00000000000000011", nullptr},
      {"", nullptr},
      {"a long path\\file one.txt", nullptr},  // paths are not names
  };
  test::HeapCopy copy(table);
  for (const Case& c : cases) {
    const char* got = find_translation(copy.data, copy.size, c.name);
    if (c.path == nullptr) {
      EXPECT_EQ(got, nullptr) << c.name;
    } else {
      ASSERT_NE(got, nullptr) << c.name;
      EXPECT_STREQ(got, c.path) << c.name;
    }
  }
}

TEST(NameTable, EmptyPathEndsTheTable) {
  // A pair with an empty path: its own name translates to the empty path;
  // the walk ends there for every other name.
  const std::string table = lit("A\0a\0B\0\0C\0c\0\0\0");
  test::HeapCopy copy(table);
  EXPECT_STREQ(find_translation(copy.data, copy.size, "a"), "a");
  const char* b = find_translation(copy.data, copy.size, "b");
  ASSERT_NE(b, nullptr);
  EXPECT_STREQ(b, "");
  EXPECT_EQ(find_translation(copy.data, copy.size, "C"), nullptr);
  test::HeapCopy empty("");
  EXPECT_EQ(find_translation(empty.data, 0, "A"), nullptr);
  EXPECT_EQ(find_translation(nullptr, 0, "A"), nullptr);
  test::HeapCopy lone(lit("\0"));
  EXPECT_EQ(find_translation(lone.data, lone.size, ""), nullptr);
}

TEST(NameTable, CutAtEveryByte) {
  const std::vector<std::pair<std::string, std::string>> pairs = {
      {"TMP0000000000000001", "first path"}, {"TMP0000000000000002", "second\\path"}};
  const std::string full = build_name_table(pairs);
  const size_t first_path_end = 19 + 1 + 10 + 1;  // the NUL of "first path" is at index 30
  const size_t second_path_end = first_path_end + 19 + 1 + 11 + 1;
  for (size_t n = 0; n <= full.size(); ++n) {
    test::HeapCopy copy(cut(full, n));
    const char* one = find_translation(copy.data, copy.size, "TMP0000000000000001");
    const char* two = find_translation(copy.data, copy.size, "TMP0000000000000002");
    // A pair is used only once its path's NUL lies inside the content.
    EXPECT_EQ(one != nullptr, n >= first_path_end) << n;
    EXPECT_EQ(two != nullptr, n >= second_path_end) << n;
    if (one != nullptr) EXPECT_STREQ(one, "first path");
    if (two != nullptr) EXPECT_STREQ(two, "second\\path");
    EXPECT_EQ(find_translation(copy.data, copy.size, "TMP0000000000000003"), nullptr);
  }
}

// String lists: the items whose NUL lies inside the cut, never more.
TEST(StringList, CutAtEveryByte) {
  const std::vector<std::string> items = {"a", "bin\\tools", "\xCF\xE0\xEF\xEA\xE0", "z"};
  const std::string full = build_string_list(items);
  for (size_t n = 0; n <= full.size(); ++n) {
    test::HeapCopy copy(cut(full, n));
    SectionCursor cursor = section_cursor(copy.data, copy.size);
    std::vector<std::string> got;
    const char* text = nullptr;
    while (next_list_item(&cursor, &text)) got.push_back(text);
    std::vector<std::string> want;
    size_t end = 0;
    for (const std::string& item : items) {
      end += item.size() + 1;
      if (end <= n) want.push_back(item);
    }
    EXPECT_EQ(got, want) << n;
    EXPECT_LE(cursor.position, copy.size) << n;
    EXPECT_FALSE(next_list_item(&cursor, &text)) << "stays at the end, " << n;
  }
}

TEST(StringList, StopsAtTheEmptyStringAndReadsNothingAfter) {
  const std::string section = lit("one\0two\0\0three\0");
  test::HeapCopy copy(section);
  SectionCursor cursor = section_cursor(copy.data, copy.size);
  const char* text = nullptr;
  std::vector<std::string> got;
  while (next_list_item(&cursor, &text)) got.push_back(text);
  EXPECT_EQ(got, (std::vector<std::string>{"one", "two"}));
  test::HeapCopy first_empty(lit("\0a\0\0"));
  cursor = section_cursor(first_empty.data, first_empty.size);
  EXPECT_FALSE(next_list_item(&cursor, &text));
  cursor = section_cursor(nullptr, 0);
  EXPECT_FALSE(next_list_item(&cursor, &text));
}

struct Command {
  uint8_t flags;
  std::string program;
  std::string arguments;
  bool operator==(const Command& o) const {
    return flags == o.flags && program == o.program && arguments == o.arguments;
  }
};

std::vector<Command> read_commands(const uint8_t* data, size_t size) {
  SectionCursor cursor = section_cursor(data, size);
  std::vector<Command> out;
  CommandRecord r;
  while (next_command(&cursor, &r)) out.push_back({r.flags, r.program, r.arguments});
  return out;
}

TEST(Commands, WholeSections) {
  struct Case {
    std::string section;
    std::vector<Command> want;
  };
  const Case cases[] = {
      {build_commands({{true, true, 0, "setup\\run.exe", "/q"}, {false, false, 0, "x.exe", ""}}),
       {{0x03, "setup\\run.exe", "/q"}, {0x00, "x.exe", ""}}},
      {build_commands({{false, false, 0xF0, "p", "a b"}}), {{0xF0, "p", "a b"}}},
      {build_commands({}), {}},
      {lit("\x7F\0"), {}},  // end record: any flags byte, empty program
      {lit("\x01p\0a\0\xFF\0\x01q\0b\0"), {{0x01, "p", "a"}}},  // nothing after the end
      {lit("\x02p\0\0"), {{0x02, "p", ""}}},  // no end record: the whole record counts
  };
  for (const Case& c : cases) {
    test::HeapCopy copy(c.section);
    auto got = read_commands(copy.data, copy.size);
    EXPECT_TRUE(got == c.want) << testing::PrintToString(c.section);
  }
}

TEST(Commands, CutAtEveryByte) {
  const std::vector<CommandSpec> records = {{true, true, 0, "bin\\setup.exe", "/silent"},
                                          {false, false, 0, "x", ""},
                                          {true, false, 0x80, "\xEF\xF0\xEE\xE3.exe", "\xE0 b"}};
  const std::string full = build_commands(records);
  std::vector<size_t> record_ends;
  size_t end = 0;
  for (const CommandSpec& s : records) {
    end += 1 + s.program.size() + 1 + s.arguments.size() + 1;
    record_ends.push_back(end);
  }
  for (size_t n = 0; n <= full.size(); ++n) {
    test::HeapCopy copy(cut(full, n));
    auto got = read_commands(copy.data, copy.size);
    size_t whole = 0;
    while (whole < record_ends.size() && record_ends[whole] <= n) ++whole;
    ASSERT_EQ(got.size(), whole) << n;
    for (size_t i = 0; i < whole; ++i) {
      EXPECT_EQ(got[i].program, records[i].program) << n;
      EXPECT_EQ(got[i].arguments, records[i].arguments) << n;
    }
  }
}

}  // namespace

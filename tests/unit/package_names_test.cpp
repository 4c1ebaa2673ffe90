// Names that would lead a run out of the installation folder: the check of
// one name in both character widths, and the walk over a whole package.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "package.h"
#include "package_names.h"
#include "package_writer.h"
#include "section_builders.h"

namespace {

struct NameCase {
  const char* name;
  NameFault fault;
};

const NameCase kNames[] = {
    // Relative names that stay inside, however odd.
    {"readme.txt", NameFault::kNone},
    {"data\\maps\\north.dat", NameFault::kNone},
    {"\\leading\\backslash.txt", NameFault::kNone},  // joined after the folder's backslash
    {".\\here.txt", NameFault::kNone},
    {"..a\\b..\\c..d", NameFault::kNone},
    {"...txt", NameFault::kNone},
    {"console.txt", NameFault::kNone},
    {"CONFIG\\NULL\\COM10\\LPT", NameFault::kNone},
    {"com\\nul_not.txt", NameFault::kNone},
    {"", NameFault::kNone},
    // Up and out.
    {"..", NameFault::kParentFolder},
    {"..\\evil.txt", NameFault::kParentFolder},
    {"..\\..\\outside\\evil2.txt", NameFault::kParentFolder},
    {"sub\\..\\..\\x", NameFault::kParentFolder},
    {"sub/../x", NameFault::kParentFolder},
    {"sub\\..", NameFault::kParentFolder},
    {"... \\x", NameFault::kParentFolder},  // trimmed by Windows to ".."
    {".. \\x", NameFault::kParentFolder},
    {"\\..\\x", NameFault::kParentFolder},
    // Another root.
    {"C:\\Windows\\evil.dll", NameFault::kAbsolute},
    {"c:relative-to-drive.txt", NameFault::kAbsolute},
    {"\\\\server\\share\\x", NameFault::kAbsolute},
    {"\\\\?\\C:\\x", NameFault::kAbsolute},
    {"\\\\.\\PhysicalDrive0", NameFault::kAbsolute},
    {"//server/share", NameFault::kAbsolute},
    {"\\/x", NameFault::kAbsolute},
    // Streams.
    {"file.txt:hidden", NameFault::kStream},
    {"file.txt::$DATA", NameFault::kStream},
    {"sub\\x:y", NameFault::kStream},
    // Devices, with or without an extension, in any case, anywhere.
    {"CON", NameFault::kDevice},
    {"con.txt", NameFault::kDevice},
    {"sub\\Nul.tar.gz", NameFault::kDevice},
    {"AUX\\file", NameFault::kDevice},
    {"prn", NameFault::kDevice},
    {"COM1", NameFault::kDevice},
    {"lpt9.log", NameFault::kDevice},
    {"COM0", NameFault::kDevice},
    {"CON .txt", NameFault::kDevice},
    {"conin$", NameFault::kDevice},
    {"CONOUT$.x", NameFault::kDevice},
};

TEST(RelativeName, BytesOfThePackage) {
  for (const NameCase& c : kNames) {
    EXPECT_EQ(check_relative_name(std::string_view(c.name)), c.fault) << c.name;
  }
}

TEST(RelativeName, WideTextGivesTheSameVerdicts) {
  for (const NameCase& c : kNames) {
    std::string bytes(c.name);
    std::wstring wide(bytes.begin(), bytes.end());
    EXPECT_EQ(check_relative_name(std::wstring_view(wide)), c.fault) << c.name;
  }
}

TEST(RelativeName, SuperscriptPortNumbersOnlyInWideText) {
  EXPECT_EQ(check_relative_name(std::u16string_view(u"COM\u00B9")), NameFault::kDevice);
  EXPECT_EQ(check_relative_name(std::u16string_view(u"lpt\u00B3.txt")), NameFault::kDevice);
  // The same bytes in Windows-1251 are letters ("COM№", "LPTі"), not ports.
  EXPECT_EQ(check_relative_name(std::string_view("COM\xB9")), NameFault::kNone);
  EXPECT_EQ(check_relative_name(std::string_view("LPT\xB3")), NameFault::kNone);
  // Cyrillic names pass untouched.
  EXPECT_EQ(check_relative_name(std::string_view("\xF1\xEF\xF0\xE0\xE2\xEA\xE0.txt")),
            NameFault::kNone);
}

// A package with the usual sections and whatever the case adds.
std::vector<uint8_t> package_bytes(std::vector<PreparedEntry> extra) {
  std::vector<PreparedEntry> entries = {
      compressed_entry(kRegistryKeysName, build_registry_keys("k", "f", "p", "l", 1)),
      plain_entry("ok.txt", "fine")};
  for (PreparedEntry& e : extra) entries.push_back(std::move(e));
  std::vector<uint8_t> bytes;
  std::string error;
  EXPECT_TRUE(write_package(entries, PackageLayout{}, &bytes, &error)) << error;
  return bytes;
}

struct PackageCase {
  const char* what;
  std::vector<PreparedEntry> extra;
  NameFault fault;
  NameSource source;
  std::string name;
};

TEST(PackageNames, FirstOffenderOfEachList) {
  const std::string sub = substitute_name(1);
  std::vector<PackageCase> cases = {
      {"all inside",
       {plain_entry("a\\b.txt", "x"),
        compressed_entry(kFoldersName, build_string_list({"a", "a\\b"})),
        compressed_entry(kFilesToRemoveName, build_string_list({"old.txt", "\\old2.txt"})),
        compressed_entry(kCommandsToExecuteName,
                         build_commands({{true, true, 0, "tools\\setup.exe", ""},
                                         {false, false, 0, "C:\\Windows\\notepad.exe", ""}}))},
       NameFault::kNone, NameSource::kFileEntry, ""},
      {"entry name", {plain_entry("..\\evil.txt", "x")}, NameFault::kParentFolder,
       NameSource::kFileEntry, "..\\evil.txt"},
      {"entry name after translation",
       {plain_entry(sub, "x"),
        compressed_entry(kXlatNamesTableName,
                         build_name_table({{sub, "..\\..\\outside\\evil2.txt"}}))},
       NameFault::kParentFolder, NameSource::kFileEntry, "..\\..\\outside\\evil2.txt"},
      {"a device entry", {plain_entry("CON", "x")}, NameFault::kDevice, NameSource::kFileEntry,
       "CON"},
      {"folder",
       {compressed_entry(kFoldersName, build_string_list({"fine", "D:\\elsewhere"}))},
       NameFault::kAbsolute, NameSource::kFolder, "D:\\elsewhere"},
      {"removal",
       {compressed_entry(kFilesToRemoveName, build_string_list({"ok", "..\\victim.txt"}))},
       NameFault::kParentFolder, NameSource::kRemoval, "..\\victim.txt"},
      {"removal of a stream",
       {compressed_entry(kFilesToRemoveName, build_string_list({"app.exe:Zone.Identifier"}))},
       NameFault::kStream, NameSource::kRemoval, "app.exe:Zone.Identifier"},
      {"command from the installation folder",
       {compressed_entry(kCommandsToExecuteName,
                         build_commands({{true, true, 0, "ok.exe", ""},
                                         {true, true, 0, "\\\\host\\share\\run.exe", ""}}))},
       NameFault::kAbsolute, NameSource::kCommand, "\\\\host\\share\\run.exe"},
  };
  for (PackageCase& c : cases) {
    std::vector<uint8_t> bytes = package_bytes(std::move(c.extra));
    Package package = {};
    ASSERT_TRUE(open_package_view(&package, bytes.data(), bytes.size(), false)) << c.what;
    NameCheck check = check_package_names(package);
    EXPECT_EQ(check.fault, c.fault) << c.what;
    if (c.fault != NameFault::kNone) {
      EXPECT_EQ(check.source, c.source) << c.what;
      EXPECT_EQ(check.name, c.name) << c.what;
    }
    close_package(&package);
  }
}

TEST(PackageNames, UntranslatedEntryIsCheckedUnderItsOwnName) {
  // The table translates only its substitute names; other entries keep theirs.
  std::vector<uint8_t> bytes = package_bytes(
      {plain_entry("nul.dat", "x"),
       compressed_entry(kXlatNamesTableName, build_name_table({{substitute_name(1), "ok"}}))});
  Package package = {};
  ASSERT_TRUE(open_package_view(&package, bytes.data(), bytes.size(), false));
  NameCheck check = check_package_names(package);
  EXPECT_EQ(check.fault, NameFault::kDevice);
  EXPECT_EQ(check.name, "nul.dat");
  close_package(&package);
}

TEST(PackageNames, ListThatCannotBeReadIsRefused) {
  // A ":Folders" entry whose stream does not inflate to its size.
  PreparedEntry folders = compressed_entry(kFoldersName, build_string_list({"a"}));
  folders.size += 1;
  std::vector<uint8_t> bytes = package_bytes({folders});
  Package package = {};
  ASSERT_TRUE(open_package_view(&package, bytes.data(), bytes.size(), false));
  NameCheck check = check_package_names(package);
  EXPECT_EQ(check.fault, NameFault::kUnreadable);
  EXPECT_EQ(check.source, NameSource::kFolder);
  close_package(&package);
}

TEST(PackageNames, ListsAreReadThroughTheGivenLoader) {
  // The updater reads sections its own way; a list its loader cannot read
  // refuses the package even though load_entry would read it.
  std::vector<uint8_t> bytes = package_bytes(
      {compressed_entry(kFilesToRemoveName, build_string_list({"old.txt"}))});
  Package package = {};
  ASSERT_TRUE(open_package_view(&package, bytes.data(), bytes.size(), false));
  int refused = find_entry(&package, kFilesToRemoveName);
  SectionLoader loader = [](const Package& p, int index, const void* context) -> uint8_t* {
    return index == *static_cast<const int*>(context) ? nullptr : load_entry(&p, index);
  };
  EXPECT_TRUE(check_package_names(package).safe());
  NameCheck check = check_package_names(package, loader, &refused);
  EXPECT_EQ(check.fault, NameFault::kUnreadable);
  EXPECT_EQ(check.source, NameSource::kRemoval);
  close_package(&package);
}

}  // namespace

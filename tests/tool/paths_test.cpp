// Relative paths: what a package may carry and what extraction refuses.
#include <gtest/gtest.h>

#include "cp1251.h"
#include "paths.h"

namespace {

struct PathCase {
  const char* utf8;
  bool accepted;
  const char* package_form;  // UTF-8 view of the Windows-1251 result
};

TEST(PackagePathTest, ConvertsOrRefusesManifestAndTreePaths) {
  const PathCase kCases[] = {
      {"app.exe", true, "app.exe"},
      {"data/maps/north.dat", true, "data\\maps\\north.dat"},
      {"data\\maps\\north.dat", true, "data\\maps\\north.dat"},
      {"папка/файл.txt", true, "папка\\файл.txt"},
      {"long folder name/a b.txt", true, "long folder name\\a b.txt"},
      {"", false, ""},
      {"/etc/passwd", false, ""},
      {"\\windows\\x", false, ""},
      {"C:/x.txt", false, ""},
      {"../x.txt", false, ""},
      {"a/../../x.txt", false, ""},
      {"a/./b", false, ""},
      {"a//b", false, ""},
      {"a/", false, ""},
      {"what?.txt", false, ""},
      {"a|b", false, ""},
      {"tab\there", false, ""},
      {"中文.txt", false, ""},
  };
  for (const PathCase& c : kCases) {
    std::string out, error;
    bool accepted = package_path_from_utf8(c.utf8, &out, &error);
    EXPECT_EQ(accepted, c.accepted) << c.utf8 << ": " << error;
    if (accepted && c.accepted) EXPECT_EQ(cp1251_to_utf8(out), c.package_form) << c.utf8;
    if (!accepted) EXPECT_FALSE(error.empty()) << c.utf8;
  }
}

TEST(PackagePathTest, UnmappableCharacterIsNamed) {
  std::string out, error;
  EXPECT_FALSE(package_path_from_utf8("data/日本.txt", &out, &error));
  EXPECT_NE(error.find("日"), std::string::npos) << error;
}

TEST(PathStaysInsideTest, RefusesEveryWayOut) {
  const std::pair<const char*, bool> kCases[] = {
      {"a.txt", true},          {"data\\maps\\n.dat", true}, {"a b\\c d.txt", true},
      {"a..b.txt", true},       {"..\\x", false},            {"a\\..\\..\\x", false},
      {"a/../x", false},        {"\\x", false},              {"/x", false},
      {"C:x", false},           {"C:\\x", false},            {"a.txt:stream", false},
      {"..", false},            {"", false},
  };
  for (const auto& [path, inside] : kCases) {
    std::string why;
    EXPECT_EQ(path_stays_inside(path, &why), inside) << path;
    if (!inside) EXPECT_FALSE(why.empty()) << path;
  }
}

TEST(FoldCaseTest, FoldsAsciiAndCyrillicLetters) {
  std::string upper, lower, error;
  ASSERT_TRUE(utf8_to_cp1251("ДАННЫЕ\\Ёлка.TXT", &upper, &error));
  ASSERT_TRUE(utf8_to_cp1251("данные\\ёлка.txt", &lower, &error));
  EXPECT_EQ(fold_case(upper), fold_case(lower));
  EXPECT_NE(fold_case("a.txt"), fold_case("b.txt"));
}

TEST(SubstituteNameTest, RecognisesTheSubstituteFormInAnyCase) {
  EXPECT_TRUE(looks_like_substitute_name("TMP0000000000000001"));
  EXPECT_TRUE(looks_like_substitute_name("tmp9999999999999999"));
  EXPECT_FALSE(looks_like_substitute_name("TMP000000000000001"));
  EXPECT_FALSE(looks_like_substitute_name("TMP000000000000000a"));
  EXPECT_FALSE(looks_like_substitute_name("TMQ0000000000000001"));
}

}  // namespace

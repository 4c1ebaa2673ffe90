// The rules of Windows names and of publisher text, as krvpack applies them
// to trees, manifests and packages.
#include <gtest/gtest.h>

#include "cp1251.h"
#include "paths.h"
#include "text_convert.h"
#include "win_names.h"

namespace {

TEST(WindowsNameTest, RefusesWhatWindowsCannotHold) {
  const std::pair<const char*, const char*> kCases[] = {
      {"app.exe", nullptr},        {"CONSOLE.txt", nullptr},   {"COM0", nullptr},
      {"a.b.c", nullptr},          {".hidden", nullptr},       {"trail.", "ends with a dot"},
      {"trail ", "ends with a blank"}, {"CON", "device name CON"}, {"con.txt", "device name CON"},
      {"Nul .log", "device name NUL"}, {"com1", "device name COM1"}, {"LPT9.x", "device name LPT9"},
      {"aux", "device name AUX"},  {"prn.", "ends with a dot"},  {"a\\b", "backslash"},
      {"a:b", "':'"},              {"what?", "'?'"},           {"..", "\"..\" part"},
      {"", "empty part"},
  };
  for (const auto& [name, problem] : kCases) {
    std::string why = windows_name_problem(name);
    if (problem == nullptr) {
      EXPECT_EQ(why, "") << name;
    } else {
      EXPECT_NE(why.find(problem), std::string::npos) << name << ": " << why;
    }
  }
}

TEST(WindowsNameTest, GroupsEveryPathThatWindowsTakesForOne) {
  std::string upper, lower;
  std::string error;
  ASSERT_TRUE(utf8_to_cp1251("ДАННЫЕ.txt", &upper, &error));
  ASSERT_TRUE(utf8_to_cp1251("данные.TXT", &lower, &error));
  std::vector<std::vector<std::string>> groups =
      colliding_paths({"a.txt", upper, "b.txt", "A.TXT", lower, "a.Txt", "c.txt"});
  ASSERT_EQ(groups.size(), 2u);
  EXPECT_EQ(groups[0], (std::vector<std::string>{"a.txt", "A.TXT", "a.Txt"}));
  EXPECT_EQ(groups[1], (std::vector<std::string>{upper, lower}));
}

TEST(PackagePathTest, NamesEveryBadPartOfAPath) {
  std::string out, error;
  EXPECT_FALSE(package_path_from_utf8("CON/trail./ok/日.txt", &out, &error));
  for (const char* expected : {"part \"CON\"", "part \"trail.\"", "日"}) {
    EXPECT_NE(error.find(expected), std::string::npos) << expected << " in " << error;
  }
  EXPECT_EQ(error.find("\"ok\""), std::string::npos) << error;
}

TEST(TextConvertTest, ComposesTheLettersThatWindows1251Holds) {
  const std::pair<const char*, const char*> kCases[] = {
      {"и\u0306", "й"},     {"И\u0306", "Й"},  {"е\u0308лка", "ёлка"}, {"Е\u0308", "Ё"},
      {"і\u0308", "ї"},     {"у\u0306", "ў"},  {"г\u0301", "ѓ"},       {"К\u0301", "Ќ"},
      {"Сере\u0301жа", "Сере\u0301жа"},  // a stress mark on е has no composed form
      {"plain", "plain"},   {"и\u0306и\u0306", "йй"}, {"\u0306и", "\u0306и"},
  };
  for (const auto& [decomposed, composed] : kCases) {
    EXPECT_EQ(compose_for_cp1251(decomposed), composed) << decomposed;
  }
  std::string out, error;
  ASSERT_TRUE(text_to_cp1251("Мои\u0306 Е\u0308ж", &out, &error)) << error;
  EXPECT_EQ(cp1251_to_utf8(out), "Мой Ёж");
}

TEST(TextConvertTest, NamesEveryCharacterWithoutAWindows1251Form) {
  std::string out = "unchanged", error;
  EXPECT_FALSE(text_to_cp1251("a日b😀c\xff", &out, &error));
  EXPECT_EQ(out, "unchanged");
  for (const char* expected : {"\"日\" (U+65E5) at position 2", "\"😀\" (U+1F600) at position 4",
                               "invalid UTF-8 at character 6"}) {
    EXPECT_NE(error.find(expected), std::string::npos) << expected << " in " << error;
  }
}

}  // namespace

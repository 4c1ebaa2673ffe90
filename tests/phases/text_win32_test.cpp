// The Windows text helpers: code page 1251 whatever the ANSI code page, and
// the prefixed form of paths that lifts the MAX_PATH limit.
#include <gtest/gtest.h>

#include "text_win32.h"

namespace {

TEST(Widen1251, EveryPackageByteHasItsCyrillicMeaning) {
  EXPECT_EQ(widen_1251("\xCF\xF0\xE8\xE2\xE5\xF2"), L"Привет");
  EXPECT_EQ(widen_1251("\xA8\xB8\xB9"), L"Ёё№");
  EXPECT_EQ(widen_1251("plain ASCII"), L"plain ASCII");
  EXPECT_EQ(widen_1251(""), L"");
}

TEST(WidenUtf8, RoundTripsScriptsOutsideEveryAnsiCodePage) {
  const std::string utf8 = "Ωμέγα 中文 обновление.krv";
  EXPECT_EQ(widen_utf8(utf8), L"Ωμέγα 中文 обновление.krv");
  EXPECT_EQ(narrow_utf8(widen_utf8(utf8)), utf8);
}

TEST(ExtendedPath, ResolvesAsThePlainPathAndAddsThePrefix) {
  struct Case {
    const char* what;
    std::wstring path;
    std::wstring expected;
  };
  const Case cases[] = {
      {"drive path", L"C:\\app\\файл.txt", L"\\\\?\\C:\\app\\файл.txt"},
      {"dot-dot and forward slashes", L"C:/app/sub/../файл.txt", L"\\\\?\\C:\\app\\файл.txt"},
      {"network path", L"\\\\server\\share\\файл.txt", L"\\\\?\\UNC\\server\\share\\файл.txt"},
      {"already prefixed", L"\\\\?\\C:\\a\\..\\b", L"\\\\?\\C:\\a\\..\\b"},
      {"empty", L"", L""},
  };
  for (const Case& c : cases) EXPECT_EQ(extended_path(c.path), c.expected) << c.what;

  std::wstring long_path = L"C:\\" + std::wstring(300, L'ж') + L"\\x.txt";
  EXPECT_EQ(extended_path(long_path), L"\\\\?\\" + long_path) << "past MAX_PATH";
}

}  // namespace

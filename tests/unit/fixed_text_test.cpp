// The bounded formatter: the boundary at exactly the capacity, and a buffer
// left as it was when a write does not fit.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fixed_text.h"

namespace {

template <size_t N>
std::string contents(const char (&buffer)[N]) {
  return std::string(buffer, N);
}

template <size_t N>
void fill_with_previous(char (&buffer)[N]) {
  memset(buffer, '#', N);
  memcpy(buffer, "prev", 5);
}

template <size_t N>
void check_format_boundary() {
  SCOPED_TRACE(N);
  char buffer[N];
  const std::string fits(N - 1, 'x');
  const std::string too_long(N, 'x');

  fill_with_previous(buffer);
  ASSERT_TRUE(text_format(buffer, "%s", fits.c_str()));
  EXPECT_EQ(std::string(buffer), fits);

  fill_with_previous(buffer);
  std::string before = contents(buffer);
  EXPECT_FALSE(text_format(buffer, "%s", too_long.c_str()));
  EXPECT_EQ(contents(buffer), before) << "unchanged on failure";

  // The same boundary reached by formatting rather than by one string.
  fill_with_previous(buffer);
  std::string head(N - 3, 'y');
  EXPECT_TRUE(text_format(buffer, "%s%d", head.c_str(), 42));
  EXPECT_EQ(std::string(buffer), head + "42");
  fill_with_previous(buffer);
  EXPECT_FALSE(text_format(buffer, "%s%d", head.c_str(), 420));
  EXPECT_EQ(contents(buffer), before);
}

TEST(FixedText, FormatFitsExactlyCapacityMinusOne) {
  check_format_boundary<8>();
  check_format_boundary<kPathCapacity>();
  check_format_boundary<kCommandCapacity>();
  check_format_boundary<kStatusCapacity>();
}

TEST(FixedText, FormatEdgeCapacities) {
  char one[1] = {'z'};
  EXPECT_TRUE(text_format(one, "%s", ""));
  EXPECT_EQ(one[0], '\0');
  one[0] = 'z';
  EXPECT_FALSE(text_format(one, "%s", "a"));
  EXPECT_EQ(one[0], 'z');
  char some[4] = {'a', 'b', 'c', 'd'};
  EXPECT_FALSE(text_format_n(some, 0, "%s", ""));
  EXPECT_FALSE(text_format_n(nullptr, 10, "%s", ""));
  EXPECT_EQ(std::string(some, 4), "abcd");
  // text_format_n bounds by the capacity given, not by the array.
  EXPECT_FALSE(text_format_n(some, 2, "%s", "ab"));
  EXPECT_EQ(std::string(some, 4), "abcd");
  EXPECT_TRUE(text_format_n(some, 3, "%s", "ab"));
  EXPECT_EQ(std::string(some, 4), std::string("ab\0d", 4));
}

TEST(FixedText, FormatsLikePrintf) {
  char buffer[kPathCapacity];
  ASSERT_TRUE(text_format(buffer, "%s%s", "C:\\Apps\\", "bin\\tool.exe"));
  EXPECT_STREQ(buffer, "C:\\Apps\\bin\\tool.exe");
  ASSERT_TRUE(text_format(buffer, "%s.bak", "C:\\a"));
  EXPECT_STREQ(buffer, "C:\\a.bak");
  ASSERT_TRUE(text_format(buffer, "DUMMY %s", ""));
  EXPECT_STREQ(buffer, "DUMMY ");
  ASSERT_TRUE(text_format(buffer, "\xCE\xE1\xED\xEE\xE2\xEB\xFF\xE5\xEC %s....", "a"));
  EXPECT_STREQ(buffer, "\xCE\xE1\xED\xEE\xE2\xEB\xFF\xE5\xEC a....");
}

TEST(FixedText, AppendBoundary) {
  for (size_t used : {size_t(0), size_t(1), size_t(300)}) {
    SCOPED_TRACE(used);
    char buffer[kPathCapacity];
    memset(buffer, '#', sizeof buffer);
    std::string start(used, 's');
    memcpy(buffer, start.c_str(), used + 1);
    std::string before = contents(buffer);

    std::string too_long(kPathCapacity - used, 't');
    EXPECT_FALSE(text_append(buffer, too_long.c_str()));
    EXPECT_EQ(contents(buffer), before) << "unchanged on failure";

    std::string fits(kPathCapacity - 1 - used, 't');
    EXPECT_TRUE(text_append(buffer, fits.c_str()));
    EXPECT_EQ(std::string(buffer), start + fits);
    EXPECT_EQ(strlen(buffer), kPathCapacity - 1);

    std::string full = contents(buffer);
    EXPECT_FALSE(text_append(buffer, "u"));
    EXPECT_EQ(contents(buffer), full);
    EXPECT_TRUE(text_append(buffer, "")) << "nothing always fits";
  }
}

TEST(FixedText, AppendToBufferWithoutTerminatorFails) {
  char buffer[8];
  memset(buffer, 'x', sizeof buffer);
  EXPECT_FALSE(text_append(buffer, ""));
  EXPECT_EQ(std::string(buffer, 8), "xxxxxxxx");
  EXPECT_FALSE(text_append_n(buffer, 0, ""));
  EXPECT_FALSE(text_append_n(nullptr, 8, ""));
}

TEST(FixedText, AppendsChain) {
  char buffer[16] = "C:\\";
  EXPECT_TRUE(text_append(buffer, "data") && text_append(buffer, "\\") &&
              text_append(buffer, "maps"));
  EXPECT_STREQ(buffer, "C:\\data\\maps");
  EXPECT_FALSE(text_append(buffer, "\\north"));
  EXPECT_STREQ(buffer, "C:\\data\\maps");
  EXPECT_TRUE(text_append(buffer, "\\no"));
  EXPECT_STREQ(buffer, "C:\\data\\maps\\no");
}

}  // namespace

// The run's own formatter: "%s" and "%%", the capacity counted in characters
// of the text's own width, and the output untouched when the text is too long.
TEST(FormatBounded, SubstitutesAndKeepsToTheCapacity) {
  struct Case {
    const char* what;
    std::u16string pattern;
    std::vector<std::u16string> arguments;
    size_t capacity;
    bool fits;
    std::u16string result;
  };
  const Case cases[] = {
      {"two names", u"%s%s", {u"C:\\app\\", u"файл.txt"}, 512, true, u"C:\\app\\файл.txt"},
      {"text around", u"Обновляем файл %s....", {u"a"}, 512, true, u"Обновляем файл a...."},
      {"percent sign", u"100%% %s", {u"x"}, 512, true, u"100% x"},
      {"too few arguments keep the directive", u"%s %s", {u"a"}, 512, true, u"a %s"},
      {"a lone percent at the end", u"a%", {}, 512, true, u"a%"},
      {"exactly capacity - 1 characters", u"%s", {std::u16string(9, u'я')}, 10, true,
       std::u16string(9, u'я')},
      {"capacity characters do not fit", u"%s", {std::u16string(10, u'я')}, 10, false, u"prev"},
      {"pattern alone too long", u"abcdef", {}, 6, false, u"prev"},
      {"zero capacity", u"", {}, 0, false, u"prev"},
  };
  for (const Case& c : cases) {
    std::u16string out = u"prev";
    std::vector<std::u16string_view> views(c.arguments.begin(), c.arguments.end());
    bool fitted = false;
    switch (views.size()) {
      case 0: fitted = format_bounded<char16_t>(&out, c.capacity, c.pattern, {}); break;
      case 1: fitted = format_bounded<char16_t>(&out, c.capacity, c.pattern, {views[0]}); break;
      default:
        fitted = format_bounded<char16_t>(&out, c.capacity, c.pattern, {views[0], views[1]});
    }
    EXPECT_EQ(fitted, c.fits) << c.what;
    EXPECT_TRUE(out == c.result) << c.what;
  }
}

// Lines of the run log: the timestamp, one event per line, UTF-8 kept whole.
#include <gtest/gtest.h>

#include <string>

#include "log_line.h"

namespace {

LogTime sample_time() {
  LogTime t;
  t.year = 2026;
  t.month = 3;
  t.day = 7;
  t.hour = 9;
  t.minute = 5;
  t.second = 4;
  t.millisecond = 42;
  return t;
}

TEST(LogLine, Layout) {
  const struct {
    const char* what;
    std::string text;
    std::string line;
  } cases[] = {
      {"plain text", "start", "2026-03-07 09:05:04.042  start\r\n"},
      {"status text with its breaks",
       "\xD0\x9E\xD1\x88\xD0\xB8\xD0\xB1\xD0\xBA\xD0\xB0!\r\n(C:\\app\\z.txt)\r\n",
       "2026-03-07 09:05:04.042  \xD0\x9E\xD1\x88\xD0\xB8\xD0\xB1\xD0\xBA\xD0\xB0! "
       "(C:\\app\\z.txt)\r\n"},
      {"lone CR and LF, and runs of them", "a\nb\rc\r\n\r\nd", "2026-03-07 09:05:04.042  a b c d\r\n"},
      {"blanks of the text itself stay", "DUMMY ", "2026-03-07 09:05:04.042  DUMMY \r\n"},
      {"empty text", "", "2026-03-07 09:05:04.042  \r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(format_log_line(sample_time(), c.text), c.line);
  }
}

TEST(LogLine, WidestTimestampFits) {
  LogTime t;
  t.year = 9999;
  t.month = 12;
  t.day = 31;
  t.hour = 23;
  t.minute = 59;
  t.second = 59;
  t.millisecond = 999;
  EXPECT_EQ(format_log_line(t, "x"), "9999-12-31 23:59:59.999  x\r\n");
}

}  // namespace

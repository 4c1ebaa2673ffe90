// Formatting a line of the run log.
#include "log_line.h"

#include <cstdio>

std::string format_log_line(const LogTime& time, std::string_view utf8_text) {
  char stamp[32];
  int n = snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u.%03u  ",
                   unsigned{time.year}, unsigned{time.month}, unsigned{time.day},
                   unsigned{time.hour}, unsigned{time.minute}, unsigned{time.second},
                   unsigned{time.millisecond});
  std::string line(stamp, n > 0 && static_cast<size_t>(n) < sizeof stamp ? n : 0);
  // CR and LF never occur inside a UTF-8 sequence, so bytes can be looked at
  // one by one.
  bool in_break = false;
  for (char c : utf8_text) {
    bool is_break = c == '\r' || c == '\n';
    if (is_break && !in_break) line.push_back(' ');
    if (!is_break) line.push_back(c);
    in_break = is_break;
  }
  if (in_break) line.pop_back();  // the blank of a trailing break
  line += "\r\n";
  return line;
}

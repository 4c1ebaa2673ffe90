// One line of the run log: a local timestamp and the text of one event, in
// UTF-8, ended by CR LF, so that the whole line is one write.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct LogTime {
  uint16_t year = 0, month = 0, day = 0;
  uint16_t hour = 0, minute = 0, second = 0, millisecond = 0;
};

// "2026-12-10 14:25:38.123  text\r\n". Line breaks inside the text (status
// texts have them) become single blanks and trailing ones are dropped, so
// that every event stays on one line of the file.
std::string format_log_line(const LogTime& time, std::string_view utf8_text);

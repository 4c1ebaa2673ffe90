// The run log file: lines appended to a file named on the command line.
// Each line is one WriteFile on a handle opened for FILE_APPEND_DATA, so the
// lines of runs that share a log are never torn or overwritten. A log that
// cannot be opened or written is given up without a word: it never stops
// the update.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

class RunLog {
 public:
  RunLog() = default;
  RunLog(const RunLog&) = delete;
  RunLog& operator=(const RunLog&) = delete;
  ~RunLog();

  // Opens `path` for appending, creating the file and its missing folders.
  // False (and a closed log) when it cannot be opened.
  bool open(const std::wstring& path);
  bool is_open() const { return file_ != INVALID_HANDLE_VALUE; }

  // One line with the local time; the text is UTF-16 or already UTF-8.
  void write(std::wstring_view text);
  void write_utf8(std::string_view text);

 private:
  HANDLE file_ = INVALID_HANDLE_VALUE;
};

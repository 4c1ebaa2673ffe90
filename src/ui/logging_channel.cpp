// Writing what passes through the run's channel to the run log.
#include "logging_channel.h"

#include <windows.h>

#include "log_texts.h"
#include "run_rules.h"

std::wstring windows_error_message(uint32_t error) {
  const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  wchar_t buffer[512];
  // English reads the same in every administrator's log; a system without
  // English messages gives its own language.
  DWORD length = FormatMessageW(flags, nullptr, error, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                buffer, 512, nullptr);
  if (length == 0) length = FormatMessageW(flags, nullptr, error, 0, buffer, 512, nullptr);
  std::wstring message(buffer, length);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                              message.back() == L' ' || message.back() == L'.')) {
    message.pop_back();
  }
  return message;
}

void LoggingChannel::show_status(std::wstring_view text) {
  log_.write(status_log_text(text));
  inner_.show_status(text);
}

bool LoggingChannel::ask(Question question, std::wstring_view caption, std::wstring_view text) {
  bool ok = inner_.ask(question, caption, text);
  bool automatic = automatic_answer(switches_, question) != AutoAnswer::kAskTheUser;
  log_.write(question_log_text(caption, text, ok, automatic));
  return ok;
}

void LoggingChannel::show_commands_failed(std::wstring_view caption, std::wstring_view text) {
  inner_.show_commands_failed(caption, text);
  log_.write(commands_box_log_text(text, !switches_.unattended()));
}

void LoggingChannel::report(const RunEvent& event) {
  std::wstring text = event_log_text(event, event.error != 0 ? windows_error_message(event.error)
                                                              : std::wstring());
  if (!text.empty()) log_.write(text);
  inner_.report(event);
}

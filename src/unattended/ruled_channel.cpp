// Answering by the switches' rules, showing what is left to show.
#include "ruled_channel.h"

void RuledChannel::show_status(std::wstring_view text) {
  if (display_ != nullptr) display_->show_status(text);
}

bool RuledChannel::ask(Question question, std::wstring_view caption, std::wstring_view text) {
  switch (automatic_answer(switches_, question)) {
    case AutoAnswer::kOk:
      return true;
    case AutoAnswer::kCancel:
      return false;
    case AutoAnswer::kAskTheUser:
      break;
  }
  // Only an attended run asks, and it always has its window.
  return display_ != nullptr && display_->ask(question, caption, text);
}

void RuledChannel::show_commands_failed(std::wstring_view caption, std::wstring_view text) {
  if (display_ != nullptr && !switches_.unattended()) display_->show_commands_failed(caption, text);
}

void RuledChannel::report(const RunEvent& event) {
  if (display_ != nullptr) display_->report(event);
}

// An unattended run goes on without its window, as a quiet one would; an
// attended run without one could never be answered or ended by its user.
bool RuledChannel::wait_until_present() {
  if (display_ == nullptr) return true;
  return display_->wait_until_present() || switches_.unattended();
}

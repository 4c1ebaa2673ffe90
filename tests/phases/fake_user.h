// A UserChannel that records everything a run shows and reports, and answers
// the questions from a script.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "user_channel.h"

struct AskedQuestion {
  Question question;
  std::wstring caption;
  std::wstring text;
};

struct RecordedEvent {
  RunEventKind kind;
  std::wstring path;
  int64_t value;
  uint32_t error;
};

class FakeUser : public UserChannel {
 public:
  void show_status(std::wstring_view text) override { statuses.emplace_back(text); }
  // An unscripted question is answered Cancel and recorded as unexpected.
  bool ask(Question question, std::wstring_view caption, std::wstring_view text) override;
  void show_commands_failed(std::wstring_view caption, std::wstring_view text) override {
    command_boxes.push_back(AskedQuestion{Question::kPatchLevel, std::wstring(caption),
                                          std::wstring(text)});
  }
  void report(const RunEvent& event) override {
    events.push_back(RecordedEvent{event.kind, std::wstring(event.path), event.value,
                                   event.error});
  }

  // Records what the run had done by the time it waited for its user.
  bool wait_until_present() override {
    presence_waits.push_back(PresenceWait{statuses.size(), asked.size(), events.size()});
    return present;
  }

  std::vector<const RecordedEvent*> events_of(RunEventKind kind) const;
  std::wstring last_status() const { return statuses.empty() ? L"" : statuses.back(); }

  struct PresenceWait {
    size_t statuses, questions, events;
  };

  bool present = true;  // false: no window could be made for the run
  std::vector<PresenceWait> presence_waits;
  std::deque<bool> answers;  // true: OK
  int unexpected_questions = 0;
  std::vector<std::wstring> statuses;
  std::vector<AskedQuestion> asked;
  std::vector<AskedQuestion> command_boxes;
  std::vector<RecordedEvent> events;
};

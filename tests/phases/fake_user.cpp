#include "fake_user.h"

bool FakeUser::ask(Question question, std::wstring_view caption, std::wstring_view text) {
  asked.push_back(AskedQuestion{question, std::wstring(caption), std::wstring(text)});
  if (answers.empty()) {
    ++unexpected_questions;
    return false;
  }
  bool answer = answers.front();
  answers.pop_front();
  return answer;
}

std::vector<const RecordedEvent*> FakeUser::events_of(RunEventKind kind) const {
  std::vector<const RecordedEvent*> found;
  for (const RecordedEvent& event : events) {
    if (event.kind == kind) found.push_back(&event);
  }
  return found;
}

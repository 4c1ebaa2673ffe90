// Recognising the switches of an unattended run among the arguments.
#include "run_switches.h"

#include <cstddef>
#include <string_view>

namespace {

enum class Switch { kNone, kQuiet, kPassive, kForce, kLog };

// Switch names are ASCII: only 'A'..'Z' fold, so no locale is involved and
// a Cyrillic argument never matches by accident.
bool equal_ignoring_ascii_case(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    wchar_t x = a[i] >= L'A' && a[i] <= L'Z' ? a[i] - L'A' + L'a' : a[i];
    wchar_t y = b[i] >= L'A' && b[i] <= L'Z' ? b[i] - L'A' + L'a' : b[i];
    if (x != y) return false;
  }
  return true;
}

Switch switch_of(std::wstring_view argument) {
  static const struct {
    const wchar_t* name;
    Switch kind;
  } kSwitches[] = {{L"/quiet", Switch::kQuiet},
                   {L"/passive", Switch::kPassive},
                   {L"/force", Switch::kForce},
                   {L"/log", Switch::kLog}};
  for (const auto& entry : kSwitches) {
    if (equal_ignoring_ascii_case(argument, entry.name)) return entry.kind;
  }
  return Switch::kNone;
}

}  // namespace

RunSwitches take_run_switches(std::vector<std::wstring>* arguments) {
  RunSwitches switches;
  std::vector<std::wstring> kept;
  for (size_t i = 0; i < arguments->size(); ++i) {
    std::wstring& argument = (*arguments)[i];
    Switch kind = i == 0 ? Switch::kNone : switch_of(argument);
    switch (kind) {
      case Switch::kNone:
        kept.push_back(std::move(argument));
        break;
      case Switch::kQuiet:
        switches.quiet = true;
        break;
      case Switch::kPassive:
        switches.passive = true;
        break;
      case Switch::kForce:
        switches.force = true;
        break;
      case Switch::kLog: {
        bool has_path = i + 1 < arguments->size() &&
                        switch_of((*arguments)[i + 1]) == Switch::kNone;
        switches.log_path = has_path ? std::move((*arguments)[++i]) : std::wstring();
        break;
      }
    }
  }
  *arguments = std::move(kept);
  return switches;
}

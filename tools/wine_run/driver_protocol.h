// The wire between driver.exe (Windows side) and the harness (Linux side):
// every text travels as hex of its bytes, and the driver reports one
// "key=value" line per fact. Both sides include this header, so a key or
// the hex form cannot drift apart.
#pragma once

#include <string>

namespace driver_protocol {

inline std::string hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

// False for an odd length or a character that is not a hex digit.
inline bool unhex(const std::string& text, std::string* bytes) {
  auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  bytes->clear();
  if (text.size() % 2 != 0) return false;
  for (size_t i = 0; i < text.size(); i += 2) {
    int high = digit(text[i]), low = digit(text[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes->push_back(static_cast<char>(high * 16 + low));
  }
  return true;
}

// How the test expects the run to end (--expect).
namespace expect {
constexpr char kWaitsForOk[] = "waits_for_ok";
constexpr char kClosesByItself[] = "closes_by_itself";
}  // namespace expect

// Output keys. A prefix ends in "." and is followed by a snapshot field, or
// by a number and then a field ("box.0.caption").
namespace key {
constexpr char kDriverRunning[] = "driver_running";  // the driver's first line
constexpr char kStarted[] = "started";
constexpr char kStartAgain[] = "start_again";  // CreateProcess lost the child; tried again
constexpr char kError[] = "error";
constexpr char kTimeout[] = "timeout";        // a condition was not reached: what
constexpr char kWaitedFor[] = "waited_for";   // the condition the timeout ended
constexpr char kFirst[] = "first.";           // first snapshot of the window
constexpr char kFinal[] = "final.";           // last snapshot of the window alive
constexpr char kSeen[] = "seen.";             // seen.N.<snapshot>: every change
constexpr char kBox[] = "box.";               // box.N.<field>
constexpr char kStray[] = "stray.";           // stray.N.<field>: other windows
constexpr char kWindowRect[] = "window_rect";
constexpr char kScreen[] = "screen";
constexpr char kScreenshot[] = "screenshot";
constexpr char kClose[] = "close.";           // close.<method> = stayed|closed
constexpr char kCaptionButtonFound[] = "close.caption_button_found";
constexpr char kWaitedForOk[] = "waited_for_ok";
constexpr char kClosedByItself[] = "closed_by_itself";
constexpr char kEndedAfterOk[] = "ended_after_ok";
constexpr char kOkPresses[] = "ok_presses";
constexpr char kTerminated[] = "terminated";
constexpr char kExitCode[] = "exit_code";
constexpr char kReg[] = "reg.";               // reg.N.<field>

// Fields of a snapshot of the progress window.
constexpr char kStatus[] = "status";
constexpr char kStatus2[] = "status2";
constexpr char kButtonVisible[] = "button_visible";
constexpr char kButtonText[] = "button_text";

// Fields of a message box.
constexpr char kCaption[] = "caption";
constexpr char kText[] = "text";
constexpr char kIcon[] = "icon";
constexpr char kButtons[] = "buttons";
constexpr char kOwnedByWindow[] = "owned_by_window";
constexpr char kMain[] = "main.";  // the progress window while the box was open
constexpr char kUnexpected[] = "unexpected";
constexpr char kAnswer[] = "answer";
constexpr char kClosed[] = "closed";  // the box went away after the answer

// Fields of a stray window and of a registry read.
constexpr char kClass[] = "class";
constexpr char kOwner[] = "owner";
constexpr char kFound[] = "found";
constexpr char kType[] = "type";
constexpr char kData[] = "data";
}  // namespace key

// The ways of closing the window that --try-close tries, in order.
constexpr const char* kCloseMethods[] = {"enter",       "escape",  "caption_button",
                                         "system_menu", "alt_f4", "wm_close"};

}  // namespace driver_protocol

// driver.exe: runs PATCH.EXE and uses its window as a person would, for the
// end-to-end tests and the demo. Runs under Wine (or Windows) as a console
// program.
//
// Every text argument is hex of its bytes (the Windows-1251 bytes the
// program sees); every text in the output is hex too, so nothing is lost to
// code-page conversions. Texts of windows are read as UTF-16 and converted
// to code page 1251, so ANSI and Unicode windows read alike. Options,
// applied in this order:
//
//   --reg-view 32|64                 registry view for the steps below (32)
//   --reg-delete-key KEY             delete KEY below HKLM with its subkeys
//   --reg-create KEY                 create KEY below HKLM
//   --reg-set KEY NAME TYPE DATA     TYPE: sz, expand_sz, dword (DATA decimal
//                                    or -N), binary; sz data without its NUL
//   --reg-delete-value KEY NAME
//   --hold FILE                      keep FILE open without sharing
//   --exe PATH --cwd DIR --command-line TEXT    what to start (all hex)
//   --answer ok|cancel|close         answers for message boxes, in order
//   --expect waits_for_ok|closes_by_itself      how the run should end;
//                                    without it: as waits_for_ok
//   --try-close                      at the end: Enter, Esc, the caption
//                                    button, system menu Close, Alt+F4 and
//                                    WM_CLOSE, in turn
//   --close-with METHOD              one of those (enter, escape,
//                                    caption_button, system_menu, alt_f4,
//                                    wm_close); repeatable
//   --screenshot FILE.bmp            the final window, 24-bit BMP
//   --no-ok                          do not press OK; end the process
//   --timeout MS                     deadline of each awaited condition
//                                    (default 30000)
//   --reg-read KEY NAME              read back after the run (repeatable)
//
// Nothing is decided from elapsed time: every wait is polling for a
// condition with a deadline, and a deadline that passes is reported as a
// timeout naming the condition. Output on stdout, one "key=value" line
// each; the keys are listed in driver_protocol.h.
#include <windows.h>
#include <tlhelp32.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "driver_protocol.h"
#include "lost_start.h"

namespace {

struct RegStep {
  std::string kind;
  std::string key, name, type, data;
};

RegStep make_step(const std::string& kind, const std::string& key, const std::string& name) {
  RegStep step;
  step.kind = kind;
  step.key = key;
  step.name = name;
  return step;
}

struct Options {
  REGSAM view = KEY_WOW64_32KEY;
  std::vector<RegStep> setup;
  std::vector<RegStep> reads;
  std::vector<std::string> holds;
  std::string exe, cwd, command_line;
  std::vector<std::string> answers;
  std::vector<std::string> close_methods;
  bool press_ok = true;
  std::string screenshot;
  DWORD timeout_ms = 30000;
  std::string expect;  // empty: as waits_for_ok
};

struct WindowState {
  std::string status, status2, button_text;
  bool button_visible = false;
  bool operator==(const WindowState& o) const {
    return status == o.status && status2 == o.status2 && button_text == o.button_text &&
           button_visible == o.button_visible;
  }
  bool operator!=(const WindowState& o) const { return !(*this == o); }
};

using driver_protocol::hex;
namespace key = driver_protocol::key;

void emit(const std::string& key, const std::string& value) {
  printf("%s=%s\n", key.c_str(), value.c_str());
  fflush(stdout);
}

[[noreturn]] void fail(const std::string& why) {
  emit(key::kError, why);
  exit(2);
}

std::string need_hex(int argc, char** argv, int* i) {
  if (*i + 1 >= argc) fail(std::string("missing value after ") + argv[*i]);
  std::string bytes;
  if (!driver_protocol::unhex(argv[++*i], &bytes)) fail(std::string("not hex: ") + argv[*i]);
  return bytes;
}

Options parse_options(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto plain = [&]() -> std::string {
      if (i + 1 >= argc) fail("missing value after " + a);
      return argv[++i];
    };
    if (a == "--reg-view") o.view = plain() == "64" ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
    else if (a == "--reg-delete-key") o.setup.push_back(make_step("delete_key", need_hex(argc, argv, &i), ""));
    else if (a == "--reg-create") o.setup.push_back(make_step("create", need_hex(argc, argv, &i), ""));
    else if (a == "--reg-set") {
      std::string key = need_hex(argc, argv, &i);
      RegStep s = make_step("set", key, need_hex(argc, argv, &i));
      s.type = plain();
      s.data = need_hex(argc, argv, &i);
      o.setup.push_back(s);
    } else if (a == "--reg-delete-value") {
      std::string key = need_hex(argc, argv, &i);
      o.setup.push_back(make_step("delete_value", key, need_hex(argc, argv, &i)));
    } else if (a == "--reg-read") {
      std::string key = need_hex(argc, argv, &i);
      o.reads.push_back(make_step("read", key, need_hex(argc, argv, &i)));
    } else if (a == "--hold") o.holds.push_back(need_hex(argc, argv, &i));
    else if (a == "--exe") o.exe = need_hex(argc, argv, &i);
    else if (a == "--cwd") o.cwd = need_hex(argc, argv, &i);
    else if (a == "--command-line") o.command_line = need_hex(argc, argv, &i);
    else if (a == "--answer") o.answers.push_back(plain());
    else if (a == "--expect") o.expect = plain();
    else if (a == "--try-close") {
      o.close_methods.assign(std::begin(driver_protocol::kCloseMethods),
                             std::end(driver_protocol::kCloseMethods));
    } else if (a == "--close-with") o.close_methods.push_back(plain());
    else if (a == "--no-ok") o.press_ok = false;
    else if (a == "--screenshot") o.screenshot = need_hex(argc, argv, &i);
    else if (a == "--timeout") o.timeout_ms = static_cast<DWORD>(atol(plain().c_str()));
    else fail("unknown option " + a);
  }
  if (o.exe.empty()) fail("--exe is required");
  return o;
}

// ---- registry -------------------------------------------------------------

void run_reg_step(const Options& o, const RegStep& s, int index) {
  std::string tag = "setup." + std::to_string(index);
  LONG rc = ERROR_SUCCESS;
  if (s.kind == "create") {
    HKEY key = nullptr;
    rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, s.key.c_str(), 0, nullptr, 0,
                         KEY_ALL_ACCESS | o.view, nullptr, &key, nullptr);
    if (rc == ERROR_SUCCESS) RegCloseKey(key);
  } else if (s.kind == "delete_key") {
    HKEY key = nullptr;
    rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, s.key.c_str(), 0, KEY_ALL_ACCESS | o.view, &key);
    if (rc == ERROR_SUCCESS) {
      RegDeleteTreeA(key, nullptr);
      RegCloseKey(key);
      rc = RegDeleteKeyExA(HKEY_LOCAL_MACHINE, s.key.c_str(), o.view, 0);
    }
    if (rc == ERROR_FILE_NOT_FOUND) rc = ERROR_SUCCESS;  // already absent
  } else {
    HKEY key = nullptr;
    rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, s.key.c_str(), 0, KEY_ALL_ACCESS | o.view, &key);
    if (rc == ERROR_SUCCESS && s.kind == "delete_value") {
      rc = RegDeleteValueA(key, s.name.c_str());
    } else if (rc == ERROR_SUCCESS) {
      std::string data = s.data;
      DWORD type = REG_BINARY;
      if (s.type == "sz" || s.type == "expand_sz") {
        type = s.type == "sz" ? REG_SZ : REG_EXPAND_SZ;
        data.push_back('\0');
      } else if (s.type == "dword") {
        type = REG_DWORD;
        uint32_t v = static_cast<uint32_t>(strtoll(data.c_str(), nullptr, 10));
        data.assign(reinterpret_cast<const char*>(&v), 4);
      }
      rc = RegSetValueExA(key, s.name.c_str(), 0, type,
                          reinterpret_cast<const BYTE*>(data.data()),
                          static_cast<DWORD>(data.size()));
    }
    if (key != nullptr) RegCloseKey(key);
  }
  if (rc != ERROR_SUCCESS) fail(tag + " " + s.kind + " failed with " + std::to_string(rc));
}

void read_back(const Options& o, const RegStep& s, int index) {
  std::string tag = key::kReg + std::to_string(index) + ".";
  HKEY key = nullptr;
  LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, s.key.c_str(), 0, KEY_QUERY_VALUE | o.view, &key);
  DWORD type = 0;
  std::vector<BYTE> data(65536);
  DWORD size = static_cast<DWORD>(data.size());
  if (rc == ERROR_SUCCESS) rc = RegQueryValueExA(key, s.name.c_str(), nullptr, &type, data.data(), &size);
  if (key != nullptr) RegCloseKey(key);
  emit(tag + key::kFound, rc == ERROR_SUCCESS ? "1" : "0");
  if (rc != ERROR_SUCCESS) return;
  emit(tag + key::kType, std::to_string(type));
  emit(tag + key::kData, hex(std::string(reinterpret_cast<const char*>(data.data()), size)));
}

// ---- waiting -----------------------------------------------------------------

// A deadline for one awaited condition.
class Deadline {
 public:
  explicit Deadline(DWORD ms) : start_(GetTickCount()), ms_(ms) {}
  bool passed() const { return GetTickCount() - start_ >= ms_; }
  void restart() { start_ = GetTickCount(); }

 private:
  DWORD start_;
  DWORD ms_;
};

bool has_ended(HANDLE process) { return WaitForSingleObject(process, 0) == WAIT_OBJECT_0; }

// The pause between two looks at a condition; ends early when the process does.
void poll_pause(HANDLE process) { WaitForSingleObject(process, 15); }

void report_timeout(const std::string& condition) {
  emit(key::kTimeout, "1");
  emit(key::kWaitedFor, condition);
}

// ---- reading windows of another process ------------------------------------

constexpr UINT kSendTimeoutMs = 5000;

// The window's text as code page 1251 bytes. False when the window did not
// answer (gone, or busy beyond the timeout): never an empty text instead.
bool read_text(HWND window, std::string* text) {
  std::vector<wchar_t> buffer(70000);
  DWORD_PTR copied = 0;
  SetLastError(0);
  if (!IsWindow(window) ||
      SendMessageTimeoutW(window, WM_GETTEXT, buffer.size(),
                          reinterpret_cast<LPARAM>(buffer.data()), SMTO_NORMAL, kSendTimeoutMs,
                          &copied) == 0) {
    return false;
  }
  int length = static_cast<int>(copied < buffer.size() ? copied : buffer.size() - 1);
  text->clear();
  if (length == 0) return true;
  int bytes = WideCharToMultiByte(1251, 0, buffer.data(), length, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return false;
  text->resize(static_cast<size_t>(bytes));
  WideCharToMultiByte(1251, 0, buffer.data(), length, &(*text)[0], bytes, nullptr, nullptr);
  return true;
}

bool has_style(HWND window, LONG style) {
  return (GetWindowLongW(window, GWL_STYLE) & style) != 0;
}

std::string class_of(HWND window) {
  wchar_t name[128] = {};
  int n = GetClassNameW(window, name, 128);
  std::string out;
  for (int i = 0; i < n; ++i) out += name[i] < 128 ? static_cast<char>(name[i]) : '?';
  return out;
}

// A snapshot of the progress window, valid only if the window existed before
// and after it and every text was read. The button first: the program
// changes it last, so texts read after it are at least as new.
bool take_snapshot(HWND main, WindowState* s) {
  if (!IsWindow(main)) return false;
  HWND button = GetDlgItem(main, IDOK);
  HWND status = GetDlgItem(main, 1000);
  HWND status2 = GetDlgItem(main, 1001);
  if (button == nullptr || status == nullptr || status2 == nullptr) return false;
  WindowState read;
  read.button_visible = has_style(button, WS_VISIBLE);
  bool ok = read_text(button, &read.button_text) && read_text(status, &read.status) &&
            read_text(status2, &read.status2);
  if (!ok || !IsWindow(main) || !IsWindow(button)) return false;
  *s = read;
  return true;
}

void emit_state(const std::string& prefix, const WindowState& s) {
  emit(prefix + key::kStatus, hex(s.status));
  emit(prefix + key::kStatus2, hex(s.status2));
  emit(prefix + key::kButtonVisible, s.button_visible ? "1" : "0");
  emit(prefix + key::kButtonText, hex(s.button_text));
}

// ---- windows of the process ---------------------------------------------

struct Found {
  DWORD pid;
  HWND known_main;
  HWND main = nullptr;
  std::vector<HWND> boxes;   // visible dialogs owned by the progress window
  std::vector<HWND> others;  // any other visible window of the process
};

bool is_progress_window(HWND window) {
  return GetDlgItem(window, 1000) != nullptr && GetDlgItem(window, 1001) != nullptr &&
         GetDlgItem(window, IDOK) != nullptr;
}

BOOL CALLBACK collect_window(HWND window, LPARAM param) {
  Found* found = reinterpret_cast<Found*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid != found->pid || !IsWindowVisible(window)) return TRUE;
  if (found->main == nullptr && is_progress_window(window)) {
    found->main = window;
  } else {
    found->others.push_back(window);
  }
  return TRUE;
}

Found find_windows(DWORD pid, HWND known_main) {
  Found found{pid, known_main, nullptr, {}, {}};
  EnumWindows(collect_window, reinterpret_cast<LPARAM>(&found));
  if (known_main != nullptr && IsWindow(known_main)) found.main = known_main;
  std::vector<HWND> others;
  for (HWND w : found.others) {
    if (w == found.main) continue;
    bool box = found.main != nullptr && class_of(w) == "#32770" &&
               GetWindow(w, GW_OWNER) == found.main;
    (box ? found.boxes : others).push_back(w);
  }
  found.others = others;
  return found;
}

// Threads of the process other than the one that owns its window: the
// worker, which publishes how the run ends right before it ends.
int other_threads(DWORD pid, DWORD window_thread) {
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snap == INVALID_HANDLE_VALUE) return -1;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  int count = 0;
  for (BOOL more = Thread32First(snap, &entry); more; more = Thread32Next(snap, &entry)) {
    if (entry.th32OwnerProcessID != pid || entry.th32ThreadID == window_thread) continue;
    // A thread that has ended may still be listed while handles to it remain.
    HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, entry.th32ThreadID);
    bool ended = thread != nullptr && WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
    if (thread != nullptr) CloseHandle(thread);
    if (!ended) ++count;
  }
  CloseHandle(snap);
  return count;
}

// ---- message boxes --------------------------------------------------------

// True when nothing covers the control on the screen: its corners and its
// middle are its own, or its box's (a static control lets the pointer
// through to its parent).
bool shows_on_screen(HWND control) {
  HWND parent = GetParent(control);
  RECT r{};
  if (!GetWindowRect(control, &r) || r.right <= r.left || r.bottom <= r.top) return false;
  const POINT points[] = {{r.left, r.top},
                          {r.right - 1, r.top},
                          {r.left, r.bottom - 1},
                          {r.right - 1, r.bottom - 1},
                          {(r.left + r.right) / 2, (r.top + r.bottom) / 2}};
  for (POINT p : points) {
    HWND at = WindowFromPoint(p);
    if (at != control && at != parent) return false;
  }
  return true;
}

// Puts the box above every other window, as a person clicking on it would:
// another program's window started later may cover it, and its icon is
// recognised from the screen.
void uncover(HWND box) {
  SetWindowPos(box, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

// 32-bit pixels of a w x h area: from the screen, or an icon drawn over a
// background colour.
std::vector<uint32_t> pixels_of(HDC source, int x, int y, int w, int h, HICON icon,
                                COLORREF background) {
  std::vector<uint32_t> out(static_cast<size_t>(w) * h);
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = w;
  info.bmiHeader.biHeight = -h;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  if (source != nullptr) {
    BitBlt(memory, 0, 0, w, h, source, x, y, SRCCOPY);
  } else {
    RECT all{0, 0, w, h};
    HBRUSH brush = CreateSolidBrush(background);
    FillRect(memory, &all, brush);
    DeleteObject(brush);
    DrawIconEx(memory, 0, 0, icon, 0, 0, 0, nullptr, DI_NORMAL);
  }
  GdiFlush();
  if (bits != nullptr) memcpy(out.data(), bits, out.size() * 4);
  for (uint32_t& p : out) p &= 0xFFFFFF;
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return out;
}

// Icon handles belong to the process that loaded them, so the box's icon is
// recognised by its picture: the control as shown on the screen against each
// standard icon drawn here. Only the icon's opaque pixels (the same over
// black and over white) are compared. "other" also while it is not painted.
std::string icon_kind(HWND icon_control) {
  if (icon_control == nullptr) return "none";
  RECT r{};
  GetWindowRect(icon_control, &r);
  int w = r.right - r.left, h = r.bottom - r.top;
  if (w <= 0 || h <= 0 || w > 256 || h > 256) return "other";
  HDC screen = GetDC(nullptr);
  std::vector<uint32_t> shown = pixels_of(screen, r.left, r.top, w, h, nullptr, 0);
  ReleaseDC(nullptr, screen);
  const std::pair<const char*, WORD> kStandard[] = {{"information", 32516},  // IDI_INFORMATION
                                                    {"exclamation", 32515},  // IDI_EXCLAMATION
                                                    {"question", 32514},     // IDI_QUESTION
                                                    {"error", 32513}};       // IDI_HAND
  for (const auto& [name, id] : kStandard) {
    HICON icon = LoadIconW(nullptr, MAKEINTRESOURCEW(id));
    std::vector<uint32_t> on_black = pixels_of(nullptr, 0, 0, w, h, icon, RGB(0, 0, 0));
    std::vector<uint32_t> on_white = pixels_of(nullptr, 0, 0, w, h, icon, RGB(255, 255, 255));
    size_t opaque = 0, differ = 0;
    for (size_t i = 0; i < shown.size(); ++i) {
      if (on_black[i] != on_white[i]) continue;
      ++opaque;
      if (on_black[i] != shown[i]) ++differ;
    }
    if (opaque > shown.size() / 4 && differ * 50 <= opaque) return name;
  }
  return "other";
}

struct BoxParts {
  bool ok = true;  // every text was read
  std::string text;
  HWND icon = nullptr;  // the static control that shows the icon
  std::string buttons;
};

BOOL CALLBACK collect_part(HWND child, LPARAM param) {
  BoxParts* parts = reinterpret_cast<BoxParts*>(param);
  std::string cls = class_of(child);
  LONG style = GetWindowLongW(child, GWL_STYLE);
  if ((style & WS_VISIBLE) == 0) return TRUE;
  if (lstrcmpiA(cls.c_str(), "Static") == 0) {
    if ((style & SS_TYPEMASK) == SS_ICON) {
      parts->icon = child;
    } else {
      std::string t;
      parts->ok = read_text(child, &t) && parts->ok;
      if (!t.empty()) parts->text = t;
    }
  } else if (lstrcmpiA(cls.c_str(), "Button") == 0) {
    static const char* const kNames[] = {"", "ok", "cancel", "abort", "retry", "ignore", "yes", "no"};
    int id = GetDlgCtrlID(child);
    std::string name = id >= 1 && id <= 7 ? kNames[id] : std::to_string(id);
    parts->buttons += parts->buttons.empty() ? name : "," + name;
  }
  return TRUE;
}

void answer_box(HWND box, const std::string& answer) {
  if (answer == "ok") {
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  } else if (answer == "cancel") {
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  } else {
    PostMessageW(box, WM_SYSCOMMAND, SC_CLOSE, 0);
  }
}

// Reads a box (visible, so laid out), answers it and waits until it has
// gone. Every read is repeated until it succeeds or its deadline passes.
// False when a deadline passed.
bool handle_box(HWND box, HWND main, HANDLE process, const Options& o, int index) {
  std::string tag = key::kBox + std::to_string(index) + ".";
  BoxParts parts;
  std::string caption;
  Deadline read_deadline(o.timeout_ms);
  for (;;) {
    parts = BoxParts{};
    EnumChildWindows(box, collect_part, reinterpret_cast<LPARAM>(&parts));
    if (parts.ok && read_text(box, &caption)) break;
    if (read_deadline.passed() || has_ended(process)) {
      report_timeout("the texts of message box " + std::to_string(index));
      return false;
    }
    poll_pause(process);
  }
  emit(tag + key::kCaption, hex(caption));
  emit(tag + key::kText, hex(parts.text));
  // The icon is recognised once the box has painted it.
  Deadline icon_deadline(o.timeout_ms);
  std::string icon = icon_kind(parts.icon);
  while (icon == "other" && !icon_deadline.passed() && !has_ended(process)) {
    if (parts.icon != nullptr && !shows_on_screen(parts.icon)) uncover(box);
    poll_pause(process);
    icon = icon_kind(parts.icon);
  }
  emit(tag + key::kIcon, icon);
  emit(tag + key::kButtons, parts.buttons);
  emit(tag + key::kOwnedByWindow, GetWindow(box, GW_OWNER) == main ? "1" : "0");
  WindowState state;
  Deadline state_deadline(o.timeout_ms);
  while (!take_snapshot(main, &state)) {
    if (state_deadline.passed() || has_ended(process)) {
      report_timeout("the progress window behind message box " + std::to_string(index));
      return false;
    }
    poll_pause(process);
  }
  emit_state(tag + key::kMain, state);
  std::string answer = static_cast<size_t>(index) < o.answers.size() ? o.answers[index] : "";
  if (answer.empty()) {
    emit(tag + key::kUnexpected, "1");
    answer = "cancel";
  }
  emit(tag + key::kAnswer, answer);
  answer_box(box, answer);
  Deadline gone_deadline(o.timeout_ms);
  while (IsWindow(box) && IsWindowVisible(box)) {
    if (gone_deadline.passed()) {
      report_timeout("message box " + std::to_string(index) + " to close after its answer");
      return false;
    }
    poll_pause(process);
  }
  emit(tag + key::kClosed, "1");
  return true;
}

// ---- the final window ------------------------------------------------------

void send_keys(const std::vector<std::pair<WORD, bool>>& keys) {
  std::vector<INPUT> inputs;
  for (auto [vk, up] : keys) {
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    inputs.push_back(in);
  }
  SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

void click_at(int x, int y) {
  SetCursorPos(x, y);
  INPUT in[2] = {};
  in[0].type = in[1].type = INPUT_MOUSE;
  in[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
  in[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
  SendInput(2, in, sizeof(INPUT));
}

// Finds the caption's close button by asking the window where it is.
bool caption_close_point(HWND main, POINT* point) {
  RECT r{};
  GetWindowRect(main, &r);
  for (int y = r.top + 1; y < r.top + 40; y += 2) {
    for (int x = r.right - 2; x > r.right - 60; x -= 2) {
      DWORD_PTR hit = 0;
      SendMessageTimeoutW(main, WM_NCHITTEST, 0, MAKELPARAM(x, y), SMTO_NORMAL, kSendTimeoutMs,
                          &hit);
      if (hit == HTCLOSE) {
        *point = {x - 3, y + 3};
        SendMessageTimeoutW(main, WM_NCHITTEST, 0, MAKELPARAM(point->x, point->y), SMTO_NORMAL,
                            kSendTimeoutMs, &hit);
        return hit == HTCLOSE;
      }
    }
  }
  return false;
}

// Evidence that the window has handled what was queued for it: a marker
// posted behind it (the OK button's pushed look, set and then cleared) is
// seen to take effect, twice, so that what handling the first input posted
// in turn has been handled too.
bool settle(HWND main, HANDLE process, const Options& o) {
  HWND button = GetDlgItem(main, IDOK);
  for (WPARAM pushed : {TRUE, FALSE}) {
    if (!PostMessageW(button, BM_SETSTATE, pushed, 0)) return false;
    Deadline deadline(o.timeout_ms);
    for (;;) {
      DWORD_PTR state = 0;
      if (SendMessageTimeoutW(button, BM_GETSTATE, 0, 0, SMTO_NORMAL, kSendTimeoutMs, &state) &&
          ((state & BST_PUSHED) != 0) == (pushed != FALSE)) {
        break;
      }
      if (!IsWindow(main) || has_ended(process)) return false;
      if (deadline.passed()) {
        report_timeout("the window to handle a close attempt");
        return false;
      }
      poll_pause(process);
    }
  }
  return true;
}

// One way of closing the window as a person would; "stayed" or "closed".
std::string close_with(const std::string& method, HANDLE process, HWND main, const Options& o) {
  SetForegroundWindow(main);
  if (method == "caption_button") {
    POINT p{};
    bool found = caption_close_point(main, &p);
    emit(key::kCaptionButtonFound, found ? "1" : "0");
    if (found) click_at(p.x, p.y);
  } else if (method == "system_menu") {
    // What choosing Close in the system menu sends.
    PostMessageW(main, WM_SYSCOMMAND, SC_CLOSE, 0);
  } else if (method == "alt_f4") {
    send_keys({{VK_MENU, false}, {VK_F4, false}, {VK_F4, true}, {VK_MENU, true}});
  } else if (method == "enter" || method == "escape") {
    // Through a dialog manager these would press OK or cancel the dialog.
    WORD k = method == "enter" ? VK_RETURN : VK_ESCAPE;
    send_keys({{k, false}, {k, true}});
  } else {
    PostMessageW(main, WM_CLOSE, 0, 0);
  }
  bool settled = settle(main, process, o);
  return settled && IsWindow(main) && !has_ended(process) ? "stayed" : "closed";
}

void try_close(const std::vector<std::string>& methods, HANDLE process, HWND main,
               const Options& o) {
  for (const std::string& method : methods) {
    if (!IsWindow(main)) return;
    emit(key::kClose + method, close_with(method, process, main, o));
  }
}

bool save_screenshot(HWND main, const std::string& path) {
  RECT r{};
  GetWindowRect(main, &r);
  int w = r.right - r.left, h = r.bottom - r.top;
  if (w <= 0 || h <= 0) return false;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
  SelectObject(memory, old);
  BITMAPINFOHEADER info{};
  info.biSize = sizeof info;
  info.biWidth = w;
  info.biHeight = h;
  info.biPlanes = 1;
  info.biBitCount = 24;
  DWORD row = (static_cast<DWORD>(w) * 3 + 3) & ~3u;
  std::vector<char> pixels(row * h);
  GetDIBits(memory, bitmap, 0, h, pixels.data(), reinterpret_cast<BITMAPINFO*>(&info),
            DIB_RGB_COLORS);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof info;
  file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
  FILE* out = fopen(path.c_str(), "wb");
  if (out == nullptr) return false;
  fwrite(&file, sizeof file, 1, out);
  fwrite(&info, sizeof info, 1, out);
  fwrite(pixels.data(), 1, pixels.size(), out);
  return fclose(out) == 0;
}

void report_geometry(HWND main) {
  RECT r{};
  GetWindowRect(main, &r);
  emit(key::kWindowRect, std::to_string(r.left) + "," + std::to_string(r.top) + "," +
                             std::to_string(r.right) + "," + std::to_string(r.bottom));
  emit(key::kScreen, std::to_string(GetSystemMetrics(SM_CXSCREEN)) + "," +
                         std::to_string(GetSystemMetrics(SM_CYSCREEN)));
}

// ---- the run ---------------------------------------------------------------

bool is_final(const WindowState& s) {
  return s.button_visible && s.button_text == "OK";
}

// What the driver saw of the window: the last valid snapshot, the first, and
// each change in between (reported as seen.N.*).
struct Observed {
  HWND main = nullptr;
  bool any = false;
  WindowState last;
  int changes = 0;

  // True when the snapshot differs from the one before.
  bool record(const WindowState& s) {
    if (any && s == last) return false;
    if (!any) {
      emit_state(key::kFirst, s);
      report_geometry(main);
    }
    if (changes < 200) emit_state(key::kSeen + std::to_string(changes) + ".", s);
    ++changes;
    any = true;
    last = s;
    return true;
  }
};

void report_strays(const std::vector<HWND>& windows, std::vector<HWND>* reported) {
  for (HWND w : windows) {
    bool seen = false;
    for (HWND r : *reported) seen = seen || r == w;
    if (seen) continue;
    std::string tag = key::kStray + std::to_string(reported->size()) + ".";
    reported->push_back(w);
    std::string text;
    read_text(w, &text);
    emit(tag + key::kClass, class_of(w));
    emit(tag + key::kCaption, hex(text));
    emit(tag + key::kOwner, GetWindow(w, GW_OWNER) == nullptr ? "none" : "other");
  }
}

enum class Reached { kFinalShown, kProcessEnded, kTimedOut };

// Follows the run, answering its boxes, until its window shows the button
// "OK" with no box open, or the process ends. The deadline counts from the
// last change seen, so a long run that keeps moving is not cut short.
Reached follow_run(const Options& o, HANDLE process, DWORD pid, Observed* seen) {
  Deadline deadline(o.timeout_ms);
  int boxes = 0;
  std::vector<HWND> answered, strays;
  for (;;) {
    if (has_ended(process)) return Reached::kProcessEnded;
    Found f = find_windows(pid, seen->main);
    if (f.main != nullptr) {
      seen->main = f.main;
      WindowState s;
      if (take_snapshot(f.main, &s) && seen->record(s)) deadline.restart();
    }
    report_strays(f.others, &strays);
    bool box_open = false;
    for (HWND box : f.boxes) {
      bool done = false;
      for (HWND a : answered) done = done || a == box;
      if (done) continue;
      box_open = true;
      answered.push_back(box);
      if (!handle_box(box, f.main, process, o, boxes++)) return Reached::kTimedOut;
      deadline.restart();
    }
    if (!box_open && f.boxes.empty() && seen->any && is_final(seen->last) &&
        IsWindow(seen->main)) {
      return Reached::kFinalShown;
    }
    if (deadline.passed()) {
      report_timeout(seen->main == nullptr ? "the progress window to appear"
                                           : "the window to show OK or the process to end");
      return Reached::kTimedOut;
    }
    poll_pause(process);
  }
}

bool wait_for_end(HANDLE process, const Options& o) {
  Deadline deadline(o.timeout_ms);
  while (!has_ended(process)) {
    if (deadline.passed()) return false;
    poll_pause(process);
  }
  return true;
}

// Evidence that the window waits for OK: the worker has published its end
// (no thread but the window's is left) and the window still answers.
bool waits_for_ok(HANDLE process, DWORD pid, HWND main, const Options& o) {
  DWORD window_thread = GetWindowThreadProcessId(main, nullptr);
  Deadline deadline(o.timeout_ms);
  while (other_threads(pid, window_thread) > 0) {
    if (has_ended(process)) return false;
    if (deadline.passed()) {
      report_timeout("the worker thread to end");
      return false;
    }
    poll_pause(process);
  }
  DWORD_PTR ignored = 0;
  return SendMessageTimeoutW(main, WM_NULL, 0, 0, SMTO_NORMAL, kSendTimeoutMs, &ignored) != 0 &&
         IsWindow(main) && !has_ended(process);
}

// Presses OK until the process ends (a press is repeated only if the one
// before left the process running). Returns the number of presses, or -1.
int press_ok_until_end(HANDLE process, HWND main, const Options& o) {
  Deadline deadline(o.timeout_ms);
  int presses = 0;
  while (!has_ended(process)) {
    if (deadline.passed()) return -1;
    if (IsWindow(main)) {
      PostMessageW(GetDlgItem(main, IDOK), BM_CLICK, 0, 0);
      ++presses;
    }
    Deadline pause(1000);
    while (!has_ended(process) && !pause.passed()) poll_pause(process);
  }
  return presses;
}

void refresh_final(Observed* seen) {
  WindowState s;
  if (take_snapshot(seen->main, &s)) seen->record(s);
}

PROCESS_INFORMATION start_program(const Options& o) {
  std::string command_line = o.command_line.empty() ? "\"" + o.exe + "\"" : o.command_line;
  PROCESS_INFORMATION pi{};
  auto tell_lost = [](DWORD error) { emit(key::kStartAgain, std::to_string(error)); };
  const char* folder = o.cwd.empty() ? nullptr : o.cwd.c_str();
  if (!create_process_again_if_lost(o.exe.c_str(), command_line, 0, folder, &pi, tell_lost)) {
    fail("CreateProcess failed with " + std::to_string(GetLastError()));
  }
  return pi;
}

int run(const Options& o) {
  for (size_t i = 0; i < o.setup.size(); ++i) run_reg_step(o, o.setup[i], static_cast<int>(i));
  std::vector<HANDLE> held;
  for (const std::string& path : o.holds) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) fail("cannot hold " + path);
    held.push_back(h);
  }
  PROCESS_INFORMATION pi = start_program(o);
  emit(key::kStarted, "1");
  Observed seen;
  Reached reached = follow_run(o, pi.hProcess, pi.dwProcessId, &seen);
  bool waited = false, ended_after_ok = false, by_itself = false;
  if (reached == Reached::kProcessEnded) {
    by_itself = true;
  } else if (reached == Reached::kFinalShown &&
             o.expect == driver_protocol::expect::kClosesByItself) {
    // Closing at once is the process ending with nobody pressing anything.
    by_itself = wait_for_end(pi.hProcess, o);
    if (!by_itself) {
      report_timeout("the process to end by itself");
      waited = IsWindow(seen.main);
    }
  } else if (reached == Reached::kFinalShown) {
    waited = waits_for_ok(pi.hProcess, pi.dwProcessId, seen.main, o);
    by_itself = !waited && wait_for_end(pi.hProcess, o);
  }
  if (waited) {
    refresh_final(&seen);
    report_geometry(seen.main);
    if (!o.screenshot.empty()) {
      emit(key::kScreenshot, save_screenshot(seen.main, o.screenshot) ? "1" : "0");
    }
    try_close(o.close_methods, pi.hProcess, seen.main, o);
    if (has_ended(pi.hProcess)) {
      waited = false;  // a close attempt ended it
    } else {
      refresh_final(&seen);
    }
  }
  if (seen.any) emit_state(key::kFinal, seen.last);
  emit(key::kWaitedForOk, waited ? "1" : "0");
  emit(key::kClosedByItself, by_itself ? "1" : "0");
  if (waited && o.press_ok) {
    int presses = press_ok_until_end(pi.hProcess, seen.main, o);
    emit(key::kOkPresses, std::to_string(presses));
    ended_after_ok = presses > 0;
    if (presses < 0) report_timeout("the process to end after OK");
  }
  emit(key::kEndedAfterOk, ended_after_ok ? "1" : "0");
  if (!has_ended(pi.hProcess)) {
    TerminateProcess(pi.hProcess, 259);
    WaitForSingleObject(pi.hProcess, INFINITE);
    emit(key::kTerminated, "1");
  }
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  emit(key::kExitCode, std::to_string(code));
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  for (HANDLE h : held) CloseHandle(h);
  for (size_t i = 0; i < o.reads.size(); ++i) read_back(o, o.reads[i], static_cast<int>(i));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // Before anything else: the harness tells from this line that wine did
  // start the driver.
  emit(key::kDriverRunning, "1");
  Options o = parse_options(argc, argv);
  return run(o);
}

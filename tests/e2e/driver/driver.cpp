// driver.exe: runs PATCH.EXE and uses its window as a person would, for the
// end-to-end tests. Runs under Wine (or Windows) as a console program.
//
// Every text argument is hex of its bytes (the Windows-1251 bytes the
// program sees); every text in the output is hex too, so nothing is lost to
// code-page conversions. Options, applied in this order:
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
//   --try-close                      at the end: Enter, Esc, the caption
//                                    button, system menu Close, Alt+F4 and
//                                    WM_CLOSE, in turn
//   --close-with METHOD              one of those (enter, escape,
//                                    caption_button, system_menu, alt_f4,
//                                    wm_close); repeatable
//   --screenshot FILE.bmp            the final window, 24-bit BMP
//   --no-ok                          do not press OK; end the process
//   --timeout MS                     for the whole run (default 30000)
//   --reg-read KEY NAME              read back after the run (repeatable)
//
// Output on stdout, one "key=value" line each: started, first.*, box.N.*,
// final.*, window_rect, screen, close.*, closed_by_itself, waited_for_ok,
// exit_code, reg.N.*, error.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

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
};

struct WindowState {
  std::string status, status2, button_text;
  bool button_visible = false;
};

std::string hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

bool unhex(const char* text, std::string* bytes) {
  bytes->clear();
  size_t n = strlen(text);
  if (n % 2 != 0) return false;
  for (size_t i = 0; i < n; i += 2) {
    char pair[3] = {text[i], text[i + 1], 0};
    char* end = nullptr;
    long v = strtol(pair, &end, 16);
    if (end != pair + 2) return false;
    bytes->push_back(static_cast<char>(v));
  }
  return true;
}

void emit(const std::string& key, const std::string& value) {
  printf("%s=%s\n", key.c_str(), value.c_str());
  fflush(stdout);
}

[[noreturn]] void fail(const std::string& why) {
  emit("error", why);
  exit(2);
}

std::string need_hex(int argc, char** argv, int* i) {
  if (*i + 1 >= argc) fail(std::string("missing value after ") + argv[*i]);
  std::string bytes;
  if (!unhex(argv[++*i], &bytes)) fail(std::string("not hex: ") + argv[*i]);
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
    else if (a == "--try-close") {
      o.close_methods = {"enter", "escape", "caption_button", "system_menu", "alt_f4",
                         "wm_close"};
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
  std::string tag = "reg." + std::to_string(index) + ".";
  HKEY key = nullptr;
  LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, s.key.c_str(), 0, KEY_QUERY_VALUE | o.view, &key);
  DWORD type = 0;
  std::vector<BYTE> data(65536);
  DWORD size = static_cast<DWORD>(data.size());
  if (rc == ERROR_SUCCESS) rc = RegQueryValueExA(key, s.name.c_str(), nullptr, &type, data.data(), &size);
  if (key != nullptr) RegCloseKey(key);
  emit(tag + "found", rc == ERROR_SUCCESS ? "1" : "0");
  if (rc != ERROR_SUCCESS) return;
  emit(tag + "type", std::to_string(type));
  emit(tag + "data", hex(std::string(reinterpret_cast<const char*>(data.data()), size)));
}

// ---- windows of the process ---------------------------------------------

struct Found {
  DWORD pid;
  HWND main;
  std::vector<HWND> boxes;
};

BOOL CALLBACK collect_window(HWND window, LPARAM param) {
  Found* found = reinterpret_cast<Found*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid != found->pid || !IsWindowVisible(window)) return TRUE;
  if (GetDlgItem(window, 1000) != nullptr && GetDlgItem(window, 1001) != nullptr) {
    found->main = window;
  } else {
    found->boxes.push_back(window);
  }
  return TRUE;
}

Found find_windows(DWORD pid) {
  Found found{pid, nullptr, {}};
  EnumWindows(collect_window, reinterpret_cast<LPARAM>(&found));
  return found;
}

// Texts of windows of another process are read without sending messages,
// so a busy PATCH.EXE cannot block the driver.
std::string text_of(HWND window) {
  std::vector<char> buffer(70000);
  int n = GetWindowTextA(window, buffer.data(), static_cast<int>(buffer.size()));
  return std::string(buffer.data(), n > 0 ? static_cast<size_t>(n) : 0);
}

// The button first: the program changes it last, so texts read after it
// are at least as new.
WindowState observe(HWND main) {
  WindowState s;
  HWND button = GetDlgItem(main, IDOK);
  s.button_visible = (GetWindowLongA(button, GWL_STYLE) & WS_VISIBLE) != 0;
  s.button_text = text_of(button);
  s.status = text_of(GetDlgItem(main, 1000));
  s.status2 = text_of(GetDlgItem(main, 1001));
  return s;
}

void emit_state(const std::string& prefix, const WindowState& s) {
  emit(prefix + "status", hex(s.status));
  emit(prefix + "status2", hex(s.status2));
  emit(prefix + "button_visible", s.button_visible ? "1" : "0");
  emit(prefix + "button_text", hex(s.button_text));
}

// ---- message boxes --------------------------------------------------------

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
// black and over white) are compared.
std::string icon_kind(HWND icon_control) {
  if (icon_control == nullptr) return "none";
  RECT r{};
  GetWindowRect(icon_control, &r);
  int w = r.right - r.left, h = r.bottom - r.top;
  if (w <= 0 || h <= 0 || w > 256 || h > 256) return "other";
  HDC screen = GetDC(nullptr);
  std::vector<uint32_t> shown = pixels_of(screen, r.left, r.top, w, h, nullptr, 0);
  ReleaseDC(nullptr, screen);
  const std::pair<const char*, LPCSTR> kStandard[] = {{"information", IDI_INFORMATION},
                                                      {"exclamation", IDI_EXCLAMATION},
                                                      {"question", IDI_QUESTION},
                                                      {"error", IDI_HAND}};
  for (const auto& [name, id] : kStandard) {
    HICON icon = LoadIconA(nullptr, id);
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
  std::string text;
  HWND icon = nullptr;  // the static control that shows the icon
  std::string buttons;
};

BOOL CALLBACK collect_part(HWND child, LPARAM param) {
  BoxParts* parts = reinterpret_cast<BoxParts*>(param);
  char cls[64] = {};
  GetClassNameA(child, cls, sizeof cls);
  LONG style = GetWindowLongA(child, GWL_STYLE);
  if ((style & WS_VISIBLE) == 0) return TRUE;
  if (lstrcmpiA(cls, "Static") == 0) {
    if ((style & SS_TYPEMASK) == SS_ICON) {
      parts->icon = child;
    } else {
      std::string t = text_of(child);
      if (!t.empty()) parts->text = t;
    }
  } else if (lstrcmpiA(cls, "Button") == 0) {
    static const char* const kNames[] = {"", "ok", "cancel", "abort", "retry", "ignore", "yes", "no"};
    int id = GetDlgCtrlID(child);
    std::string name = id >= 1 && id <= 7 ? kNames[id] : std::to_string(id);
    parts->buttons += parts->buttons.empty() ? name : "," + name;
  }
  return TRUE;
}

void answer_box(HWND box, const std::string& answer) {
  if (answer == "ok") {
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  } else if (answer == "cancel") {
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  } else {
    PostMessageA(box, WM_SYSCOMMAND, SC_CLOSE, 0);
  }
}

void handle_box(HWND box, HWND main, const Options& o, int index) {
  std::string tag = "box." + std::to_string(index) + ".";
  // Give the box a moment to finish laying out its controls.
  Sleep(50);
  BoxParts parts;
  EnumChildWindows(box, collect_part, reinterpret_cast<LPARAM>(&parts));
  emit(tag + "caption", hex(text_of(box)));
  emit(tag + "text", hex(parts.text));
  // The box may not have painted its icon yet.
  std::string icon = icon_kind(parts.icon);
  for (int i = 0; i < 20 && icon == "other"; ++i) {
    Sleep(25);
    icon = icon_kind(parts.icon);
  }
  emit(tag + "icon", icon);
  emit(tag + "buttons", parts.buttons);
  emit(tag + "owned_by_window", GetWindow(box, GW_OWNER) == main && main ? "1" : "0");
  if (main != nullptr) emit_state(tag + "main.", observe(main));
  std::string answer = static_cast<size_t>(index) < o.answers.size() ? o.answers[index] : "";
  if (answer.empty()) {
    emit(tag + "unexpected", "1");
    answer = "cancel";
  }
  emit(tag + "answer", answer);
  answer_box(box, answer);
}

// ---- the final window ------------------------------------------------------

bool alive(HANDLE process, HWND main, DWORD wait_ms) {
  return WaitForSingleObject(process, wait_ms) == WAIT_TIMEOUT && IsWindow(main);
}

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
      LRESULT hit = SendMessageA(main, WM_NCHITTEST, 0, MAKELPARAM(x, y));
      if (hit == HTCLOSE) {
        *point = {x - 3, y + 3};
        return SendMessageA(main, WM_NCHITTEST, 0, MAKELPARAM(point->x, point->y)) == HTCLOSE;
      }
    }
  }
  return false;
}

// One way of closing the window as a person would; "stayed" or "closed".
std::string close_with(const std::string& method, HANDLE process, HWND main) {
  SetForegroundWindow(main);
  if (method == "caption_button") {
    POINT p{};
    bool found = caption_close_point(main, &p);
    emit("close.caption_button_found", found ? "1" : "0");
    if (found) click_at(p.x, p.y);
  } else if (method == "system_menu") {
    // What choosing Close in the system menu sends.
    PostMessageA(main, WM_SYSCOMMAND, SC_CLOSE, 0);
  } else if (method == "alt_f4") {
    send_keys({{VK_MENU, false}, {VK_F4, false}, {VK_F4, true}, {VK_MENU, true}});
  } else if (method == "enter" || method == "escape") {
    // Through a dialog manager these would press OK or cancel the dialog.
    WORD key = method == "enter" ? VK_RETURN : VK_ESCAPE;
    send_keys({{key, false}, {key, true}});
  } else {
    PostMessageA(main, WM_CLOSE, 0, 0);
  }
  return alive(process, main, 300) ? "stayed" : "closed";
}

void try_close(const std::vector<std::string>& methods, HANDLE process, HWND main) {
  for (const std::string& method : methods) {
    if (!IsWindow(main)) return;
    emit("close." + method, close_with(method, process, main));
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
  emit("window_rect", std::to_string(r.left) + "," + std::to_string(r.top) + "," +
                          std::to_string(r.right) + "," + std::to_string(r.bottom));
  emit("screen", std::to_string(GetSystemMetrics(SM_CXSCREEN)) + "," +
                     std::to_string(GetSystemMetrics(SM_CYSCREEN)));
}

// ---- the run ---------------------------------------------------------------

bool is_final(const WindowState& s) {
  return s.button_visible && s.button_text == "OK";
}

// Follows the run until the process ends or its window waits for OK.
// Returns true when the window waits for OK.
bool follow_run(const Options& o, HANDLE process, DWORD pid, HWND* main_out,
                WindowState* last) {
  DWORD start = GetTickCount();
  bool first_seen = false;
  int boxes = 0;
  std::vector<HWND> answered;
  while (GetTickCount() - start < o.timeout_ms) {
    Found f = find_windows(pid);
    if (f.main != nullptr) {
      *main_out = f.main;
      *last = observe(f.main);
      if (!first_seen) {
        first_seen = true;
        emit_state("first.", *last);
        report_geometry(f.main);
      }
    }
    for (HWND box : f.boxes) {
      bool seen = false;
      for (HWND a : answered) seen = seen || a == box;
      if (seen) continue;
      answered.push_back(box);
      handle_box(box, f.main, o, boxes++);
    }
    if (f.main != nullptr && f.boxes.empty() && is_final(*last)) {
      // RunState 2 shows the button too, right before the process ends.
      if (!alive(process, f.main, 500)) return false;
      *last = observe(f.main);
      return true;
    }
    if (WaitForSingleObject(process, 10) == WAIT_OBJECT_0) return false;
  }
  emit("timeout", "1");
  return false;
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
  std::string command_line = o.command_line.empty() ? "\"" + o.exe + "\"" : o.command_line;
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(o.exe.c_str(), &command_line[0], nullptr, nullptr, FALSE, 0, nullptr,
                      o.cwd.empty() ? nullptr : o.cwd.c_str(), &si, &pi)) {
    fail("CreateProcess failed with " + std::to_string(GetLastError()));
  }
  emit("started", "1");
  HWND main = nullptr;
  WindowState last;
  bool waiting = follow_run(o, pi.hProcess, pi.dwProcessId, &main, &last);
  if (waiting && !o.screenshot.empty()) {
    emit("screenshot", save_screenshot(main, o.screenshot) ? "1" : "0");
  }
  // A program that ends on its own ends within moments of showing "OK"; one
  // that ended only now, under load, still did not wait for OK.
  if (waiting && WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0) waiting = false;
  emit_state("final.", last);
  emit("waited_for_ok", waiting ? "1" : "0");
  if (waiting) {
    report_geometry(main);
    try_close(o.close_methods, pi.hProcess, main);
    if (o.press_ok && IsWindow(main)) {
      PostMessageA(GetDlgItem(main, IDOK), BM_CLICK, 0, 0);
    }
  }
  emit("closed_by_itself", !waiting && WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0 ? "1" : "0");
  bool ended = WaitForSingleObject(pi.hProcess, waiting && !o.press_ok ? 0 : 10000) == WAIT_OBJECT_0;
  emit("ended_after_ok", ended && waiting ? "1" : "0");
  if (!ended) {
    TerminateProcess(pi.hProcess, 259);
    WaitForSingleObject(pi.hProcess, 5000);
    emit("terminated", "1");
  }
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  emit("exit_code", std::to_string(code));
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  for (HANDLE h : held) CloseHandle(h);
  for (size_t i = 0; i < o.reads.size(); ++i) read_back(o, o.reads[i], static_cast<int>(i));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options o = parse_options(argc, argv);
  return run(o);
}

// wdriver: drives and observes windows of the program under test from
// inside the same Wine session.  Everything it prints is UTF-8 with "\n"
// line ends so that the Linux-side test scripts can read it directly.
//
// Exit codes: 0 success, 1 not found / timed out / failed, 2 bad usage.

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <string>
#include <vector>

#include "base/scoped_win.h"

namespace {

constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

constexpr DWORD kPollMs = 50;

const char kUsageText[] =
    "usage:\n"
    "  wdriver list\n"
    "  wdriver find    SELECTOR [--timeout MS]\n"
    "  wdriver gone    SELECTOR [--timeout MS]\n"
    "  wdriver command SELECTOR --id N [--lparam L] [--post] [--timeout MS]"
    " [--reply-timeout MS]\n"
    "  wdriver close   SELECTOR [--timeout MS]\n"
    "  wdriver send    SELECTOR --msg N [--wparam W] [--lparam L] [--post] [--timeout MS]\n"
    "  wdriver listen  --class C [--title T] --out FILE [--seconds S]\n"
    "  wdriver message SELECTOR --msg N [--wparam W] [--lparam L] [--timeout MS]   (posted)\n"
    "  wdriver menu    [--timeout MS]   (screen rect of the shown pop-up menu)\n"
    "  wdriver menus   [--timeout MS]   (once a submenu shows: the rect of each shown pop-up menu, a line each)\n"
    "  wdriver cover   [--seconds S]    (a magenta window over the whole screen in the foreground;\n"
    "                                    prints \"foreground 1\" at the end if it still was)\n"
    "SELECTOR is any of --class C, --title T (exact matches) and --hwnd H.\n"
    "Numbers are decimal or 0x-prefixed hex.\n";

std::string utf8(const wchar_t* text, size_t len) {
  if (len == 0) return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(len), nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n : 0, '\0');
  if (n > 0) {
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(len), &out[0], n, nullptr, nullptr);
  }
  return out;
}

std::string utf8(const std::wstring& text) { return utf8(text.data(), text.size()); }

void print_line(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

void print_error(const std::string& message) {
  std::string line = "wdriver: " + message + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

int usage_error(const std::string& message) {
  print_error(message);
  std::fputs(kUsageText, stderr);
  return kUsage;
}

// Accepts decimal or 0x-hex without sign; rejects trailing junk and overflow.
bool parse_unsigned(const wchar_t* text, unsigned long long max, unsigned long long* value) {
  if (!text || !*text || *text == L'-' || *text == L'+' || std::iswspace(*text)) return false;
  wchar_t* end = nullptr;
  errno = 0;
  unsigned long long v = std::wcstoull(text, &end, 0);
  if (errno != 0 || *end != L'\0' || v > max) return false;
  *value = v;
  return true;
}

bool parse_signed(const wchar_t* text, long long min, unsigned long long max, long long* value) {
  if (text && *text == L'-') {
    unsigned long long magnitude = 0;
    unsigned long long limit = 0ULL - static_cast<unsigned long long>(min);
    if (!parse_unsigned(text + 1, limit, &magnitude)) return false;
    *value = static_cast<long long>(0ULL - magnitude);
    return true;
  }
  unsigned long long v = 0;
  if (!parse_unsigned(text, max, &v)) return false;
  *value = static_cast<long long>(v);
  return true;
}

struct Options {
  std::wstring cls;
  std::wstring title;
  std::wstring out;
  bool has_cls = false;
  bool has_title = false;
  bool has_hwnd = false;
  bool has_id = false;
  bool has_out = false;
  bool post = false;
  HWND hwnd = nullptr;
  WPARAM id = 0;
  LPARAM lparam = 0;
  DWORD timeout_ms = 0;
  DWORD reply_timeout_ms = 10000;
  DWORD seconds = 10;
  UINT msg = 0;
  bool has_msg = false;
  WPARAM wparam = 0;
};

enum OptionBit : unsigned {
  kOptClass = 1u << 0,
  kOptTitle = 1u << 1,
  kOptHwnd = 1u << 2,
  kOptTimeout = 1u << 3,
  kOptId = 1u << 4,
  kOptLparam = 1u << 5,
  kOptPost = 1u << 6,
  kOptReplyTimeout = 1u << 7,
  kOptOut = 1u << 8,
  kOptSeconds = 1u << 9,
  kOptMsg = 1u << 10,
  kOptWparam = 1u << 11,
};

constexpr unsigned kSelector = kOptClass | kOptTitle | kOptHwnd;

// Returns kOk or the exit code to leave with.
int parse_options(int argc, wchar_t** argv, unsigned allowed, Options* o) {
  for (int i = 2; i < argc; ++i) {
    const std::wstring name = argv[i];
    struct OptionDef {
      const wchar_t* name;
      unsigned bit;
      bool takes_value;
    };
    static const OptionDef defs[] = {
        {L"--class", kOptClass, true}, {L"--title", kOptTitle, true},
        {L"--hwnd", kOptHwnd, true},   {L"--timeout", kOptTimeout, true},
        {L"--id", kOptId, true},       {L"--lparam", kOptLparam, true},
        {L"--post", kOptPost, false},  {L"--reply-timeout", kOptReplyTimeout, true},
        {L"--out", kOptOut, true},     {L"--seconds", kOptSeconds, true},
        {L"--msg", kOptMsg, true},     {L"--wparam", kOptWparam, true},
    };
    const OptionDef* def = nullptr;
    for (const OptionDef& d : defs) {
      if (name == d.name) def = &d;
    }
    if (!def || !(allowed & def->bit)) {
      return usage_error("unexpected argument for " + utf8(argv[1]) + ": " + utf8(name));
    }
    const wchar_t* value = nullptr;
    if (def->takes_value) {
      if (i + 1 >= argc) return usage_error(utf8(name) + " needs a value");
      value = argv[++i];
    }
    const std::string bad =
        "bad value for " + utf8(name) + ": " + (value ? utf8(value, std::wcslen(value)) : std::string());
    unsigned long long u = 0;
    long long s = 0;
    switch (def->bit) {
      case kOptClass:
        o->cls = value;
        o->has_cls = true;
        break;
      case kOptTitle:
        o->title = value;
        o->has_title = true;
        break;
      case kOptHwnd:
        if (!parse_unsigned(value, UINTPTR_MAX, &u) || u == 0) return usage_error(bad);
        o->hwnd = reinterpret_cast<HWND>(static_cast<uintptr_t>(u));
        o->has_hwnd = true;
        break;
      case kOptTimeout:
      case kOptReplyTimeout:
        // Keep below INFINITE so a typo cannot mean "wait forever".
        if (!parse_unsigned(value, 0x7fffffffULL, &u)) return usage_error(bad);
        (def->bit == kOptTimeout ? o->timeout_ms : o->reply_timeout_ms) = static_cast<DWORD>(u);
        break;
      case kOptId:
        // WM_COMMAND carries the notification code in the high word.
        if (!parse_unsigned(value, 0xffffffffULL, &u)) return usage_error(bad);
        o->id = static_cast<WPARAM>(u);
        o->has_id = true;
        break;
      case kOptLparam:
        if (!parse_signed(value, INTPTR_MIN, UINTPTR_MAX, &s)) return usage_error(bad);
        o->lparam = static_cast<LPARAM>(s);
        break;
      case kOptPost:
        o->post = true;
        break;
      case kOptOut:
        if (!*value) return usage_error(bad);
        o->out = value;
        o->has_out = true;
        break;
      case kOptSeconds:
        if (!parse_unsigned(value, 2000000ULL, &u)) return usage_error(bad);
        o->seconds = static_cast<DWORD>(u);
        break;
      case kOptMsg:
        if (!parse_unsigned(value, 0xffffffffULL, &u)) return usage_error(bad);
        o->msg = static_cast<UINT>(u);
        o->has_msg = true;
        break;
      case kOptWparam:
        if (!parse_unsigned(value, UINTPTR_MAX, &u)) return usage_error(bad);
        o->wparam = static_cast<WPARAM>(u);
        break;
    }
  }
  const bool needs_selector = (allowed & kSelector) == kSelector;
  if (needs_selector && !o->has_cls && !o->has_title && !o->has_hwnd) {
    return usage_error(utf8(argv[1]) + " needs --class, --title or --hwnd");
  }
  return kOk;
}

// ---------------------------------------------------------------- windows

std::wstring class_of(HWND h) {
  wchar_t buf[257] = {};  // class names are at most 256 characters
  int n = GetClassNameW(h, buf, 257);
  return std::wstring(buf, n > 0 ? n : 0);
}

// InternalGetWindowText never sends a message, so a hung window cannot
// hang the driver (GetWindowTextLength would).
std::wstring title_of(HWND h) {
  std::vector<wchar_t> buf(4096);
  int n = InternalGetWindowText(h, buf.data(), static_cast<int>(buf.size()));
  return std::wstring(buf.data(), n > 0 ? n : 0);
}

std::string hex_handle(HWND h) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%08llX", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(h)));
  return buf;
}

std::string describe(HWND h) {
  std::string cls = utf8(class_of(h));
  std::string title = utf8(title_of(h));
  // The line format is tab separated; a title must not break it.
  for (std::string* field : {&cls, &title}) {
    for (char& c : *field) {
      if (c == '\t' || c == '\r' || c == '\n') c = ' ';
    }
  }
  RECT r = {};
  GetWindowRect(h, &r);
  char tail[80];
  std::snprintf(tail, sizeof tail, "%d\t%ld,%ld,%ld,%ld", IsWindowVisible(h) ? 1 : 0, static_cast<long>(r.left),
                static_cast<long>(r.top), static_cast<long>(r.right - r.left), static_cast<long>(r.bottom - r.top));
  return hex_handle(h) + "\t" + cls + "\t" + title + "\t" + tail;
}

BOOL CALLBACK collect_window(HWND h, LPARAM param) {
  reinterpret_cast<std::vector<HWND>*>(param)->push_back(h);
  return TRUE;
}

std::vector<HWND> top_level_windows() {
  std::vector<HWND> windows;
  EnumWindows(collect_window, reinterpret_cast<LPARAM>(&windows));
  return windows;
}

bool matches(HWND h, const Options& o) {
  if (o.has_hwnd && h != o.hwnd) return false;
  if (o.has_cls && class_of(h) != o.cls) return false;
  if (o.has_title && title_of(h) != o.title) return false;
  return true;
}

// Message-only windows are not top level and EnumWindows skips them, yet a
// program may well receive its commands through one, so they count too.
HWND find_window(const Options& o) {
  for (HWND h : top_level_windows()) {
    if (matches(h, o)) return h;
  }
  for (HWND h = nullptr; (h = FindWindowExW(HWND_MESSAGE, h, nullptr, nullptr)) != nullptr;) {
    if (matches(h, o)) return h;
  }
  return nullptr;
}

// Polls until want_present matches reality or the timeout passes; a timeout
// of 0 checks exactly once.
HWND wait_for_window(const Options& o, bool want_present, bool* satisfied) {
  const ULONGLONG start = GetTickCount64();
  for (;;) {
    HWND h = find_window(o);
    if ((h != nullptr) == want_present) {
      *satisfied = true;
      return h;
    }
    ULONGLONG waited = GetTickCount64() - start;
    if (waited >= o.timeout_ms) {
      *satisfied = false;
      return h;
    }
    ULONGLONG left = o.timeout_ms - waited;
    Sleep(static_cast<DWORD>(left < kPollMs ? left : kPollMs));
  }
}

std::string selector_text(const Options& o) {
  std::string s;
  if (o.has_cls) s += " class=\"" + utf8(o.cls) + "\"";
  if (o.has_title) s += " title=\"" + utf8(o.title) + "\"";
  if (o.has_hwnd) s += " hwnd=" + hex_handle(o.hwnd);
  return s;
}

HWND require_window(const Options& o) {
  bool found = false;
  HWND h = wait_for_window(o, true, &found);
  if (!found) print_error("no window with" + selector_text(o));
  return h;
}

// ---------------------------------------------------------------- commands

int cmd_list() {
  for (HWND h : top_level_windows()) print_line(describe(h));
  return kOk;
}

int cmd_find(const Options& o) {
  HWND h = require_window(o);
  if (!h) return kFailed;
  print_line(describe(h));
  return kOk;
}

int cmd_gone(const Options& o) {
  bool gone = false;
  HWND h = wait_for_window(o, false, &gone);
  if (!gone) {
    print_error("still there: " + describe(h));
    return kFailed;
  }
  return kOk;
}

int cmd_command(const Options& o) {
  HWND h = require_window(o);
  if (!h) return kFailed;
  if (o.post) {
    if (!PostMessageW(h, WM_COMMAND, o.id, o.lparam)) {
      print_error("PostMessage failed, error " + std::to_string(GetLastError()));
      return kFailed;
    }
    return kOk;
  }
  // A handler that opens a modal dialog would block a plain SendMessage
  // until someone closes it; the test should fail instead of hanging.
  DWORD_PTR result = 0;
  SetLastError(0);
  if (!SendMessageTimeoutW(h, WM_COMMAND, o.id, o.lparam, SMTO_NORMAL, o.reply_timeout_ms, &result)) {
    DWORD err = GetLastError();
    print_error(err == ERROR_TIMEOUT || err == 0 ? "no reply within " + std::to_string(o.reply_timeout_ms) + " ms"
                                                 : "SendMessage failed, error " + std::to_string(err));
    return kFailed;
  }
  print_line(std::to_string(static_cast<long long>(static_cast<LRESULT>(result))));
  return kOk;
}

// Any message, sent (its result printed) or posted; posted keys go through
// the target thread's message loop like real input.
int cmd_send(const Options& o) {
  HWND h = require_window(o);
  if (!h) return kFailed;
  if (o.post) {
    if (!PostMessageW(h, o.msg, o.wparam, o.lparam)) {
      print_error("PostMessage failed, error " + std::to_string(GetLastError()));
      return kFailed;
    }
    return kOk;
  }
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(h, o.msg, o.wparam, o.lparam, SMTO_NORMAL, o.reply_timeout_ms, &result)) {
    print_error("no reply within " + std::to_string(o.reply_timeout_ms) + " ms");
    return kFailed;
  }
  print_line(std::to_string(static_cast<long long>(static_cast<LRESULT>(result))));
  return kOk;
}

int cmd_close(const Options& o) {
  HWND h = require_window(o);
  if (!h) return kFailed;
  if (!PostMessageW(h, WM_CLOSE, 0, 0)) {
    print_error("PostMessage failed, error " + std::to_string(GetLastError()));
    return kFailed;
  }
  return kOk;
}

// --- listen

const std::wstring* g_listen_out = nullptr;

bool append_line(const std::wstring& path, const std::string& line) {
  FILE* f = _wfopen(path.c_str(), L"ab");
  if (!f) return false;
  bool ok = std::fwrite(line.data(), 1, line.size(), f) == line.size();
  return std::fclose(f) == 0 && ok;
}

LRESULT CALLBACK listener_proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_COMMAND: {
      char line[80];
      std::snprintf(line, sizeof line, "WM_COMMAND %llu %lld\n", static_cast<unsigned long long>(wp),
                    static_cast<long long>(lp));
      if (!append_line(*g_listen_out, line)) {
        print_error("cannot append to " + utf8(*g_listen_out));
      }
      return 0;
    }
    case WM_DESTROY:
      // Closing the listener (e.g. "wdriver close") ends it early.
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(h, msg, wp, lp);
}

class ListenerWindow {
 public:
  ListenerWindow(const std::wstring& cls, const std::wstring& title) : cls_(cls) {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = listener_proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = cls_.c_str();
    registered_ = RegisterClassExW(&wc) != 0;
    if (!registered_) return;
    hwnd_ = CreateWindowExW(0, cls_.c_str(), title.c_str(), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 200, 100,
                            nullptr, nullptr, wc.hInstance, nullptr);
  }
  ~ListenerWindow() {
    if (hwnd_ && IsWindow(hwnd_)) DestroyWindow(hwnd_);
    if (registered_) UnregisterClassW(cls_.c_str(), GetModuleHandleW(nullptr));
  }
  ListenerWindow(const ListenerWindow&) = delete;
  ListenerWindow& operator=(const ListenerWindow&) = delete;

  bool registered() const { return registered_; }
  HWND hwnd() const { return hwnd_; }

 private:
  std::wstring cls_;
  bool registered_ = false;
  HWND hwnd_ = nullptr;
};

// Handles this thread's messages for `seconds`, or until WM_QUIT.
void PumpMessagesFor(DWORD seconds) {
  const ULONGLONG deadline = GetTickCount64() + 1000ULL * seconds;
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) return;
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) return;
    // Sent messages from other processes are delivered while we wait here
    // or in PeekMessage.
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(deadline - now), QS_ALLINPUT);
  }
}

int cmd_listen(const Options& o) {
  if (!o.has_cls) return usage_error("listen needs --class");
  if (!o.has_out) return usage_error("listen needs --out");
  if (o.cls.empty() || o.cls.size() > 256) return usage_error("class name must be 1-256 characters");
  // Fail now, not at the first message, if the file cannot be written.
  if (!append_line(o.out, std::string())) {
    print_error("cannot write " + utf8(o.out));
    return kUsage;
  }
  g_listen_out = &o.out;

  ListenerWindow window(o.cls, o.has_title ? o.title : std::wstring(L"listener"));
  if (!window.registered() || !window.hwnd()) {
    print_error("cannot create a window of class \"" + utf8(o.cls) + "\", error " + std::to_string(GetLastError()));
    return kFailed;
  }
  print_line("ready");

  PumpMessagesFor(o.seconds);
  return kOk;
}

// Posted, never sent: a notification-area callback may open a pop-up menu
// whose loop would hold a sent message until the menu closes.
int cmd_message(const Options& o) {
  HWND h = require_window(o);
  if (!h) return kFailed;
  if (!PostMessageW(h, o.msg, o.wparam, o.lparam)) {
    print_error("PostMessage failed, error " + std::to_string(GetLastError()));
    return kFailed;
  }
  return kOk;
}

// Prints "X Y CX CY" of the shown pop-up menu. Its items cannot be read
// from another process under Wine, so the test clicks them by position.
int cmd_menu(const Options& o) {
  const ULONGLONG start = GetTickCount64();
  for (;;) {
    for (HWND h = nullptr; (h = FindWindowExW(nullptr, h, L"#32768", nullptr)) != nullptr;) {
      RECT rc = {};
      if (!IsWindowVisible(h) || !GetWindowRect(h, &rc)) continue;
      print_line(std::to_string(rc.left) + " " + std::to_string(rc.top) + " " + std::to_string(rc.right - rc.left) +
                 " " + std::to_string(rc.bottom - rc.top));
      return kOk;
    }
    if (GetTickCount64() - start >= o.timeout_ms) break;
    Sleep(kPollMs);
  }
  print_error("no pop-up menu is shown");
  return kFailed;
}

// Waits for a menu and its open submenu, then prints the rect of each.
int cmd_menus(const Options& o) {
  const ULONGLONG start = GetTickCount64();
  for (;;) {
    std::vector<std::string> shown;
    for (HWND h = nullptr; (h = FindWindowExW(nullptr, h, L"#32768", nullptr)) != nullptr;) {
      RECT rc = {};
      if (!IsWindowVisible(h) || !GetWindowRect(h, &rc)) continue;
      shown.push_back(std::to_string(rc.left) + " " + std::to_string(rc.top) + " " + std::to_string(rc.right - rc.left) +
                      " " + std::to_string(rc.bottom - rc.top));
    }
    if (shown.size() >= 2) {
      for (const std::string& line : shown) print_line(line);
      return kOk;
    }
    if (GetTickCount64() - start >= o.timeout_ms) break;
    Sleep(kPollMs);
  }
  print_error("no submenu is shown");
  return kFailed;
}

LRESULT CALLBACK CoverProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_ERASEBKGND) {
    RECT rc = {};
    GetClientRect(hwnd, &rc);
    ScopedGdiObject brush(CreateSolidBrush(RGB(255, 0, 255)));
    FillRect(reinterpret_cast<HDC>(wParam), &rc, static_cast<HBRUSH>(brush.Get()));
    return 1;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

// Stands in for a full-screen game: a borderless window of the screen's size
// that takes the foreground.
int cmd_cover(const Options& o) {
  WNDCLASSW wc = {};
  wc.lpfnWndProc = CoverProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"WdriverCover";
  RegisterClassW(&wc);
  HWND h = CreateWindowExW(0, wc.lpszClassName, L"cover", WS_POPUP | WS_VISIBLE, 0, 0, GetSystemMetrics(SM_CXSCREEN),
                           GetSystemMetrics(SM_CYSCREEN), nullptr, nullptr, wc.hInstance, nullptr);
  if (!h) {
    print_error("cannot create the cover window, error " + std::to_string(GetLastError()));
    return kFailed;
  }
  SetForegroundWindow(h);
  UpdateWindow(h);
  print_line("ready");
  PumpMessagesFor(o.seconds);
  print_line(GetForegroundWindow() == h ? "foreground 1" : "foreground 0");
  DestroyWindow(h);
  return kOk;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  // Binary mode: lines end in "\n" only, and UTF-8 passes through untouched.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);

  if (argc < 2) return usage_error("no command given");
  const std::wstring cmd = argv[1];
  if (cmd == L"help" || cmd == L"--help" || cmd == L"-h") {
    std::fputs(kUsageText, stdout);
    return kOk;
  }

  struct Command {
    const wchar_t* name;
    unsigned allowed;
    int (*run)(const Options&);
  };
  static const Command commands[] = {
      {L"list", 0, [](const Options&) { return cmd_list(); }},
      {L"find", kSelector | kOptTimeout, cmd_find},
      {L"gone", kSelector | kOptTimeout, cmd_gone},
      {L"command", kSelector | kOptTimeout | kOptId | kOptLparam | kOptPost | kOptReplyTimeout,
       [](const Options& o) {
         if (!o.has_id) return usage_error("command needs --id");
         return cmd_command(o);
       }},
      {L"close", kSelector | kOptTimeout, cmd_close},
      {L"send", kSelector | kOptTimeout | kOptMsg | kOptWparam | kOptLparam | kOptPost,
       [](const Options& o) {
         if (!o.has_msg) return usage_error("send needs --msg");
         return cmd_send(o);
       }},
      {L"listen", kOptClass | kOptTitle | kOptOut | kOptSeconds, cmd_listen},
      {L"message", kSelector | kOptTimeout | kOptMsg | kOptWparam | kOptLparam,
       [](const Options& o) {
         if (!o.has_msg) return usage_error("message needs --msg");
         return cmd_message(o);
       }},
      {L"menu", kOptTimeout, cmd_menu},
      {L"menus", kOptTimeout, cmd_menus},
      {L"cover", kOptSeconds, cmd_cover},
  };
  for (const Command& c : commands) {
    if (cmd != c.name) continue;
    Options o;
    int rc = parse_options(argc, argv, c.allowed, &o);
    if (rc != kOk) return rc;
    return c.run(o);
  }
  return usage_error("unknown command: " + utf8(cmd));
}

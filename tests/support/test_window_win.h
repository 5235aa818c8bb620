#pragma once

// A window of the test thread standing in for a program window: it counts the
// messages it gets, lets the test answer the ones it cares about, and leaves
// the rest to DefWindowProc.
#include <windows.h>

#include <functional>
#include <map>
#include <utility>

class TestWindow {
 public:
  // True when it answered the message, with the result in *result.
  using Answer = std::function<bool(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result)>;

  // A message-only window.
  explicit TestWindow(Answer answer = nullptr) : TestWindow(HWND_MESSAGE, 0, 0, 0, std::move(answer)) {}
  // A hidden top-level window of this size, to be the parent of child windows.
  TestWindow(int width, int height, Answer answer = nullptr)
      : TestWindow(nullptr, WS_POPUP | WS_CLIPCHILDREN, width, height, std::move(answer)) {}
  ~TestWindow() {
    if (!m_hwnd) return;
    // The answer may refer to what the test destroys around it: no message
    // reaches it any more.
    ::SetWindowLongPtrW(m_hwnd, GWLP_USERDATA, 0);
    ::DestroyWindow(m_hwnd);
  }
  TestWindow(const TestWindow&) = delete;
  TestWindow& operator=(const TestWindow&) = delete;

  HWND Get() const { return m_hwnd; }
  // How many `msg` messages have arrived.
  int Count(UINT msg) const {
    const auto it = m_counts.find(msg);
    return it == m_counts.end() ? 0 : it->second;
  }

  // Dispatches this thread's messages until `done` or `ms` have passed;
  // answers done().
  static bool PumpUntil(const std::function<bool()>& done, DWORD ms = 5000) {
    const DWORD start = ::GetTickCount();
    while (!done() && ::GetTickCount() - start < ms) {
      MSG msg;
      while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
      }
      ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    return done();
  }
  static void Pump(DWORD ms) {
    PumpUntil([] { return false; }, ms);
  }

 private:
  static constexpr const wchar_t* kClassName = L"GdTestWindow";

  TestWindow(HWND parent, DWORD style, int width, int height, Answer answer) : m_answer(std::move(answer)) {
    static const bool registered = Register();
    if (!registered) return;
    m_hwnd = ::CreateWindowExW(0, kClassName, L"", style, 0, 0, width, height, parent, nullptr,
                               ::GetModuleHandleW(nullptr), this);
  }

  static bool Register() {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = &TestWindow::Proc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = kClassName;
    return ::RegisterClassW(&wc) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  }

  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
      auto* cs = reinterpret_cast<CREATESTRUCTW*>(lParam);
      ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    }
    auto* self = reinterpret_cast<TestWindow*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self) return ::DefWindowProcW(hwnd, msg, wParam, lParam);
    if (msg == WM_NCDESTROY) {
      ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      self->m_hwnd = nullptr;
      return ::DefWindowProcW(hwnd, msg, wParam, lParam);
    }
    ++self->m_counts[msg];
    LRESULT result = 0;
    if (self->m_answer && self->m_answer(msg, wParam, lParam, &result)) return result;
    return ::DefWindowProcW(hwnd, msg, wParam, lParam);
  }

  Answer m_answer;
  HWND m_hwnd = nullptr;
  std::map<UINT, int> m_counts;
};

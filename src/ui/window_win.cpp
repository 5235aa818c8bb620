#include "ui/window_win.h"

CWindowBase::~CWindowBase() {
  // A window must not outlive its object: its procedure would reach freed
  // memory.
  if (m_hWnd && ::IsWindow(m_hWnd)) {
    ::SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, 0);
    ::DestroyWindow(m_hWnd);
  }
}

bool CWindowBase::RegisterClassOnce(const CWndClassInfo& info) {
  HINSTANCE instance = ::GetModuleHandleW(nullptr);
  WNDCLASSEXW existing{};
  existing.cbSize = sizeof(existing);
  if (::GetClassInfoExW(instance, info.name, &existing)) return true;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.style = info.style;
  wc.lpfnWndProc = &CWindowBase::WindowProc;
  wc.hInstance = instance;
  wc.hCursor = info.cursor ? info.cursor : ::LoadCursorW(nullptr, IDC_ARROW);
  wc.hIcon = info.icon;
  wc.hIconSm = info.smallIcon;
  wc.hbrBackground = info.background;
  wc.lpszClassName = info.name;
  return ::RegisterClassExW(&wc) != 0;
}

HWND CWindowBase::Create(HWND parent, const RECT& rect, const wchar_t* title, DWORD style, DWORD exStyle, UINT id) {
  if (m_hWnd) return nullptr;
  CWndClassInfo info = GetWndClassInfo();
  if (!info.name || !RegisterClassOnce(info)) return nullptr;
  HWND hwnd = ::CreateWindowExW(exStyle, info.name, title ? title : L"", style, rect.left, rect.top,
                                rect.right - rect.left, rect.bottom - rect.top, parent,
                                reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), ::GetModuleHandleW(nullptr), this);
  // WM_NCCREATE has set m_hWnd already; a refusal in WM_CREATE clears it.
  return hwnd;
}

BOOL CWindowBase::DestroyWindow() {
  if (!m_hWnd) return FALSE;
  return ::DestroyWindow(m_hWnd);
}

BOOL CWindowBase::CenterWindow(HWND over) {
  if (!m_hWnd) return FALSE;
  if (!over) over = ::GetWindow(m_hWnd, GW_OWNER);
  RECT area{};
  if (over && ::IsWindowVisible(over) && !::IsIconic(over)) {
    ::GetWindowRect(over, &area);
  } else {
    MONITORINFO mi{};
    mi.cbSize = sizeof(mi);
    ::GetMonitorInfoW(::MonitorFromWindow(m_hWnd, MONITOR_DEFAULTTOPRIMARY), &mi);
    area = mi.rcWork;
  }
  RECT rc{};
  ::GetWindowRect(m_hWnd, &rc);
  int cx = rc.right - rc.left;
  int cy = rc.bottom - rc.top;
  int x = area.left + ((area.right - area.left) - cx) / 2;
  int y = area.top + ((area.bottom - area.top) - cy) / 2;
  return ::SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT CALLBACK CWindowBase::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  CWindowBase* self = nullptr;
  if (msg == WM_NCCREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCTW*>(lParam);
    self = static_cast<CWindowBase*>(cs->lpCreateParams);
    if (self) {
      self->m_hWnd = hwnd;
      ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
  } else {
    self = reinterpret_cast<CWindowBase*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  }
  if (!self) return ::DefWindowProcW(hwnd, msg, wParam, lParam);

  LRESULT result = 0;
  bool handled = self->ProcessWindowMessage(hwnd, msg, wParam, lParam, result);
  if (msg == WM_NCDESTROY) {
    if (!handled) result = ::DefWindowProcW(hwnd, msg, wParam, lParam);
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    self->m_hWnd = nullptr;
    self->OnFinalMessage(hwnd);
    return result;
  }
  if (handled) return result;
  return ::DefWindowProcW(hwnd, msg, wParam, lParam);
}

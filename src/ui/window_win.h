#pragma once

// The least window base the program's windows need: one window procedure
// that forwards to a member message map, with the class registered on
// first use.
#include <windows.h>

// Message maps. A window class writes
//   BEGIN_MSG_MAP(CMyWnd)
//     MESSAGE_HANDLER(WM_CREATE, OnCreate)
//     COMMAND_ID_HANDLER(IDOK, OnOk)
//     CHAIN_MSG_MAP(CSomWndManager)
//   END_MSG_MAP()
// Handlers: LRESULT OnX(UINT msg, WPARAM, LPARAM, BOOL& handled) and
// LRESULT OnCmd(WORD code, WORD id, HWND ctl, BOOL& handled); a handler that
// clears `handled` lets the message go on down the map.
#define BEGIN_MSG_MAP(theClass)                                                                              \
 public:                                                                                                     \
  bool ProcessWindowMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult) override { \
    BOOL bHandled = TRUE;                                                                                    \
    (void)hWnd;                                                                                              \
    (void)bHandled;

#define MESSAGE_HANDLER(msg, func)                  \
  if (uMsg == (msg)) {                              \
    bHandled = TRUE;                                \
    lResult = func(uMsg, wParam, lParam, bHandled); \
    if (bHandled) return true;                      \
  }

#define MESSAGE_RANGE_HANDLER(msgFirst, msgLast, func) \
  if (uMsg >= (msgFirst) && uMsg <= (msgLast)) {       \
    bHandled = TRUE;                                   \
    lResult = func(uMsg, wParam, lParam, bHandled);    \
    if (bHandled) return true;                         \
  }

#define COMMAND_ID_HANDLER(id, func)                                                          \
  if (uMsg == WM_COMMAND && LOWORD(wParam) == (id)) {                                         \
    bHandled = TRUE;                                                                          \
    lResult = func(HIWORD(wParam), LOWORD(wParam), reinterpret_cast<HWND>(lParam), bHandled); \
    if (bHandled) return true;                                                                \
  }

#define COMMAND_RANGE_HANDLER(idFirst, idLast, func)                                          \
  if (uMsg == WM_COMMAND && LOWORD(wParam) >= (idFirst) && LOWORD(wParam) <= (idLast)) {      \
    bHandled = TRUE;                                                                          \
    lResult = func(HIWORD(wParam), LOWORD(wParam), reinterpret_cast<HWND>(lParam), bHandled); \
    if (bHandled) return true;                                                                \
  }

#define CHAIN_MSG_MAP(theChainClass) \
  if (theChainClass::ProcessWindowMessage(hWnd, uMsg, wParam, lParam, lResult)) return true;

#define END_MSG_MAP() \
  return false;       \
  }

// Class registration data a window gives on its first Create.
struct CWndClassInfo {
  const wchar_t* name = L"GdWindow";
  UINT style = CS_DBLCLKS;
  HBRUSH background = nullptr;  // null: the manager's background is never a brush fill
  HCURSOR cursor = nullptr;     // null: the arrow
  HICON icon = nullptr;
  HICON smallIcon = nullptr;
};

class CWindowBase {
 public:
  CWindowBase() = default;
  virtual ~CWindowBase();
  CWindowBase(const CWindowBase&) = delete;
  CWindowBase& operator=(const CWindowBase&) = delete;

  // Registers the class (once per name) and creates the window; `id` is a
  // child window's control identifier. Returns the handle, null on failure.
  HWND Create(HWND parent, const RECT& rect, const wchar_t* title, DWORD style, DWORD exStyle = 0, UINT id = 0);
  BOOL DestroyWindow();
  HWND Handle() const { return m_hWnd; }
  operator HWND() const { return m_hWnd; }
  BOOL IsWindow() const { return m_hWnd != nullptr && ::IsWindow(m_hWnd); }
  BOOL ShowWindow(int cmd) { return ::ShowWindow(m_hWnd, cmd); }
  BOOL Invalidate(BOOL erase = FALSE) { return ::InvalidateRect(m_hWnd, nullptr, erase); }
  BOOL GetClientRect(RECT* rc) const { return ::GetClientRect(m_hWnd, rc); }
  BOOL GetWindowRect(RECT* rc) const { return ::GetWindowRect(m_hWnd, rc); }
  LRESULT SendMessage(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) {
    return ::SendMessageW(m_hWnd, msg, wParam, lParam);
  }
  BOOL PostMessage(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) {
    return ::PostMessageW(m_hWnd, msg, wParam, lParam);
  }
  // Centres on the owner window, or on the work area when there is none.
  BOOL CenterWindow(HWND over = nullptr);

  virtual bool ProcessWindowMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult) = 0;

 protected:
  // Called before the first Create of this window object's class.
  virtual CWndClassInfo GetWndClassInfo() const { return CWndClassInfo{}; }
  // After WM_NCDESTROY; m_hWnd is already null. Heap windows may delete
  // themselves here.
  virtual void OnFinalMessage(HWND /*hwnd*/) {}

  HWND m_hWnd = nullptr;

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  static bool RegisterClassOnce(const CWndClassInfo& info);
};

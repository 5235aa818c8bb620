#pragma once

// The least ActiveX host the web view needs: a child window that creates the
// system's web browser control from its window text (a URL), activates it in
// place, keeps it sized to the client area, and answers the control's site
// questions (document host flags, context menu, the page's external object).
#include <exdisp.h>
#include <ole2.h>
#include <windows.h>

#include "base/scoped_win.h"

class CSomAxSite;

class CSomAxHostWnd {
 public:
  CSomAxHostWnd();
  virtual ~CSomAxHostWnd();
  CSomAxHostWnd(const CSomAxHostWnd&) = delete;
  CSomAxHostWnd& operator=(const CSomAxHostWnd&) = delete;

  HWND m_hWnd = nullptr;

  // Creates the host window of `className` (registered by the caller through
  // RegisterHostClass). The window text names the page the control opens.
  HWND CreateHostWindow(const wchar_t* className, HWND parent, const RECT& rect, const wchar_t* url, DWORD style,
                        DWORD exStyle, UINT id);
  static bool RegisterHostClass(const wchar_t* className);

  // The control, or null when it could not be created.
  IWebBrowser2* Browser() const { return m_browser.Get(); }
  bool HasControl() const { return static_cast<bool>(m_browser); }

  // What the ambient-property interface of a host offers.
  void PutAllowContextMenu(BOOL allow);
  void PutDocHostFlags(DWORD flags);
  void SetExternalDispatch(IDispatch* external);

 protected:
  // Gets every message first; returning true ends its handling with `result`.
  virtual bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);
  // Host processing: creates the control on WM_CREATE, closes it on WM_DESTROY.
  LRESULT DefaultHostMessage(UINT msg, WPARAM wParam, LPARAM lParam);

 private:
  friend class CSomAxSite;
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  bool CreateControl(const wchar_t* url);
  void CloseControl();

  ComPtr<CSomAxSite> m_site;
  ComPtr<IOleObject> m_oleObject;
  ComPtr<IWebBrowser2> m_browser;
};

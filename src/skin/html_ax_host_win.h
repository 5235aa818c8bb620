#pragma once

// The least ActiveX host the web view needs: a child window that creates the
// system's web browser control from its window text (a URL), activates it in
// place, keeps it sized to the client area, and answers the control's site
// questions (document host flags, context menu, the page's external object).
#include <exdisp.h>
#include <ole2.h>
#include <windows.h>

#include "base/scoped_win.h"
#include "ui/window_win.h"

class CSomAxSite;

class CSomAxHostWnd : public CWindowBase {
 public:
  CSomAxHostWnd();
  ~CSomAxHostWnd() override;

  using CWindowBase::m_hWnd;

  // Creates the host window (of the class GetWndClassInfo names). The window
  // text names the page the control opens; style 0 means a visible child.
  HWND CreateHostWindow(HWND parent, const RECT& rect, const wchar_t* url, DWORD style, DWORD exStyle, UINT id);

  // The control, or null when it could not be created.
  IWebBrowser2* Browser() const { return m_browser.Get(); }
  bool HasControl() const { return static_cast<bool>(m_browser); }

  // What the ambient-property interface of a host offers.
  void PutAllowContextMenu(BOOL allow);
  void PutDocHostFlags(DWORD flags);
  void SetExternalDispatch(IDispatch* external);

  BEGIN_MSG_MAP(CSomAxHostWnd)
  MESSAGE_HANDLER(WM_CREATE, OnCreate)
  MESSAGE_HANDLER(WM_SIZE, OnSize)
  MESSAGE_HANDLER(WM_ERASEBKGND, OnEraseBackground)
  MESSAGE_HANDLER(WM_DESTROY, OnDestroy)
  END_MSG_MAP()

 protected:
  CWndClassInfo GetWndClassInfo() const override;

  // Creates the control from the window text; refuses the window without it.
  LRESULT OnCreate(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
  // Closes the control and lets the message go on.
  LRESULT OnDestroy(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);

 private:
  friend class CSomAxSite;
  LRESULT OnSize(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
  LRESULT OnEraseBackground(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
  bool CreateControl(const wchar_t* url);
  void CloseControl();

  ComPtr<CSomAxSite> m_site;
  ComPtr<IOleObject> m_oleObject;
  ComPtr<IWebBrowser2> m_browser;
};

#pragma once

// The embedded web page: the system's web browser control in our own host
// window (class "SomHtmlView"), and its event sink.
#include <windows.h>

#include "base/scoped_win.h"
#include "skin/html_ax_host_win.h"

// Posted to the view's parent when a page fails to load (also when there is
// no browser control at all), so the parent can show its stand-by picture.
constexpr UINT WM_WEBNAVERROR = 3232;

// Child-window elements of a skinned window.
class ISomUIElement {
 public:
  virtual ~ISomUIElement() = default;
  virtual BOOL GetClientBox(RECT* rect) = 0;
  // Returns 0 when the parent is not a window.
  virtual BOOL GetBoundsInParent(RECT* rect) = 0;
  virtual BOOL SetBounds(int x, int y, int cx, int cy) = 0;
  virtual BOOL SetBoundsSize(int cx, int cy) = 0;
  virtual BOOL SetBoundsPos(int x, int y) = 0;
  virtual BOOL DestroyElement() = 0;
  virtual BOOL ShowElement(BOOL show) = 0;
};

class CSomHtmlWnd : public CSomAxHostWnd, public ISomUIElement {
 public:
  static constexpr const wchar_t* kClassName = L"SomHtmlView";

  CSomHtmlWnd() = default;
  ~CSomHtmlWnd() override;

  // Creates the host and the browser control, which opens `url`. Style and
  // extended style 0 mean a visible child. Returns null when the window or
  // the control cannot be made.
  HWND CreateBrowser(IDispatch* external, const wchar_t* url, HWND parent, const RECT& rect, DWORD style, DWORD exStyle,
                     UINT id, void* createParam, DWORD docHostFlags);
  void Navigate(const wchar_t* url);

  BOOL GetClientBox(RECT* rect) override;
  BOOL GetBoundsInParent(RECT* rect) override;
  BOOL SetBounds(int x, int y, int cx, int cy) override;
  BOOL SetBoundsSize(int cx, int cy) override;
  BOOL SetBoundsPos(int x, int y) override;
  BOOL DestroyElement() override;
  BOOL ShowElement(BOOL show) override;

 protected:
  // Where failures are reported: the parent given at creation.
  void ReportNavigationError();
  CWndClassInfo GetWndClassInfo() const override;

  BOOL m_bAllowContextMenu = FALSE;
  DWORD m_dwDocHostFlags = 0;
  ComPtr<IDispatch> m_spExternal;
  HWND m_hWndReport = nullptr;
};

// Opens a URL in the user's browser: the shell first, Internet Explorer from
// Program Files when the shell cannot.
void OpenUrlExternally(const wchar_t* url);

class CSomHtmlView : public CSomHtmlWnd {
 public:
  CSomHtmlView();
  ~CSomHtmlView() override;

  // The browser's DWebBrowserEvents2, delivered through the sink.
  HRESULT OnBrowserEvent(DISPID id, DISPPARAMS* params);
  // The sink object (for the control's connection point).
  IDispatch* EventSink() const;

  // Where NewWindow3 sends its URL; OpenUrlExternally unless changed.
  void SetExternalOpener(void (*opener)(const wchar_t* url)) { m_opener = opener; }

  BEGIN_MSG_MAP(CSomHtmlView)
  MESSAGE_HANDLER(WM_CREATE, OnCreate)
  MESSAGE_HANDLER(WM_DESTROY, OnDestroy)
  MESSAGE_HANDLER(WM_SETFOCUS, OnSetFocus)
  CHAIN_MSG_MAP(CSomHtmlWnd)
  END_MSG_MAP()

 private:
  LRESULT OnCreate(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
  LRESULT OnDestroy(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
  LRESULT OnSetFocus(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
  class CEventSink;
  void ConnectSink();
  void DisconnectSink();
  void FocusPage();

  ComPtr<CEventSink> m_sink;
  DWORD m_sinkCookie = 0;
  void (*m_opener)(const wchar_t* url) = &OpenUrlExternally;
};

#pragma once

// The window-system calls the element manager makes. Windows answers them
// with user32/gdi32 (som_platform_win.cpp); tests record them.
#include <functional>

#include "skin/som_types.h"

// What a WM_NOTIFY's record says, as far as tooltips care.
struct SomNotifyInfo {
  int code = 0;
  SomWParam idFrom = 0;
  unsigned flags = 0;  // uFlags of a tooltip text request
  tagNMTTDISPINFOW* record = nullptr;
};

class ISomPlatform {
 public:
  virtual void SetTimer(SomWindow hwnd, unsigned id, unsigned ms) = 0;
  virtual void KillTimer(SomWindow hwnd, unsigned id) = 0;
  virtual SomWindow GetCapture() = 0;
  virtual void SetCapture(SomWindow hwnd) = 0;
  virtual void ReleaseCapture() = 0;
  virtual SomLong SendHostMessage(SomWindow hwnd, unsigned msg, SomWParam wParam, SomLong lParam) = 0;
  virtual int PostHostMessage(SomWindow hwnd, unsigned msg, SomWParam wParam, SomLong lParam) = 0;
  // Never erases: the manager paints every pixel itself.
  virtual void InvalidateRect(SomWindow hwnd, const SomRect* rect) = 0;
  virtual void UpdateWindow(SomWindow hwnd) = 0;
  // The cursor in the window's client coordinates.
  virtual SomPoint GetCursorClientPos(SomWindow hwnd) = 0;
  // True while the cursor is inside the client area and the window under it
  // is hwnd itself.
  virtual bool IsCursorOverClient(SomWindow hwnd) = 0;

  virtual SomDC GetDC(SomWindow hwnd) = 0;
  virtual void ReleaseDC(SomWindow hwnd, SomDC dc) = 0;
  // BeginPaint/EndPaint around paint(dc, paint rectangle).
  virtual void PaintWindow(SomWindow hwnd, const std::function<void(SomDC, const SomRect&)>& paint) = 0;
  virtual SomRect GetClipBox(SomDC dc) = 0;
  virtual void IntersectClipRect(SomDC dc, const SomRect& rect) = 0;
  virtual void ExcludeClipRect(SomDC dc, const SomRect& rect) = 0;
  // A screen-compatible memory context with a cx × cy bitmap selected;
  // null when it cannot be made.
  virtual SomDC CreateBuffer(int cx, int cy) = 0;
  virtual void DeleteBuffer(SomDC buffer) = 0;
  virtual void SetViewportOrg(SomDC dc, int x, int y, SomPoint* old) = 0;
  virtual void OffsetViewportOrg(SomDC dc, int dx, int dy, SomPoint* old) = 0;
  virtual void BitBlt(SomDC dst, const SomRect& dstRect, SomDC src, int srcX, int srcY) = 0;
  // Fills rect with the window class's background brush, if it has one.
  virtual void FillClassBackground(SomWindow hwnd, SomDC dc, const SomRect& rect) = 0;

  // Reads a WM_NOTIFY lParam.
  virtual SomNotifyInfo ReadNotify(SomLong lParam) = 0;
  virtual bool IsWindow(SomWindow hwnd) = 0;
  virtual void AddTool(SomWindow tooltip, SomWindow owner, unsigned id, const SomRect& rect) = 0;
  virtual void DelTool(SomWindow tooltip, SomWindow owner, unsigned id) = 0;

 protected:
  ~ISomPlatform() = default;
};

// The platform managers use unless given another. Hosts without a window
// system get one that does nothing; on Windows the window base installs the
// Win32 one (UseWin32SomPlatform) before the first skinned window exists.
ISomPlatform& SomPlatform();
void SetSomPlatform(ISomPlatform* platform);

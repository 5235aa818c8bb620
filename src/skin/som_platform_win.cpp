#include "skin/som_platform_win.h"

#include <commctrl.h>

#include <type_traits>

#include "base/scoped_win.h"
#include "skin/som_platform.h"
#include "skin/som_wnd_manager.h"

// The portable toolkit names these types without windows.h; they must be the
// very Win32 ones.
static_assert(std::is_same_v<SomDC, HDC>);
static_assert(std::is_same_v<SomWindow, HWND>);
static_assert(std::is_same_v<SomFont, HFONT>);
static_assert(std::is_same_v<SomBitmapHandle, HBITMAP>);
static_assert(std::is_same_v<SomWParam, WPARAM>);
static_assert(std::is_same_v<SomLong, LPARAM>);
static_assert(std::is_same_v<SomLong, LRESULT>);
static_assert(std::is_same_v<SomColor, COLORREF> || sizeof(SomColor) == sizeof(COLORREF));
static_assert(sizeof(SomRect) == sizeof(RECT));
static_assert(som_msg::kDestroy == WM_DESTROY && som_msg::kSize == WM_SIZE && som_msg::kSetRedraw == WM_SETREDRAW);
static_assert(som_msg::kPaint == WM_PAINT && som_msg::kEraseBkgnd == WM_ERASEBKGND &&
              som_msg::kSetCursor == WM_SETCURSOR);
static_assert(som_msg::kNotify == WM_NOTIFY && som_msg::kCommand == WM_COMMAND && som_msg::kTimer == WM_TIMER);
static_assert(som_msg::kMouseMove == WM_MOUSEMOVE && som_msg::kLButtonDown == WM_LBUTTONDOWN);
static_assert(som_msg::kLButtonUp == WM_LBUTTONUP && som_msg::kLButtonDblClk == WM_LBUTTONDBLCLK);
static_assert(som_msg::kCaptureChanged == WM_CAPTURECHANGED && som_msg::kPrintClient == WM_PRINTCLIENT);
static_assert(static_cast<int>(TTN_GETDISPINFOW) == -530);

namespace {

class Win32SomPlatform final : public ISomPlatform {
 public:
  void SetTimer(SomWindow hwnd, unsigned id, unsigned ms) override { ::SetTimer(hwnd, id, ms, nullptr); }
  void KillTimer(SomWindow hwnd, unsigned id) override { ::KillTimer(hwnd, id); }
  SomWindow GetCapture() override { return ::GetCapture(); }
  void SetCapture(SomWindow hwnd) override { ::SetCapture(hwnd); }
  void ReleaseCapture() override { ::ReleaseCapture(); }
  SomLong SendHostMessage(SomWindow hwnd, unsigned msg, SomWParam wParam, SomLong lParam) override {
    return ::SendMessageW(hwnd, msg, wParam, lParam);
  }
  int PostHostMessage(SomWindow hwnd, unsigned msg, SomWParam wParam, SomLong lParam) override {
    return ::PostMessageW(hwnd, msg, wParam, lParam);
  }
  void InvalidateRect(SomWindow hwnd, const SomRect* rect) override {
    if (rect) {
      RECT rc = ToRECT(*rect);
      ::InvalidateRect(hwnd, &rc, FALSE);
    } else {
      ::InvalidateRect(hwnd, nullptr, FALSE);
    }
  }
  void UpdateWindow(SomWindow hwnd) override { ::UpdateWindow(hwnd); }
  SomPoint GetCursorClientPos(SomWindow hwnd) override {
    POINT pt{};
    ::GetCursorPos(&pt);
    ::ScreenToClient(hwnd, &pt);
    return SomPoint{static_cast<std::int32_t>(pt.x), static_cast<std::int32_t>(pt.y)};
  }
  bool IsCursorOverClient(SomWindow hwnd) override {
    RECT client{};
    ::GetClientRect(hwnd, &client);
    POINT corners[2] = {{client.left, client.top}, {client.right, client.bottom}};
    ::MapWindowPoints(hwnd, nullptr, corners, 2);
    RECT screen{corners[0].x, corners[0].y, corners[1].x, corners[1].y};
    POINT cursor{};
    if (!::GetCursorPos(&cursor)) return false;
    return ::PtInRect(&screen, cursor) && ::WindowFromPoint(cursor) == hwnd;
  }
  SomDC GetDC(SomWindow hwnd) override { return ::GetDC(hwnd); }
  void ReleaseDC(SomWindow hwnd, SomDC dc) override { ::ReleaseDC(hwnd, dc); }
  void PaintWindow(SomWindow hwnd, const std::function<void(SomDC, const SomRect&)>& paint) override {
    PAINTSTRUCT ps{};
    HDC dc = ::BeginPaint(hwnd, &ps);
    if (dc) paint(dc, ToSomRect(ps.rcPaint));
    ::EndPaint(hwnd, &ps);
  }
  SomRect GetClipBox(SomDC dc) override {
    RECT rc{};
    ::GetClipBox(dc, &rc);
    return ToSomRect(rc);
  }
  void IntersectClipRect(SomDC dc, const SomRect& r) override {
    ::IntersectClipRect(dc, r.left, r.top, r.right, r.bottom);
  }
  void ExcludeClipRect(SomDC dc, const SomRect& r) override { ::ExcludeClipRect(dc, r.left, r.top, r.right, r.bottom); }
  SomDC CreateBuffer(int cx, int cy) override {
    ScopedGetDC screen(nullptr);
    if (!screen.Get()) return nullptr;
    ScopedMemoryDC dc(::CreateCompatibleDC(screen.Get()));
    ScopedGdiObject bitmap(dc ? ::CreateCompatibleBitmap(screen.Get(), cx, cy) : nullptr);
    if (!bitmap) return nullptr;
    // The buffer owns its bitmap from here on (DeleteBuffer); the stock
    // bitmap that comes back is not ours to delete.
    ::SelectObject(dc.Get(), bitmap.Release());
    return dc.Release();
  }
  void DeleteBuffer(SomDC buffer) override {
    ScopedGdiObject bitmap(::GetCurrentObject(buffer, OBJ_BITMAP));
    ScopedMemoryDC dc(buffer);  // goes first, so the bitmap is no longer selected when it is deleted
  }
  void SetViewportOrg(SomDC dc, int x, int y, SomPoint* old) override {
    POINT pt{};
    ::SetViewportOrgEx(dc, x, y, &pt);
    if (old) *old = SomPoint{static_cast<std::int32_t>(pt.x), static_cast<std::int32_t>(pt.y)};
  }
  void OffsetViewportOrg(SomDC dc, int dx, int dy, SomPoint* old) override {
    POINT pt{};
    ::OffsetViewportOrgEx(dc, dx, dy, &pt);
    if (old) *old = SomPoint{static_cast<std::int32_t>(pt.x), static_cast<std::int32_t>(pt.y)};
  }
  void BitBlt(SomDC dst, const SomRect& r, SomDC src, int srcX, int srcY) override {
    ::BitBlt(dst, r.left, r.top, r.Width(), r.Height(), src, srcX, srcY, SRCCOPY);
  }
  void FillClassBackground(SomWindow hwnd, SomDC dc, const SomRect& r) override {
    auto brush = reinterpret_cast<HBRUSH>(::GetClassLongPtrW(hwnd, GCLP_HBRBACKGROUND));
    if (!brush) return;
    RECT rc = ToRECT(r);
    // System colour brushes are stored as COLOR_x + 1.
    if (reinterpret_cast<ULONG_PTR>(brush) <= COLOR_MENUBAR + 1) {
      ::FillRect(dc, &rc, ::GetSysColorBrush(static_cast<int>(reinterpret_cast<ULONG_PTR>(brush)) - 1));
    } else {
      ::FillRect(dc, &rc, brush);
    }
  }
  SomNotifyInfo ReadNotify(SomLong lParam) override {
    SomNotifyInfo info;
    auto* header = reinterpret_cast<NMHDR*>(lParam);
    if (!header) return info;
    info.code = static_cast<int>(header->code);
    info.idFrom = header->idFrom;
    if (header->code == TTN_GETDISPINFOW) {
      auto* record = reinterpret_cast<NMTTDISPINFOW*>(lParam);
      info.flags = record->uFlags;
      info.record = record;
    }
    return info;
  }
  bool IsWindow(SomWindow hwnd) override { return ::IsWindow(hwnd) != FALSE; }
  void AddTool(SomWindow tooltip, SomWindow owner, unsigned id, const SomRect& rect) override {
    TOOLINFOW ti{};
    ti.cbSize = sizeof(ti);
    ti.hwnd = owner;
    ti.uId = id;
    ti.rect = ToRECT(rect);
    ti.lpszText = LPSTR_TEXTCALLBACKW;
    ::SendMessageW(tooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
  }
  void DelTool(SomWindow tooltip, SomWindow owner, unsigned id) override {
    TOOLINFOW ti{};
    ti.cbSize = sizeof(ti);
    ti.hwnd = owner;
    ti.uId = id;
    ::SendMessageW(tooltip, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
  }
};

}  // namespace

void UseWin32SomPlatform() {
  static Win32SomPlatform platform;
  SetSomPlatform(&platform);
}

void SetWindowPolygon(HWND hwnd, const POINT* points, int count) {
  ScopedGdiObject region(::CreatePolygonRgn(points, count, ALTERNATE));
  // Once set, the region belongs to the window.
  if (region && ::SetWindowRgn(hwnd, static_cast<HRGN>(region.Get()), FALSE)) region.Release();
}

void SetCutCornerRegion(HWND hwnd, int cut) {
  RECT rc;
  ::GetClientRect(hwnd, &rc);
  const int w = rc.right;
  const int h = rc.bottom;
  const int c = cut;
  const POINT corners[] = {{c, 0}, {w - c, 0}, {w, c}, {w, h - c}, {w - c, h}, {c, h}, {0, h - c}, {0, c}};
  SetWindowPolygon(hwnd, corners, 8);
}

LRESULT PressOrDrag(CSomWndManager& manager, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  SomLong result = 0;
  manager.ProcessWindowMessage(hwnd, msg, wParam, lParam, result);
  if (!manager.GetCaptureElement()) ::PostMessageW(hwnd, WM_NCLBUTTONDOWN, HTCAPTION, lParam);
  return result;
}

#pragma once

// Plain types shared by the painted-element toolkit. The Win32 handle types
// are only named here (never defined), so portable code can pass them
// around without windows.h; on Windows they are the very HDC, HWND, ...
#include <cstdint>

struct HDC__;
struct HWND__;
struct HFONT__;
struct HBITMAP__;
struct tagNMTTDISPINFOW;

using SomDC = HDC__*;                // HDC
using SomWindow = HWND__*;           // HWND
using SomFont = HFONT__*;            // HFONT
using SomBitmapHandle = HBITMAP__*;  // HBITMAP
using SomColor = std::uint32_t;      // COLORREF, 0x00BBGGRR
using SomWParam = std::uintptr_t;    // WPARAM
// LPARAM and LRESULT: LONG_PTR is `long` on 32-bit Windows, not intptr_t.
#if defined(_WIN32) && !defined(_WIN64)
using SomLong = long;
#else
using SomLong = std::intptr_t;
#endif

struct SomPoint {
  std::int32_t x = 0;
  std::int32_t y = 0;
};

// Same layout as RECT: right and bottom are exclusive.
struct SomRect {
  std::int32_t left = 0;
  std::int32_t top = 0;
  std::int32_t right = 0;
  std::int32_t bottom = 0;

  std::int32_t Width() const { return right - left; }
  std::int32_t Height() const { return bottom - top; }
  bool IsEmpty() const { return right <= left || bottom <= top; }
  bool Contains(SomPoint p) const { return p.x >= left && p.x < right && p.y >= top && p.y < bottom; }
  void Offset(std::int32_t dx, std::int32_t dy) {
    left += dx;
    right += dx;
    top += dy;
    bottom += dy;
  }
};

inline bool operator==(const SomRect& a, const SomRect& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}
inline bool operator!=(const SomRect& a, const SomRect& b) { return !(a == b); }
inline bool operator==(SomPoint a, SomPoint b) { return a.x == b.x && a.y == b.y; }

inline SomRect MakeSomRect(std::int32_t x, std::int32_t y, std::int32_t cx, std::int32_t cy) {
  return SomRect{x, y, x + cx, y + cy};
}

// The overlap of two rectangles; empty (all zero) when they do not meet,
// as IntersectRect answers.
inline SomRect IntersectSomRect(const SomRect& a, const SomRect& b) {
  SomRect r{a.left > b.left ? a.left : b.left, a.top > b.top ? a.top : b.top, a.right < b.right ? a.right : b.right,
            a.bottom < b.bottom ? a.bottom : b.bottom};
  if (r.IsEmpty()) return SomRect{};
  return r;
}

// Window messages the toolkit handles, by value, so portable code can
// dispatch on them.
namespace som_msg {
constexpr unsigned kDestroy = 0x0002;
constexpr unsigned kSize = 0x0005;
constexpr unsigned kSetRedraw = 0x000B;
constexpr unsigned kPaint = 0x000F;
constexpr unsigned kEraseBkgnd = 0x0014;
constexpr unsigned kSetCursor = 0x0020;
constexpr unsigned kNotify = 0x004E;
constexpr unsigned kCommand = 0x0111;
constexpr unsigned kTimer = 0x0113;
constexpr unsigned kMouseMove = 0x0200;
constexpr unsigned kLButtonDown = 0x0201;
constexpr unsigned kLButtonUp = 0x0202;
constexpr unsigned kLButtonDblClk = 0x0203;
constexpr unsigned kCaptureChanged = 0x0215;
constexpr unsigned kPrintClient = 0x0318;
}  // namespace som_msg

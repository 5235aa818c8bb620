#pragma once

#include <windows.h>

#include "skin/som_types.h"

class CSomWndManager;

// Makes SomPlatform() answer with user32/gdi32. Window bases call it before
// creating a window; calling it again does nothing.
void UseWin32SomPlatform();

inline RECT ToRECT(const SomRect& r) { return RECT{r.left, r.top, r.right, r.bottom}; }
inline SomRect ToSomRect(const RECT& r) {
  return SomRect{static_cast<std::int32_t>(r.left), static_cast<std::int32_t>(r.top),
                 static_cast<std::int32_t>(r.right), static_cast<std::int32_t>(r.bottom)};
}

// Clips a window to a polygon in client coordinates (alternate fill). The
// window owns the region once it is set.
void SetWindowPolygon(HWND hwnd, const POINT* points, int count);
// Clips a window to its client rectangle with each corner cut off by `cut`
// pixels along both edges: the octagon of the small skinned windows.
void SetCutCornerRegion(HWND hwnd, int cut);

// WM_LBUTTONDOWN of a skinned window that drags by any point. The element
// under the mouse gets the press first; a press that no element took starts
// the move. A button's press must not start the move loop as well: the loop
// takes the mouse capture at once, which would end the button's capture and
// fire its command on the press instead of the release.
LRESULT PressOrDrag(CSomWndManager& manager, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

#pragma once

#include <windows.h>

#include "skin/som_types.h"

// Makes SomPlatform() answer with user32/gdi32. Window bases call it before
// creating a window; calling it again does nothing.
void UseWin32SomPlatform();

inline RECT ToRECT(const SomRect& r) { return RECT{r.left, r.top, r.right, r.bottom}; }
inline SomRect ToSomRect(const RECT& r) {
  return SomRect{static_cast<std::int32_t>(r.left), static_cast<std::int32_t>(r.top),
                 static_cast<std::int32_t>(r.right), static_cast<std::int32_t>(r.bottom)};
}

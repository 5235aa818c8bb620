#include "skin/som_text_wnd_win.h"

#include <windows.h>

#include "base/scoped_win.h"
#include "skin/html_view_win.h"
#include "skin/skin_table_win.h"
#include "skin/som_text_wnd.h"

namespace {

class Win32TextServices : public ISomTextServices {
 public:
  SomFont SkinFont(int index) override { return TheSkinTable().GetFont(index); }

  TextExtent MeasureText(SomFont font, const std::wstring& text) override {
    HDC dc = TheSharedMemoryDC().Get();
    ScopedSelectObject select(dc, font);
    SIZE size = {};
    ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    return {size.cx, size.cy};
  }

  SomRect GetClipBox(SomDC dc) override {
    RECT rc = {};
    ::GetClipBox(dc, &rc);
    return SomRect{rc.left, rc.top, rc.right, rc.bottom};
  }

  void DrawRun(SomDC dc, const std::wstring& text, const SomRect& rect, SomFont font, SomColor colour,
               bool ellipsis) override {
    ScopedTextStyle style(dc, font, colour & 0xFFFFFF);
    if (ellipsis) {
      RECT rc = {rect.left, rect.top, rect.right, rect.bottom};
      ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &rc, DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
    } else {
      ::TextOutW(dc, rect.left, rect.top, text.c_str(), static_cast<int>(text.size()));
    }
  }

  void SetHandCursor() override { ::SetCursor(::LoadCursorW(nullptr, IDC_HAND)); }

  // A target the shell cannot open is ignored, as a link that goes nowhere;
  // anything but a web address is never handed to it.
  void ShellOpen(const std::wstring& target) override { OpenUrlExternally(target.c_str()); }
};

Win32TextServices g_win32TextServices;

}  // namespace

void UseWin32SomTextServices() { SetSomTextServices(&g_win32TextServices); }

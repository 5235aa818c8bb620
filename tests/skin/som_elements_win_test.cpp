// The elements with the real skin strips, painted by GDI.
#include <gtest/gtest.h>
#include <windows.h>

#include <functional>

#include "skin/skin_resource_ids.h"
#include "skin/skin_table_win.h"
#include "skin/som_button.h"
#include "skin/som_progress_win.h"
#include "skin/som_wnd_manager.h"
#include "ui/window_win.h"

namespace {

constexpr COLORREF kBackground = RGB(0, 0, 255);
constexpr std::uint32_t kStyle = CSomWnd::StyleVisible | CSomWnd::StyleAutoSize;

class HostWnd : public CWindowBase, public CSomWndManager {
 public:
  explicit HostWnd(std::function<void(HostWnd&)> create) : m_create(std::move(create)) {}

  BEGIN_MSG_MAP(HostWnd)
  MESSAGE_HANDLER(WM_CREATE, OnCreate)
  CHAIN_MSG_MAP(CSomWndManager)
  END_MSG_MAP()

  void PaintBackground(SomDC dc, const SomRect* rect) override {
    RECT rc{};
    if (rect) {
      rc = RECT{rect->left, rect->top, rect->right, rect->bottom};
    } else {
      ::GetClipBox(dc, &rc);
    }
    ScopedGdiObject brush(::CreateSolidBrush(kBackground));
    ::FillRect(dc, &rc, static_cast<HBRUSH>(brush.Get()));
  }

  LRESULT OnCreate(UINT, WPARAM, LPARAM, BOOL& handled) {
    m_create(*this);
    handled = FALSE;
    return 0;
  }

  bool Open() {
    RECT rc{0, 0, 500, 100};
    return Create(nullptr, rc, L"elements", WS_POPUP) != nullptr;
  }

  // Paints the client area into a 32-bit DIB and reads one pixel.
  COLORREF PixelAt(int x, int y) {
    ScopedGetDC screen(nullptr);
    ScopedMemoryDC dc(::CreateCompatibleDC(screen.Get()));
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = 500;
    bi.bmiHeader.biHeight = -100;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    ScopedGdiObject bitmap(::CreateDIBSection(dc.Get(), &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
    ScopedSelectObject select(dc.Get(), bitmap.Get());
    ::SendMessageW(m_hWnd, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc.Get()), PRF_CLIENT);
    ::GdiFlush();
    COLORREF color = ::GetPixel(dc.Get(), x, y);
    return color;
  }

 protected:
  CWndClassInfo GetWndClassInfo() const override {
    CWndClassInfo info;
    info.name = L"GdElementsTest";
    return info;
  }

 private:
  std::function<void(HostWnd&)> m_create;
};

TEST(SkinElementsTest, AutoSizedButtonsTakeTheirFrameSize) {
  CSomButton4 closeLabel;
  CMySomButton4 captioned;
  CSomButton4 close;
  HostWnd wnd([&](HostWnd& w) {
    closeLabel.Create(&w, 126, kStyle);
    closeLabel.SetImage(&TheSkinTable().m_bmpCloseLabel);
    captioned.Create(&w, 127, kStyle);
    captioned.SetText(L"关闭");
    captioned.SetImage(&TheSkinTable().m_bmpCloseLabel);
    close.Create(&w, 102, kStyle);
    close.SetImage(&TheSkinTable().m_bmpClose);
  });
  ASSERT_TRUE(wnd.Open());
  EXPECT_EQ(closeLabel.GetWidth(), 78);
  EXPECT_EQ(closeLabel.GetHeight(), 30);
  EXPECT_EQ(captioned.GetWidth(), 78);
  EXPECT_GT(captioned.GetContentX(), 0);  // the caption is centred
  EXPECT_EQ(close.GetWidth(), 19);
  EXPECT_EQ(close.GetHeight(), 20);
}

TEST(SkinElementsTest, DisabledThreeFrameButtonShowsOnlyTheBackground) {
  CSomButton4 button;
  HostWnd wnd([&](HostWnd& w) {
    button.Create(&w, 126, kStyle);
    button.SetImage(&TheSkinTable().m_bmpCloseLabel);
    button.SetPos(10, 10);
  });
  ASSERT_TRUE(wnd.Open());
  EXPECT_NE(wnd.PixelAt(10 + 39, 10 + 15), kBackground);  // the normal frame is drawn
  button.Enable(false);
  EXPECT_EQ(wnd.PixelAt(10 + 39, 10 + 15), kBackground);
}

TEST(SkinElementsTest, CheckBoxSizesFromItsStripAndCaption) {
  CSomBitmap strip(IDB_CHECKBOX, 9);
  CSomCheckBox plain{&strip, false};
  CSomCheckBox captioned{&strip, false};
  HostWnd wnd([&](HostWnd& w) {
    plain.Create(&w, 1, kStyle);
    captioned.SetText(L"同时安装");
    captioned.Create(&w, 2, kStyle);
  });
  ASSERT_TRUE(wnd.Open());
  EXPECT_EQ(plain.GetWidth(), 14);
  EXPECT_EQ(plain.GetHeight(), 14);
  // Its picture has see-through corners: the background is painted under it.
  EXPECT_TRUE(plain.IsTransparent());
  EXPECT_GT(captioned.GetWidth(), 14 + 5);
  EXPECT_TRUE(captioned.IsTransparent());
}

TEST(SkinElementsTest, ProgressFillCoversExactlyItsShare) {
  CGardBoxProgress bar;
  HostWnd wnd([&](HostWnd& w) {
    bar.Create(&w, 0, 10, 400, 0, 5, kStyle);
    bar.SetCapWidth(9);
  });
  ASSERT_TRUE(wnd.Open());
  EXPECT_EQ(bar.GetHeight(), 17);
  const int y = 10 + 8;
  const COLORREF emptyAt100 = wnd.PixelAt(100, y);
  const COLORREF emptyAt300 = wnd.PixelAt(300, y);
  bar.SetProgressPos(50);
  EXPECT_NE(wnd.PixelAt(100, y), emptyAt100);  // filled
  EXPECT_EQ(wnd.PixelAt(300, y), emptyAt300);  // past the fill: still the track
  bar.SetProgressPos(150);
  EXPECT_EQ(bar.GetProgressPos(), 100);
  bar.SetRange(0, 100);
  EXPECT_EQ(bar.GetProgressPos(), 100);
}

}  // namespace

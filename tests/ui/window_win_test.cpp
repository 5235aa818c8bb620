#include "ui/window_win.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

#include "base/scoped_win.h"
#include "skin/som_button.h"
#include "skin/som_wnd_manager.h"
#include "ui/message_loop_win.h"

namespace {

constexpr COLORREF kBackground = RGB(0, 0, 255);
constexpr COLORREF kOpaque = RGB(255, 0, 0);
constexpr COLORREF kDot = RGB(0, 255, 0);

// Fills its whole rectangle: coordinates are element-relative.
class Block : public CSomWnd {
 public:
  void OnPaint(SomDC dc, int, int) override {
    RECT rc{0, 0, GetWidth(), GetHeight()};
    ScopedGdiObject brush(::CreateSolidBrush(kOpaque));
    ::FillRect(dc, &rc, static_cast<HBRUSH>(brush.Get()));
  }
};

// Draws only a 2 × 2 dot at its top-left; the rest must show the window's
// background composed beneath it.
class Dot : public CSomWnd {
 public:
  void OnCreate() override { m_dwStyle |= StyleTransparent; }
  void OnPaint(SomDC dc, int, int) override {
    RECT rc{0, 0, 2, 2};
    ScopedGdiObject brush(::CreateSolidBrush(kDot));
    ::FillRect(dc, &rc, static_cast<HBRUSH>(brush.Get()));
  }
};

class TestWnd : public CWindowBase, public CSomWndManager {
 public:
  static constexpr int kButtonId = 1003;

  BEGIN_MSG_MAP(TestWnd)
  MESSAGE_HANDLER(WM_CREATE, OnCreate)
  MESSAGE_HANDLER(WM_LBUTTONDOWN, OnLButtonDown)
  COMMAND_ID_HANDLER(kButtonId, OnButton)
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
    button.Create(this, 10, 10, 40, 20, kButtonId, CSomWnd::StyleVisible);
    block.Create(this, 60, 10, 20, 20, 2, CSomWnd::StyleVisible);
    dot.Create(this, 100, 10, 20, 20, 3, CSomWnd::StyleVisible);
    ++creates;
    handled = FALSE;  // the manager sees WM_CREATE too
    return 0;
  }
  LRESULT OnLButtonDown(UINT, WPARAM, LPARAM, BOOL& handled) {
    ++windowSawDown;
    handled = FALSE;  // the elements still get it
    return 0;
  }
  LRESULT OnButton(WORD code, WORD id, HWND ctl, BOOL&) {
    commands.push_back({code, id, reinterpret_cast<CSomWnd*>(ctl)});
    return 0;
  }

  struct Command {
    WORD code;
    WORD id;
    CSomWnd* elem;
  };
  std::vector<Command> commands;
  int creates = 0;
  int windowSawDown = 0;
  CSomButton4 button;
  Block block;
  Dot dot;

 protected:
  CWndClassInfo GetWndClassInfo() const override {
    CWndClassInfo info;
    info.name = L"GdWindowBaseTest";
    return info;
  }
};

HWND CreateTestWindow(TestWnd& wnd) {
  RECT rc{0, 0, 200, 60};
  return wnd.Create(nullptr, rc, L"test", WS_POPUP);
}

LPARAM At(int x, int y) { return MAKELPARAM(x, y); }

TEST(WindowBaseTest, ElementClickReachesTheMessageMapAsACommand) {
  TestWnd wnd;
  HWND hwnd = CreateTestWindow(wnd);
  ASSERT_NE(hwnd, nullptr);
  EXPECT_EQ(wnd.creates, 1);
  EXPECT_EQ(wnd.GetHostWindow(), hwnd);
  ::SendMessageW(hwnd, WM_MOUSEMOVE, 0, At(15, 15));
  ::SendMessageW(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, At(15, 15));
  EXPECT_EQ(::GetCapture(), hwnd);
  ::SendMessageW(hwnd, WM_LBUTTONUP, 0, At(15, 15));
  EXPECT_EQ(::GetCapture(), nullptr);
  ASSERT_EQ(wnd.commands.size(), 1u);
  EXPECT_EQ(wnd.commands[0].id, TestWnd::kButtonId);
  EXPECT_EQ(wnd.commands[0].code, 0);
  EXPECT_EQ(wnd.commands[0].elem, &wnd.button);
  EXPECT_EQ(wnd.windowSawDown, 1);
  wnd.DestroyWindow();
  EXPECT_EQ(wnd.Handle(), nullptr);
}

TEST(WindowBaseTest, ReleasedOffTheButtonSendsNothing) {
  TestWnd wnd;
  HWND hwnd = CreateTestWindow(wnd);
  ::SendMessageW(hwnd, WM_MOUSEMOVE, 0, At(15, 15));
  ::SendMessageW(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, At(15, 15));
  ::SendMessageW(hwnd, WM_MOUSEMOVE, MK_LBUTTON, At(150, 50));
  ::SendMessageW(hwnd, WM_LBUTTONUP, 0, At(150, 50));
  EXPECT_TRUE(wnd.commands.empty());
}

TEST(WindowBaseTest, DestroyedWindowObjectCanBeCreatedAgain) {
  TestWnd wnd;
  HWND first = CreateTestWindow(wnd);
  ASSERT_NE(first, nullptr);
  ::DestroyWindow(first);
  EXPECT_EQ(wnd.button.GetManager(), nullptr);
  EXPECT_TRUE(wnd.GetElements().empty());
  EXPECT_EQ(wnd.GetHostWindow(), nullptr);

  HWND second = CreateTestWindow(wnd);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(wnd.GetHostWindow(), second);
  EXPECT_EQ(wnd.GetElements().size(), 3u);
  EXPECT_EQ(wnd.button.GetManager(), &wnd);
  ::SendMessageW(second, WM_MOUSEMOVE, 0, At(15, 15));
  ::SendMessageW(second, WM_LBUTTONDOWN, MK_LBUTTON, At(15, 15));
  ::SendMessageW(second, WM_LBUTTONUP, 0, At(15, 15));
  EXPECT_EQ(wnd.commands.size(), 1u);
}

TEST(WindowBaseTest, PrintClientPaintsElementsOverTheBackground) {
  TestWnd wnd;
  HWND hwnd = CreateTestWindow(wnd);
  ASSERT_NE(hwnd, nullptr);
  ScopedGetDC screen(nullptr);
  ScopedMemoryDC dc(::CreateCompatibleDC(screen.Get()));
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
  bi.bmiHeader.biWidth = 200;
  bi.bmiHeader.biHeight = -60;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  ScopedGdiObject bitmap(::CreateDIBSection(dc.Get(), &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
  ASSERT_TRUE(bitmap);
  ScopedSelectObject select(dc.Get(), bitmap.Get());
  ::SendMessageW(hwnd, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc.Get()), PRF_CLIENT);
  ::GdiFlush();
  EXPECT_EQ(::GetPixel(dc.Get(), 65, 15), kOpaque);       // opaque element, shifted by its position
  EXPECT_EQ(::GetPixel(dc.Get(), 100, 10), kDot);         // transparent element's own pixels
  EXPECT_EQ(::GetPixel(dc.Get(), 110, 20), kBackground);  // and the background beneath the rest
  EXPECT_EQ(::GetPixel(dc.Get(), 190, 50), kBackground);  // outside every element
}

TEST(WindowBaseTest, TickDropsTheHoverOnceTheCursorIsElsewhere) {
  TestWnd wnd;
  HWND hwnd = CreateTestWindow(wnd);
  ASSERT_NE(hwnd, nullptr);
  ::ShowWindow(hwnd, SW_SHOWNOACTIVATE);
  ::UpdateWindow(hwnd);
  ASSERT_TRUE(::SetCursorPos(15, 15));
  ::SendMessageW(hwnd, WM_MOUSEMOVE, 0, At(15, 15));
  ASSERT_EQ(wnd.GetHoverElement(), &wnd.button);
  ::SendMessageW(hwnd, WM_TIMER, CSomWndManager::kTickTimerId, 0);
  EXPECT_EQ(wnd.GetHoverElement(), &wnd.button);  // still over the window
  ASSERT_TRUE(::SetCursorPos(600, 400));
  ::SendMessageW(hwnd, WM_TIMER, CSomWndManager::kTickTimerId, 0);
  EXPECT_EQ(wnd.GetHoverElement(), nullptr);
  EXPECT_FALSE(wnd.button.IsHover());
}

class SwallowFilter : public CMessageFilter {
 public:
  bool PreTranslateMessage(MSG* msg) override {
    if (msg->message == WM_APP + 1) {
      ++swallowed;
      return true;
    }
    return false;
  }
  int swallowed = 0;
};

TEST(MessageLoopTest, RunUntilStopsWhenDoneAndFiltersFirst) {
  CMessageLoop loop;
  SwallowFilter filter;
  loop.AddMessageFilter(&filter);
  int seen = 0;
  ::PostThreadMessageW(::GetCurrentThreadId(), WM_APP + 1, 0, 0);
  ::PostThreadMessageW(::GetCurrentThreadId(), WM_APP + 2, 0, 0);
  // Thread messages reach no window, so count them through a second filter.
  class Counter : public CMessageFilter {
   public:
    explicit Counter(int* n) : m_n(n) {}
    bool PreTranslateMessage(MSG* msg) override {
      if (msg->message == WM_APP + 2) ++*m_n;
      return false;
    }

   private:
    int* m_n;
  } counter(&seen);
  loop.AddMessageFilter(&counter);
  EXPECT_TRUE(loop.RunUntil([&] { return seen == 1; }));
  EXPECT_EQ(filter.swallowed, 1);
}

TEST(MessageLoopTest, RunUntilPassesQuitOnToTheOuterLoop) {
  CMessageLoop loop;
  ::PostQuitMessage(7);
  EXPECT_FALSE(loop.RunUntil([] { return false; }));
  MSG msg{};
  ASSERT_TRUE(::PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 7u);
}

}  // namespace

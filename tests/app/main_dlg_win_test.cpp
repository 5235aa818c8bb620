#include "app/main_dlg_win.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

#include "ui/message_loop_win.h"

namespace {

// Records the keys that reach it.
class KeyWnd : public CWindowBase {
 public:
  BEGIN_MSG_MAP(KeyWnd)
  MESSAGE_RANGE_HANDLER(WM_KEYDOWN, WM_KEYLAST, OnKey)
  END_MSG_MAP()

  std::vector<std::pair<UINT, WPARAM>> keys;

 protected:
  CWndClassInfo GetWndClassInfo() const override {
    CWndClassInfo info;
    info.name = L"MainDlgFilterTestWnd";
    return info;
  }

 private:
  LRESULT OnKey(UINT msg, WPARAM wParam, LPARAM, BOOL&) {
    keys.emplace_back(msg, wParam);
    return 0;
  }
};

}  // namespace

// The filter of the one initialization window object sits in the thread's
// loop, so keys for any other window pass it too.
TEST(MainDlgFilter, EnterAndEscapeNeverReachAnotherWindowOfTheThread) {
  CMainDlg mainDlg;  // never created: its filter works without a window
  KeyWnd target;
  RECT rc = {0, 0, 100, 100};
  ASSERT_TRUE(target.Create(nullptr, rc, L"keys", WS_POPUP));
  CMessageLoop loop;
  loop.AddMessageFilter(&mainDlg);

  const std::vector<std::pair<UINT, WPARAM>> posted = {
      {WM_KEYDOWN, VK_RETURN},    {WM_KEYDOWN, VK_ESCAPE}, {WM_CHAR, VK_RETURN},   {WM_KEYUP, VK_ESCAPE},
      {WM_SYSKEYDOWN, VK_RETURN}, {WM_KEYDOWN, 'A'},       {WM_KEYDOWN, VK_SPACE}, {WM_CHAR, 'x'},
  };
  for (const auto& m : posted) ::PostMessageW(target, m.first, m.second, 0);
  ::PostQuitMessage(0);
  loop.Run();

  // The loop's TranslateMessage adds characters for the key presses that
  // pass; none of what arrives may be Enter or Escape.
  int returnOrEscape = 0;
  bool sawA = false, sawSpace = false, sawX = false;
  for (const auto& k : target.keys) {
    if (k.second == VK_RETURN || k.second == VK_ESCAPE) ++returnOrEscape;
    if (k.first == WM_KEYDOWN && k.second == 'A') sawA = true;
    if (k.first == WM_KEYDOWN && k.second == VK_SPACE) sawSpace = true;
    if (k.first == WM_CHAR && k.second == 'x') sawX = true;
  }
  EXPECT_EQ(returnOrEscape, 0);
  EXPECT_TRUE(sawA && sawSpace && sawX) << "other keys still pass";
  target.DestroyWindow();
}

TEST(MainDlgFilter, WithoutTheFilterTheSameKeysArrive) {
  KeyWnd target;
  RECT rc = {0, 0, 100, 100};
  ASSERT_TRUE(target.Create(nullptr, rc, L"keys", WS_POPUP));
  CMessageLoop loop;
  ::PostMessageW(target, WM_KEYDOWN, VK_RETURN, 0);
  ::PostMessageW(target, WM_KEYDOWN, VK_ESCAPE, 0);
  ::PostQuitMessage(0);
  loop.Run();
  int keyDowns = 0;
  for (const auto& k : target.keys) keyDowns += k.first == WM_KEYDOWN;
  EXPECT_EQ(keyDowns, 2);
  target.DestroyWindow();
}

#pragma once

#include <windows.h>

#include <string>

#include "skin/som_wnd_manager.h"
#include "ui/window_win.h"

// The download window: the program's main screen once initialization has
// succeeded. The initialization window makes it on the heap and forgets it;
// it lives until the player chooses "关闭" in the notification-area menu.
// Its window class is named after the game key, so that a second start of
// the program finds it and sends it command 2025.
class CDLDlg : public CWindowBase, public CSomWndManager {
 public:
  // The built-in background (PNG resource 105).
  CDLDlg();
  // The fetched skin picture as background when it decodes to at least
  // 680 x 420 pixels; otherwise the built-in one.
  explicit CDLDlg(const std::wstring& backgroundPicture);
  ~CDLDlg() override;
};

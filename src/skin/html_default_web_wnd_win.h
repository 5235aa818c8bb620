#pragma once

// The stand-by for the embedded web page: a skinned child window showing the
// built-in picture.
#include <windows.h>

#include "skin/som_bitmap_win.h"
#include "skin/som_wnd_manager.h"
#include "ui/window_win.h"

class CDefaultWebWnd : public CWindowBase, public CSomWndManager {
 public:
  CDefaultWebWnd();
  ~CDefaultWebWnd() override;

  BEGIN_MSG_MAP(CDefaultWebWnd)
  MESSAGE_HANDLER(WM_LBUTTONUP, OnLButtonUp)
  CHAIN_MSG_MAP(CSomWndManager)
  END_MSG_MAP()

  void PaintBackground(SomDC dc, const SomRect* rect) override;

 protected:
  CWndClassInfo GetWndClassInfo() const override;

 private:
  // The picture is no link: a click on it does nothing.
  LRESULT OnLButtonUp(UINT, WPARAM, LPARAM, BOOL&) { return 0; }

  CSomBitmap* m_pPicture;
};

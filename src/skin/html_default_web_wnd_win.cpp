#include "skin/html_default_web_wnd_win.h"

#include "skin/skin_resource_ids.h"

CDefaultWebWnd::CDefaultWebWnd() : m_pPicture(new CSomBitmap(static_cast<UINT_PTR>(IDB_WEB_STANDBY), 1)) {}

CDefaultWebWnd::~CDefaultWebWnd() {
  // Destroy while this object can still answer its last messages.
  if (IsWindow()) DestroyWindow();
  delete m_pPicture;
}

CWndClassInfo CDefaultWebWnd::GetWndClassInfo() const {
  CWndClassInfo info;
  info.name = L"SomDefaultWebWnd";
  return info;
}

void CDefaultWebWnd::PaintBackground(SomDC dc, const SomRect*) {
  RECT rc;
  GetClientRect(&rc);
  m_pPicture->Draw(dc, 0, 0, rc.right, rc.bottom, 0);
}

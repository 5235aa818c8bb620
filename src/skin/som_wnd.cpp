#include "skin/som_wnd.h"

void CSomWnd::Release() { delete this; }

void CSomWnd::Create(ISomWndManager* manager, int x, int y, int cx, int cy, int id, std::uint32_t style) {
  m_pManager = manager;
  m_nID = id;
  m_dwStyle = style;
  m_rc = MakeSomRect(x, y, cx, cy);
  manager->AddElement(this);
  OnCreate();
  OnMove(x, y);
  OnSize(cx, cy);
}

void CSomWnd::Destroy() {
  OnDestroy();
  m_dwStyle = 0;
  m_nID = 0;
  m_rc = SomRect{};
  m_pManager = nullptr;
}

bool CSomWnd::Enable(bool on) {
  bool old = IsEnabled();
  if (old == on) return old;
  if (on) {
    m_dwStyle &= ~StyleDisabled;
  } else {
    m_dwStyle |= StyleDisabled;
  }
  Invalidate(nullptr, 0);
  return old;
}

bool CSomWnd::Show(bool on) {
  bool old = IsVisible();
  if (old == on) return old;
  if (on) {
    m_dwStyle |= StyleVisible;
  } else {
    m_dwStyle &= ~StyleVisible;
  }
  // Forced, so the area is repainted with the background once the element
  // has gone.
  if (m_pManager) m_pManager->InvalidateElement(this, nullptr, 1, 0);
  return old;
}

void CSomWnd::SetPos(int x, int y) {
  if (m_pManager) m_pManager->SetElementPos(this, x, y);
}

void CSomWnd::SetSize(int cx, int cy) {
  if (m_pManager) m_pManager->SetElementSize(this, cx, cy);
}

void CSomWnd::Invalidate(const SomRect* subRect, int part) {
  if (m_pManager) m_pManager->InvalidateElement(this, subRect, 0, part);
}

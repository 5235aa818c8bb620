#include "skin/som_wnd_manager.h"

#include <algorithm>

namespace {

constexpr int kTtnGetDispInfoW = -530;
constexpr unsigned kTtfIdIsHwnd = 0x1;
constexpr unsigned kCreate = 0x0001;
constexpr unsigned kNcCreate = 0x0081;

SomPoint PointFromLParam(SomLong lParam) {
  // Signed: a captured mouse reports positions left of or above the window.
  return SomPoint{static_cast<std::int16_t>(lParam & 0xFFFF), static_cast<std::int16_t>((lParam >> 16) & 0xFFFF)};
}

SomPoint RelativeTo(const CSomWnd* elem, SomPoint pt) {
  return SomPoint{pt.x - elem->GetRect().left, pt.y - elem->GetRect().top};
}

bool Intersects(const SomRect& a, const SomRect& b) { return !IntersectSomRect(a, b).IsEmpty(); }

}  // namespace

void CSomWndManager::AddElement(CSomWnd* elem) { m_elements.push_back(elem); }

void CSomWndManager::RemoveElement(CSomWnd* elem) {
  if (elem == m_pCapture) {
    ReleaseElementCapture(elem);
    // The window may not have held the system capture, so no
    // WM_CAPTURECHANGED came to end it.
    if (m_pCapture) {
      CSomWnd* capture = m_pCapture;
      m_pCapture = nullptr;
      capture->OnCaptureChanged();
    }
  }
  if (elem == m_pHover) {
    m_pHover = nullptr;
    elem->OnMouseLeave();
  }
  // A removed element must not be asked for tip texts any more.
  if (m_elementTips.count(elem)) RemoveToolTips(elem);
  m_elements.erase(std::remove(m_elements.begin(), m_elements.end(), elem), m_elements.end());
}

void CSomWndManager::SetElementCapture(CSomWnd* elem) {
  if (m_pCapture && m_pCapture != elem) {
    CSomWnd* old = m_pCapture;
    m_pCapture = nullptr;
    old->OnCaptureChanged();
  }
  m_pCapture = elem;
  if (m_hWndHost && Platform().GetCapture() != m_hWndHost) Platform().SetCapture(m_hWndHost);
}

void CSomWndManager::ReleaseElementCapture(CSomWnd* elem) {
  // The WM_CAPTURECHANGED this causes ends the element's capture.
  if (elem && elem == m_pCapture) Platform().ReleaseCapture();
}

SomLong CSomWndManager::SendHostMessage(unsigned msg, SomWParam wParam, SomLong lParam) {
  if (!m_hWndHost) return 0;
  return Platform().SendHostMessage(m_hWndHost, msg, wParam, lParam);
}

SomLong CSomWndManager::SendCommand(CSomWnd* elem, unsigned code, unsigned id) {
  SomWParam wParam = (id & 0xFFFFu) | ((code & 0xFFFFu) << 16);
  return SendHostMessage(som_msg::kCommand, wParam, reinterpret_cast<SomLong>(elem));
}

int CSomWndManager::PostHostMessage(unsigned msg, SomWParam wParam, SomLong lParam) {
  if (!m_hWndHost) return 0;
  return Platform().PostHostMessage(m_hWndHost, msg, wParam, lParam);
}

void CSomWndManager::MoveElement(CSomWnd* elem, const SomRect& rc) {
  const SomRect old = elem->m_rc;
  if (old == rc) return;
  const bool visible = elem->IsVisible();
  // Without a host window there is nothing to invalidate (and a null window
  // would mean every window on the desktop).
  const bool repaint = visible && m_hWndHost;
  if (repaint) Platform().InvalidateRect(m_hWndHost, &old);
  elem->m_rc = rc;
  if (old.left != rc.left || old.top != rc.top) elem->OnMove(rc.left, rc.top);
  if (old.Width() != rc.Width() || old.Height() != rc.Height()) elem->OnSize(rc.Width(), rc.Height());
  if (repaint) {
    Platform().InvalidateRect(m_hWndHost, &rc);
    if (m_bDirectPaint) Platform().UpdateWindow(m_hWndHost);
  }
}

void CSomWndManager::SetElementRect(CSomWnd* elem, int x, int y, int cx, int cy) {
  MoveElement(elem, MakeSomRect(x, y, cx, cy));
}

void CSomWndManager::SetElementSize(CSomWnd* elem, int cx, int cy) {
  MoveElement(elem, MakeSomRect(elem->m_rc.left, elem->m_rc.top, cx, cy));
}

void CSomWndManager::SetElementPos(CSomWnd* elem, int x, int y) {
  SomRect rc = elem->m_rc;
  rc.Offset(x - rc.left, y - rc.top);
  MoveElement(elem, rc);
}

void CSomWndManager::InvalidateElement(CSomWnd* elem, const SomRect* subRect, int force, int part) {
  if (!m_bRedraw) return;
  const bool visible = elem->IsVisible();
  const bool erase = visible ? elem->IsTransparent() : force != 0;
  if (!visible && !erase) return;
  SomRect area = elem->m_rc;
  if (subRect) {
    SomRect sub = *subRect;
    sub.Offset(elem->m_rc.left, elem->m_rc.top);
    area = IntersectSomRect(sub, elem->m_rc);
    if (area.IsEmpty()) return;
  }
  if (!m_hWndHost) return;
  if (m_bDirectPaint) {
    SomDC dc = Platform().GetDC(m_hWndHost);
    if (!dc) return;
    Platform().IntersectClipRect(dc, area);
    PaintElement(elem, dc, visible, erase, false, part);
    Platform().ReleaseDC(m_hWndHost, dc);
  } else {
    Platform().InvalidateRect(m_hWndHost, &area);
  }
}

int CSomWndManager::AddToolTip(CSomWnd* elem, int key, const SomRect* rect) {
  auto& keys = m_elementTips[elem];
  if (keys.count(key)) return 0;
  unsigned id = 1;
  for (const auto& entry : m_tools) {  // ordered by id
    if (entry.first != id) break;
    ++id;
  }
  Tool tool;
  tool.elem = elem;
  tool.key = key;
  tool.wholeElement = rect == nullptr;
  if (rect) {
    tool.rect = *rect;
    tool.rect.Offset(elem->m_rc.left, elem->m_rc.top);
  }
  keys[key] = id;
  m_tools[id] = tool;
  if (m_hToolTip) Platform().AddTool(m_hToolTip, m_hToolTipOwner, id, tool.wholeElement ? elem->m_rc : tool.rect);
  return static_cast<int>(id);
}

void CSomWndManager::RemoveToolTips(CSomWnd* elem) {
  auto it = m_elementTips.find(elem);
  if (it == m_elementTips.end()) return;
  for (const auto& entry : it->second) {
    m_tools.erase(entry.second);
    if (m_hToolTip && Platform().IsWindow(m_hToolTip)) Platform().DelTool(m_hToolTip, m_hToolTipOwner, entry.second);
  }
  m_elementTips.erase(it);
}

void CSomWndManager::BeginBatchUpdate() { m_bDirectPaint = 0; }

void CSomWndManager::EndBatchUpdate() {
  m_bDirectPaint = 1;
  if (m_bRedraw && m_hWndHost) Platform().UpdateWindow(m_hWndHost);
}

void CSomWndManager::PaintBackground(SomDC dc, const SomRect* rect) {
  if (!m_hWndHost) return;
  Platform().FillClassBackground(m_hWndHost, dc, rect ? *rect : Platform().GetClipBox(dc));
}

void CSomWndManager::PaintElement(CSomWnd* elem, SomDC target, bool draw, bool erase, bool exclude, int part) {
  const SomRect rc = elem->m_rc;
  ISomPlatform& platform = Platform();
  SomDC buffer = nullptr;
  SomDC surface = target;
  if (erase) {
    // Only a transparent element that is drawn needs the off-screen buffer,
    // so it is made only then.
    if (draw && rc.Width() <= kBufferWidth && rc.Height() <= kBufferHeight) {
      buffer = platform.CreateBuffer(kBufferWidth, kBufferHeight);
      if (buffer) {
        surface = buffer;
        platform.SetViewportOrg(buffer, -rc.left, -rc.top, nullptr);
      }
    }
    PaintBackground(surface, &rc);
  }
  if (draw) {
    if (surface == target) {
      SomPoint old;
      platform.OffsetViewportOrg(target, rc.left, rc.top, &old);
      elem->OnPaint(target, -1, part);
      platform.SetViewportOrg(target, old.x, old.y, nullptr);
    } else {
      platform.SetViewportOrg(buffer, 0, 0, nullptr);
      elem->OnPaint(buffer, -1, part);
      platform.BitBlt(target, rc, buffer, 0, 0);
    }
  }
  if (exclude) platform.ExcludeClipRect(target, rc);
  if (buffer) platform.DeleteBuffer(buffer);
}

void CSomWndManager::PaintElements(SomDC dc, const SomRect& rect) {
  // Index 0 first: each painted element is cut out of the clip region, so it
  // hides the later ones it overlaps, as in hit testing.
  for (CSomWnd* elem : m_elements) {
    if (elem->IsVisible() && Intersects(elem->m_rc, rect)) PaintElement(elem, dc, true, elem->IsTransparent(), true, 0);
  }
}

CSomWnd* CSomWndManager::HitTest(SomPoint pt) const {
  for (CSomWnd* elem : m_elements) {
    if (elem->IsVisible() && elem->IsEnabled() && elem->m_rc.Contains(pt)) return elem;
  }
  return nullptr;
}

void CSomWndManager::OnMouseMessage(unsigned msg, SomPoint pt, SomLong& result, bool& handled) {
  auto call = [msg](CSomWnd* elem, SomPoint rel) {
    if (msg == som_msg::kLButtonDown) return elem->OnLButtonDown(rel);
    if (msg == som_msg::kLButtonUp) return elem->OnLButtonUp(rel);
    return elem->OnLButtonDblClk(rel);
  };
  if (m_pCapture) {
    result = call(m_pCapture, RelativeTo(m_pCapture, pt));
    handled = true;
    return;
  }
  CSomWnd* hit = HitTest(pt);
  if (!hit) return;
  handled = call(hit, RelativeTo(hit, pt)) != 0;
  result = 0;
}

void CSomWndManager::OnMouseMove(SomPoint pt, SomLong& result, bool& handled) {
  if (m_pCapture) {
    CSomWnd* capture = m_pCapture;
    const bool inside = capture->m_rc.Contains(pt);
    if (inside && !m_pHover) {
      m_pHover = capture;
      capture->OnMouseEnter(RelativeTo(capture, pt));
    } else if (!inside && m_pHover == capture) {
      m_pHover = nullptr;
      capture->OnMouseLeave();
    }
    // The enter or leave handlers may have ended the capture.
    if (m_pCapture) {
      result = m_pCapture->OnMouseMove(RelativeTo(m_pCapture, pt));
      handled = true;
    }
    return;
  }
  CSomWnd* hit = HitTest(pt);
  if (hit != m_pHover) {
    CSomWnd* old = m_pHover;
    m_pHover = hit;
    if (old) old->OnMouseLeave();
    if (hit) hit->OnMouseEnter(RelativeTo(hit, pt));
  }
  if (hit) {
    hit->OnMouseMove(RelativeTo(hit, pt));
    return;  // the window sees moves over elements too
  }
  handled = true;
}

void CSomWndManager::OnSetCursor(SomLong& result, bool& handled) {
  SomPoint pt = Platform().GetCursorClientPos(m_hWndHost);
  CSomWnd* elem = m_pCapture ? m_pCapture : HitTest(pt);
  if (!elem) return;
  int answer = elem->OnSetCursor(RelativeTo(elem, pt));
  handled = answer != 0;
  result = answer;
}

void CSomWndManager::OnTickTimer() {
  // A fast move out through a gap between windows sends no WM_MOUSEMOVE
  // outside; the tick notices it.
  if (m_pHover && !m_pCapture && !Platform().IsCursorOverClient(m_hWndHost)) {
    CSomWnd* old = m_pHover;
    m_pHover = nullptr;
    old->OnMouseLeave();
  }
  const std::vector<CSomWnd*> elements = m_elements;
  for (CSomWnd* elem : elements) elem->OnTick();
}

void CSomWndManager::OnPaintMessage(SomDC dc) {
  auto paint = [this](SomDC target, const SomRect& area) {
    PaintElements(target, area);
    PaintBackground(target, &area);
  };
  if (dc) {
    paint(dc, Platform().GetClipBox(dc));
  } else {
    Platform().PaintWindow(m_hWndHost, paint);
  }
}

void CSomWndManager::OnHostDestroy() {
  Platform().KillTimer(m_hWndHost, kTickTimerId);
  if (CSomWnd* hover = m_pHover) {
    m_pHover = nullptr;
    hover->OnMouseLeave();
  }
  if (CSomWnd* capture = m_pCapture) {
    m_pCapture = nullptr;
    capture->OnCaptureChanged();
  }
  std::vector<CSomWnd*> elements;
  elements.swap(m_elements);
  for (CSomWnd* elem : elements) elem->Destroy();
  m_elements.clear();
  m_elementTips.clear();
  m_tools.clear();
  m_hToolTip = nullptr;
  m_hToolTipOwner = nullptr;
  m_bRedraw = 1;
  m_bDirectPaint = 1;
  m_hDestroyedHost = m_hWndHost;
  m_hWndHost = nullptr;
}

bool CSomWndManager::ProcessWindowMessage(SomWindow hwnd, unsigned msg, SomWParam wParam, SomLong lParam,
                                          SomLong& result) {
  // The messages that follow WM_DESTROY (WM_NCDESTROY and the like) must
  // not adopt the dying window again, or a later Create of this window
  // object would find a stale host and no tick timer.
  if (msg == kNcCreate || msg == kCreate) m_hDestroyedHost = nullptr;
  if (!m_hWndHost && hwnd && hwnd != m_hDestroyedHost) {
    m_hWndHost = hwnd;
    Platform().SetTimer(hwnd, kTickTimerId, kTickMs);
  }
  if (hwnd != m_hWndHost) return false;
  bool handled = false;
  switch (msg) {
    case som_msg::kNotify: {
      SomNotifyInfo info = Platform().ReadNotify(lParam);
      if (info.code != kTtnGetDispInfoW || (info.flags & kTtfIdIsHwnd)) return false;
      auto it = m_tools.find(static_cast<unsigned>(info.idFrom));
      if (it != m_tools.end()) it->second.elem->OnGetToolTipText(it->second.key, info.record);
      result = 0;
      return true;
    }
    case som_msg::kMouseMove:
      OnMouseMove(PointFromLParam(lParam), result, handled);
      return handled;
    case som_msg::kEraseBkgnd:
      result = 1;
      return true;
    case som_msg::kPaint:
    case som_msg::kPrintClient:
      OnPaintMessage(reinterpret_cast<SomDC>(wParam));
      result = 0;
      return true;
    case som_msg::kSetCursor:
      OnSetCursor(result, handled);
      return handled;
    case som_msg::kLButtonDblClk:
    case som_msg::kLButtonDown:
    case som_msg::kLButtonUp:
      OnMouseMessage(msg, PointFromLParam(lParam), result, handled);
      return handled;
    case som_msg::kTimer:
      if (wParam != kTickTimerId) return false;
      OnTickTimer();
      result = 1;
      return true;
    case som_msg::kCaptureChanged:
      if (!m_pCapture) return false;
      {
        CSomWnd* capture = m_pCapture;
        m_pCapture = nullptr;
        capture->OnCaptureChanged();
      }
      result = 0;
      return true;
    case som_msg::kSetRedraw:
      m_bRedraw = wParam != 0 ? 1 : 0;
      return false;
    case som_msg::kDestroy:
      OnHostDestroy();
      return false;
    default:
      return false;
  }
}

#include "skin/som_text_wnd.h"

#include "skin/html_url.h"

namespace {

class NullTextServices : public ISomTextServices {
 public:
  SomFont SkinFont(int) override { return nullptr; }
  TextExtent MeasureText(SomFont, const std::wstring&) override { return {}; }
  SomRect GetClipBox(SomDC) override { return SomRect{}; }
  void DrawRun(SomDC, const std::wstring&, const SomRect&, SomFont, SomColor, bool) override {}
  void SetHandCursor() override {}
  void ShellOpen(const std::wstring&) override {}
};

NullTextServices g_nullServices;
ISomTextServices* g_services = nullptr;

SomRect ToSomRect(const MarkupRect& r) { return SomRect{r.left, r.top, r.right, r.bottom}; }

}  // namespace

ISomTextServices& SomTextServices() { return g_services ? *g_services : g_nullServices; }
void SetSomTextServices(ISomTextServices* services) { g_services = services; }

CSomTextWnd::CSomTextWnd() = default;

SomFont CSomTextWnd::GetFont() const { return m_hFont ? m_hFont : SomTextServices().SkinFont(kDefaultFontIndex); }

void CSomTextWnd::SetText(const wchar_t* markup) {
  std::wstring text = markup ? markup : L"";
  if (!m_plain && text == m_strMarkup) return;
  std::vector<Segment> segments = ParseMarkup(text);
  ReplaceText(std::move(text), false, std::move(segments));
}

void CSomTextWnd::SetPlainText(const std::wstring& text) {
  if (m_plain && text == m_strMarkup) return;
  std::vector<Segment> segments;
  if (!text.empty()) {
    segments.emplace_back();
    segments.back().text = text;
  }
  ReplaceText(text, true, std::move(segments));
}

void CSomTextWnd::ReplaceText(std::wstring text, bool plain, std::vector<Segment> segments) {
  m_nHoverSeg = -1;
  if (m_nPressedSeg != -1 && m_pManager) m_pManager->ReleaseElementCapture(this);
  m_nPressedSeg = -1;
  m_strMarkup = std::move(text);
  m_plain = plain;
  m_segments = std::move(segments);
  Relayout();
  Invalidate();
}

void CSomTextWnd::SetFont(SomFont font) {
  m_hFont = font;
  Relayout();
}

void CSomTextWnd::SetTextColor(SomColor colour) {
  if (colour == m_crText) return;
  m_crText = colour;
  Invalidate();
}

void CSomTextWnd::SetLinkColors(SomColor normal, SomColor hover) {
  m_crLink = normal;
  m_crLinkHover = hover;
}

void CSomTextWnd::Relayout() {
  ISomTextServices& services = SomTextServices();
  SomFont ownFont = GetFont();
  TextExtent line = LayoutSegments(&m_segments, [&](const std::wstring& text, int font) {
    return services.MeasureText(font >= 0 ? services.SkinFont(font) : ownFont, text);
  });
  if ((m_dwStyle & StyleAutoSize) && m_pManager) {
    TextExtent size = AutoSizeExtent(line, m_nMaxWidth);
    m_pManager->SetElementSize(this, size.cx, size.cy);
  }
}

SomColor CSomTextWnd::GetSegmentColour(int index) const {
  if (index < 0 || index >= static_cast<int>(m_segments.size())) return m_crText;
  return static_cast<SomColor>(SegmentColour(m_segments[index], index == m_nHoverSeg, static_cast<int32_t>(m_crText),
                                             static_cast<int32_t>(m_crLink), static_cast<int32_t>(m_crLinkHover))) &
         0xFFFFFF;
}

void CSomTextWnd::OnCreate() {
  m_dwStyle |= StyleTransparent;
  m_nHoverSeg = -1;
  m_nPressedSeg = -1;
  Relayout();
}

void CSomTextWnd::OnPaint(SomDC dc, int clipLimit, int part) {
  ISomTextServices& services = SomTextServices();
  int limit = clipLimit != -1 ? clipLimit : m_nMaxWidth;
  SomRect clip = services.GetClipBox(dc);
  SomFont ownFont = GetFont();
  for (int i = 0; i < static_cast<int>(m_segments.size()); ++i) {
    if (part != 0 && i != part - 1) continue;
    const Segment& s = m_segments[i];
    SomRect rect = ToSomRect(s.rect);
    if (part == 0 && IntersectSomRect(rect, clip).IsEmpty()) continue;
    SegmentFit fit = FitSegment(s.rect, limit);
    if (fit == SegmentFit::Hidden) continue;
    if (fit == SegmentFit::Ellipsis) rect.right = limit;
    SomFont font = s.font >= 0 ? services.SkinFont(s.font) : ownFont;
    services.DrawRun(dc, s.text, rect, font, GetSegmentColour(i), fit == SegmentFit::Ellipsis);
  }
}

void CSomTextWnd::InvalidateSegment(int index) {
  if (index < 0 || index >= static_cast<int>(m_segments.size())) return;
  SomRect rect = ToSomRect(m_segments[index].rect);
  Invalidate(&rect, index + 1);
}

int CSomTextWnd::OnSetCursor(SomPoint pt) {
  int hit = HitSegment(m_segments, pt.x, pt.y);
  if (hit < 0 || !m_segments[hit].IsLink()) return 0;
  SomTextServices().SetHandCursor();
  return 1;
}

int CSomTextWnd::OnLButtonDown(SomPoint pt) {
  int hit = HitSegment(m_segments, pt.x, pt.y);
  if (hit >= 0) {
    if (!m_segments[hit].IsLink()) {
      // Pressing plain text lets go of a pressed link without firing it.
      int previous = m_nPressedSeg;
      m_nPressedSeg = -1;
      InvalidateSegment(previous);
    } else if (hit != m_nPressedSeg) {
      int previous = m_nPressedSeg;
      m_nPressedSeg = hit;
      InvalidateSegment(hit);
      InvalidateSegment(previous);
      if (m_pManager) m_pManager->SetElementCapture(this);
    }
  }
  return m_nPressedSeg != -1 ? 1 : 0;
}

int CSomTextWnd::OnLButtonDblClk(SomPoint pt) { return OnLButtonDown(pt); }

int CSomTextWnd::OnLButtonUp(SomPoint) {
  bool pressed = m_nPressedSeg != -1;
  if (pressed && m_pManager) m_pManager->ReleaseElementCapture(this);
  return pressed ? 1 : 0;
}

SomLong CSomTextWnd::OnMouseMove(SomPoint pt) {
  int hit = HitSegment(m_segments, pt.x, pt.y);
  if (hit < 0) return 0;
  if (!m_segments[hit].IsLink()) {
    int previous = m_nHoverSeg;
    m_nHoverSeg = -1;
    InvalidateSegment(previous);
  } else if (hit != m_nHoverSeg) {
    int previous = m_nHoverSeg;
    m_nHoverSeg = hit;
    InvalidateSegment(hit);
    InvalidateSegment(previous);
  }
  return 0;
}

void CSomTextWnd::OnMouseLeave() {
  if (m_nHoverSeg == -1) return;
  int previous = m_nHoverSeg;
  m_nHoverSeg = -1;
  InvalidateSegment(previous);
}

void CSomTextWnd::OnCaptureChanged() {
  if (m_nPressedSeg == -1) return;
  int pressed = m_nPressedSeg;
  m_nPressedSeg = -1;
  InvalidateSegment(pressed);
  if (m_nHoverSeg == -1) return;
  // The link under the mouse when the button comes up is the one that acts.
  RunAction(m_segments[m_nHoverSeg].link);
}

void CSomTextWnd::RunAction(const std::wstring& action) {
  LinkAction parsed = ParseLinkAction(action);
  if (parsed.isCommand) {
    if (m_pManager) m_pManager->SendCommand(this, 0, static_cast<unsigned>(parsed.commandId) & 0xFFFF);
  } else {
    // Label texts may come from the server; only web pages are opened, with
    // the rule the promotion link follows, so "www.example.com/x" works too.
    const std::wstring address = ShellWebAddress(action);
    if (!address.empty()) SomTextServices().ShellOpen(address);
  }
}

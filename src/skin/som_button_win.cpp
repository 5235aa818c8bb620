#include <windows.h>

#include "base/scoped_win.h"
#include "skin/element_geometry.h"
#include "skin/skin_measure.h"
#include "skin/skin_table_win.h"
#include "skin/som_bitmap_win.h"
#include "skin/som_button.h"

namespace {

constexpr int kCaptionFont = 2;

// Frames past the end of a strip (the disabled look of a three-frame strip)
// draw nothing.
void DrawStripFrame(CSomBitmap* image, HDC dc, int width, int frame) {
  if (!image || frame >= image->GetFrameCount()) return;
  image->DrawHStretch(dc, 0, 0, width, frame);
}

}  // namespace

SomSize SkinFrameSize(CSomBitmap* image) {
  if (!image || image->GetFrameCount() <= 0) return SomSize{};
  return SomSize{image->GetFrameWidth(), image->GetHeight()};
}

SomSize SkinCaptionSize(const std::wstring& text) {
  HDC dc = TheSharedMemoryDC().Get();
  ScopedSelectObject font(dc, TheSkinTable().GetFont(kCaptionFont));
  SIZE size{};
  ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  return SomSize{static_cast<int>(size.cx), static_cast<int>(size.cy)};
}

CSomButton4::~CSomButton4() = default;
CSomCheckBox::~CSomCheckBox() = default;

void CSomButton4::UpdateLayout() {
  ButtonContent content;
  content.hasIcon = m_pIcon != nullptr;
  content.iconWidth = SkinFrameSize(m_pIcon).cx;
  content.hasCaption = !m_strText.empty();
  if (content.hasCaption) content.captionWidth = SkinCaptionSize(m_strText).cx;
  ApplyLayout(SkinFrameSize(m_pImage), content);
}

void CSomCheckBox::UpdateLayout() {
  const bool hasCaption = !m_strText.empty();
  ApplyLayout(SkinFrameSize(m_pImage), hasCaption, hasCaption ? SkinCaptionSize(m_strText) : SomSize{},
              m_pImage && m_pImage->HasAlpha());
}

void CSomButton4::OnPaint(SomDC dc, int /*clipLimit*/, int /*part*/) {
  const int look = ButtonLook(!IsEnabled(), m_bHover != 0, m_bPressed != 0);
  DrawStripFrame(m_pImage, dc, GetWidth(), look);
  int x = m_xContent;
  if (m_pIcon) {
    SomSize icon = SkinFrameSize(m_pIcon);
    m_pIcon->DrawFrame(dc, x, (GetHeight() - icon.cy) / 2, m_nIconFrame);
    x += icon.cx + 5;
  }
  if (!m_strText.empty()) {
    ScopedTextStyle style(dc, TheSkinTable().GetFont(kCaptionFont),
                          IsEnabled() ? kCaptionColor : kDisabledCaptionColor);
    ::TextOutW(dc, x, look == 2 ? 6 : 5, m_strText.c_str(), static_cast<int>(m_strText.size()));
  }
}

void CMySomButton4::OnPaint(SomDC dc, int /*clipLimit*/, int /*part*/) {
  const int look = ButtonLook(!IsEnabled(), m_bHover != 0, m_bPressed != 0);
  DrawStripFrame(m_pImage, dc, GetWidth(), look);
  if (m_strText.empty()) return;
  ScopedTextStyle style(dc, m_pFont ? m_pFont : TheSkinTable().GetFont(kCaptionFont),
                        IsEnabled() ? m_crCaption : kDisabledCaptionColor);
  SIZE size{};
  ::GetTextExtentPoint32W(dc, m_strText.c_str(), static_cast<int>(m_strText.size()), &size);
  ::TextOutW(dc, (GetWidth() - size.cx) / 2, (GetHeight() - size.cy) / 2, m_strText.c_str(),
             static_cast<int>(m_strText.size()));
}

void CSomCheckBox::OnPaint(SomDC dc, int /*clipLimit*/, int /*part*/) {
  const int frame =
      CheckBoxFrame(!IsEnabled(), m_bHover != 0, m_bPressed != 0, m_bChecked != 0, m_bMixed != 0, m_bRadio != 0);
  if (m_strText.empty()) {
    if (m_pImage) m_pImage->DrawFrame(dc, 0, 0, frame);
    return;
  }
  const SomSize box = SkinFrameSize(m_pImage);
  {
    ScopedSelectObject font(dc, TheSkinTable().GetFont(kCaptionFont));
    int oldMode = ::SetBkMode(dc, TRANSPARENT);
    // The caption keeps the window's text colour.
    ::TextOutW(dc, box.cx + 5, 0, m_strText.c_str(), static_cast<int>(m_strText.size()));
    ::SetBkMode(dc, oldMode);
  }
  if (m_pImage) m_pImage->DrawFrame(dc, 0, 1, frame);
}

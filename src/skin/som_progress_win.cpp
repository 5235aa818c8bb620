#include "skin/som_progress_win.h"

#include <cwchar>
#include <vector>

#include "base/scoped_win.h"
#include "skin/element_geometry.h"
#include "skin/skin_resource_ids.h"
#include "skin/skin_table_win.h"

namespace {

constexpr COLORREF kPercentColor = RGB(255, 255, 255);

void PercentText(int value, wchar_t (&text)[16]) { std::swprintf(text, 16, L"%d%%", value); }

void WriteText(HDC dc, HFONT font, int x, int y, const wchar_t* text, int length) {
  ScopedTextStyle style(dc, font, kPercentColor);
  ::TextOutW(dc, x, y, text, length);
}

HFONT MakeFont(const LOGFONTW& base, const wchar_t* face, LONG height, LONG weight, BYTE underline) {
  LOGFONTW lf = base;
  lf.lfHeight = height;
  lf.lfWeight = weight;
  lf.lfUnderline = underline;
  wcsncpy(lf.lfFaceName, face, LF_FACESIZE - 1);
  lf.lfFaceName[LF_FACESIZE - 1] = L'\0';
  return ::CreateFontIndirectW(&lf);
}

}  // namespace

CGardBoxProgress::CGardBoxProgress() : m_bmpFill(IDB_PROGRESS_FILL), m_bmpTrack(IDB_PROGRESS_TRACK) {}

CGardBoxProgress::~CGardBoxProgress() = default;

void CGardBoxProgress::SetRange(int min, int max) {
  ProgressRange bar{m_nMin, m_nMax, m_nPos};
  if (!SetProgressRange(bar, min, max)) return;
  m_nMin = bar.min;
  m_nMax = bar.max;
  m_nPos = bar.pos;
  Invalidate();
}

void CGardBoxProgress::SetProgressPos(int value) {
  ProgressRange bar{m_nMin, m_nMax, m_nPos};
  if (!SetProgressValue(bar, value)) return;
  m_nPos = bar.pos;
  Invalidate();
}

void CGardBoxProgress::OnCreate() {
  m_nMin = 0;
  m_nMax = 100;
  m_nPos = 0;
  // A fill strip that failed to load would shrink the bar to nothing.
  if ((m_dwStyle & StyleAutoSize) && m_bmpFill.GetHeight() > 0) SetSize(GetWidth(), m_bmpFill.GetHeight());
  if (m_bmpFill.HasAlpha()) {
    m_dwStyle |= StyleTransparent;
  } else {
    m_dwStyle &= ~StyleTransparent;
  }
}

void CGardBoxProgress::PaintBar(HDC dc) {
  const int fill = ProgressFillWidth(ProgressRange{m_nMin, m_nMax, m_nPos}, GetWidth());
  const int trackHeight = m_bmpTrack.GetHeight();
  const int fillHeight = m_bmpFill.GetHeight();
  for (const ProgressBlit& blit :
       ProgressBlits(GetWidth(), m_nCap, fill, m_bmpTrack.GetFrameWidth(), m_bmpFill.GetFrameWidth())) {
    CSomBitmap& image = blit.fromFill ? m_bmpFill : m_bmpTrack;
    const int height = blit.fromFill ? fillHeight : trackHeight;
    if (blit.srcWidth == blit.dstWidth) {
      image.DrawPart(dc, blit.dstX, 0, blit.dstWidth, height, blit.srcX, 0, 0);
    } else {
      image.StretchPart(dc, blit.dstX, 0, blit.dstWidth, height, blit.srcX, 0, blit.srcWidth, height, 0);
    }
  }
}

void CGardBoxProgress::OnPaint(SomDC dc, int /*clipLimit*/, int /*part*/) {
  PaintBar(dc);
  wchar_t text[16];
  PercentText(m_nPos, text);
  WriteText(dc, TheSkinTable().GetFont(0), GetWidth() / 2 - 10, 0, text, static_cast<int>(std::wcslen(text)));
}

CTextProgress::CTextProgress() {
  LOGFONTW base{};
  ::GetObjectW(::GetStockObject(DEFAULT_GUI_FONT), sizeof(base), &base);
  const wchar_t* kSong = L"宋体";
  const bool before6 = LOBYTE(LOWORD(::GetVersion())) < 6;
  m_fonts[0] = MakeFont(base, kSong, -12, base.lfWeight, FALSE);
  m_fonts[1] = MakeFont(base, kSong, -13, base.lfWeight, TRUE);
  m_fonts[2] = MakeFont(base, kSong, -12, FW_BOLD, TRUE);
  m_fonts[3] = MakeFont(base, before6 ? kSong : L"微软雅黑", -13, FW_BOLD, base.lfUnderline);
}

CTextProgress::~CTextProgress() {
  for (HFONT font : m_fonts) {
    DeleteGdiObject(font);
  }
}

void CTextProgress::SetLabel(const std::wstring& text) {
  m_strLabel = text;
  Invalidate();
}

void CTextProgress::OnPaint(SomDC dc, int /*clipLimit*/, int /*part*/) {
  PaintBar(dc);
  wchar_t text[16];
  PercentText(m_nPos, text);
  WriteText(dc, m_fonts[0], GetWidth() - 32, 3, text, static_cast<int>(std::wcslen(text)));
  WriteText(dc, m_fonts[0], 10, 3, m_strLabel.c_str(), static_cast<int>(m_strLabel.size()));
}

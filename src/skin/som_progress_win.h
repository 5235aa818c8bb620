#pragma once

// Horizontal progress bars drawn from a track strip and a fill strip with
// fixed end caps.
#include <windows.h>

#include <string>

#include "skin/som_bitmap_win.h"
#include "skin/som_wnd.h"

class CGardBoxProgress : public CSomWnd {
 public:
  CGardBoxProgress();
  ~CGardBoxProgress() override;

  // Ignored unless min < max, and when the range is already this one;
  // otherwise the value goes back to min.
  void SetRange(int min, int max);
  // Clamped to the range.
  void SetProgressPos(int value);
  void SetCapWidth(int cap) { m_nCap = cap; }
  int GetProgressPos() const { return m_nPos; }
  int GetRangeMin() const { return m_nMin; }
  int GetRangeMax() const { return m_nMax; }

  void OnCreate() override;
  void OnPaint(SomDC dc, int clipLimit, int part) override;

 protected:
  // Track and fill at the bar's full size.
  void PaintBar(HDC dc);

  std::int32_t m_nMin = 0;
  std::int32_t m_nMax = 100;
  std::int32_t m_nPos = 0;
  std::int32_t m_nCap = 0;
  CSomBitmap m_bmpFill;
  CSomBitmap m_bmpTrack;
};

// A bar with a label at the left and the percentage at the right.
class CTextProgress : public CGardBoxProgress {
 public:
  CTextProgress();
  ~CTextProgress() override;

  void SetLabel(const std::wstring& text);
  const std::wstring& GetLabel() const { return m_strLabel; }

  void OnPaint(SomDC dc, int clipLimit, int part) override;

 protected:
  std::wstring m_strLabel;
  HFONT m_fonts[4] = {};
};

#pragma once

// The label element: one line of marked-up text (see markup.h) with
// clickable links that send a command to the window or open a URL.
#include <string>
#include <vector>

#include "skin/markup.h"
#include "skin/som_wnd.h"

// What a label needs from the window system. Windows answers with GDI and the
// shell (som_text_wnd_win.cpp, installed by UseWin32SomTextServices); hosts
// without a window system get one that measures nothing and draws nothing.
class ISomTextServices {
 public:
  // Font `index` of the skin table, or null.
  virtual SomFont SkinFont(int index) = 0;
  virtual TextExtent MeasureText(SomFont font, const std::wstring& text) = 0;
  virtual SomRect GetClipBox(SomDC dc) = 0;
  // Draws one run; with `ellipsis` cut to `rect` and ended with "...",
  // otherwise written at rect's top-left.
  virtual void DrawRun(SomDC dc, const std::wstring& text, const SomRect& rect, SomFont font, SomColor colour,
                       bool ellipsis) = 0;
  virtual void SetHandCursor() = 0;
  virtual void ShellOpen(const std::wstring& target) = 0;

 protected:
  ~ISomTextServices() = default;
};

ISomTextServices& SomTextServices();
// Null restores the default.
void SetSomTextServices(ISomTextServices* services);

class CSomTextWnd : public CSomWnd {
 public:
  static constexpr SomColor kDefaultLinkColour = 0x984E00;
  static constexpr SomColor kDefaultLinkHoverColour = 0xDA7003;
  static constexpr int kDefaultFontIndex = 2;

  CSomTextWnd();

  // A null markup counts as empty.
  void SetText(const wchar_t* markup);
  void SetText(const std::wstring& markup) { SetText(markup.c_str()); }
  // Text from outside the program (a folder name, say) shown as it stands in
  // one run of the label's own look: "{&#" in it is never read as a tag.
  void SetPlainText(const std::wstring& text);
  void SetFont(SomFont font);
  void SetTextColor(SomColor colour);
  void SetLinkColors(SomColor normal, SomColor hover);
  void SetMaxWidth(int width) { m_nMaxWidth = width; }

  virtual void Relayout();

  const std::wstring& GetText() const { return m_strMarkup; }
  const std::vector<Segment>& GetSegments() const { return m_segments; }
  SomFont GetFont() const;
  int GetHoverSegment() const { return m_nHoverSeg; }
  int GetPressedSegment() const { return m_nPressedSeg; }
  // The colour segment `index` is drawn in now.
  SomColor GetSegmentColour(int index) const;

  void OnCreate() override;
  void OnPaint(SomDC dc, int clipLimit, int part) override;
  void OnCaptureChanged() override;
  int OnSetCursor(SomPoint pt) override;
  int OnLButtonDown(SomPoint pt) override;
  int OnLButtonUp(SomPoint pt) override;
  int OnLButtonDblClk(SomPoint pt) override;
  SomLong OnMouseMove(SomPoint pt) override;
  void OnMouseLeave() override;

 protected:
  void InvalidateSegment(int index);
  void RunAction(const std::wstring& action);

  void ReplaceText(std::wstring text, bool plain, std::vector<Segment> segments);

  std::wstring m_strMarkup;
  bool m_plain = false;  // m_strMarkup holds plain text, not markup
  std::vector<Segment> m_segments;
  SomFont m_hFont = nullptr;  // null: font 2 of the skin table
  SomColor m_crText = 0;
  SomColor m_crLink = kDefaultLinkColour;
  SomColor m_crLinkHover = kDefaultLinkHoverColour;
  int m_nMaxWidth = -1;
  int m_nHoverSeg = -1;
  int m_nPressedSeg = -1;
};

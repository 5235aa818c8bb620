#pragma once

// Clickable painted elements: the image button with four looks, its variant
// with a centred coloured caption, and the check box. Their click rules are
// portable; measuring and painting use GDI (som_button_win.cpp).
#include <cstdint>
#include <string>

#include "skin/element_geometry.h"
#include "skin/som_wnd.h"

class CSomBitmap;

// Measuring and painting need the decoded strips and fonts, so UpdateLayout,
// OnPaint and the destructors (which carry the virtual tables) live in
// som_button_win.cpp, and in som_button_host.cpp where there is no GDI.
class CSomButton4 : public CSomWnd {
 public:
  CSomButton4() = default;
  ~CSomButton4() override;

  // The window sets caption, icon and icon frame, then the image.
  void SetImage(CSomBitmap* image);
  void SetText(const std::wstring& text) { m_strText = text; }
  void SetIcon(CSomBitmap* icon, int frame) {
    m_pIcon = icon;
    m_nIconFrame = frame;
  }
  // Sizes the element from its strip and content (with StyleAutoSize) and
  // places the content block; repaints.
  void UpdateLayout();

  bool IsHover() const { return m_bHover != 0; }
  bool IsPressed() const { return m_bPressed != 0; }
  int GetContentX() const { return m_xContent; }

  void OnCreate() override;
  void OnPaint(SomDC dc, int clipLimit, int part) override;
  void OnCaptureChanged() override;
  int OnLButtonDown(SomPoint pt) override;
  int OnLButtonUp(SomPoint pt) override;
  int OnLButtonDblClk(SomPoint pt) override;
  void OnMouseEnter(SomPoint pt) override;
  void OnMouseLeave() override;

 protected:
  // Sizes and places the content from measured sizes; repaints.
  void ApplyLayout(SomSize imageFrame, const ButtonContent& content);

 public:
  std::uint8_t m_bHover = 0;
  std::uint8_t m_bPressed = 0;
  std::wstring m_strText;
  CSomBitmap* m_pIcon = nullptr;
  int m_nIconFrame = 0;
  CSomBitmap* m_pImage = nullptr;
  int m_xContent = 0;
};

class CMySomButton4 : public CSomButton4 {
 public:
  void SetCaptionColor(SomColor color) { m_crCaption = color; }
  // Null means font 2 of the skin table.
  void SetFont(SomFont font) { m_pFont = font; }

  void OnPaint(SomDC dc, int clipLimit, int part) override;

  SomColor m_crCaption = 0;
  SomFont m_pFont = nullptr;
};

class CSomCheckBox : public CSomWnd {
 public:
  CSomCheckBox(CSomBitmap* image, bool radio) : m_bRadio(radio ? 1 : 0), m_pImage(image) {}
  ~CSomCheckBox() override;

  void SetCheck(bool on);
  bool GetCheck() const { return m_bChecked != 0; }
  void SetMixed(bool on);
  bool IsMixed() const { return m_bMixed != 0; }
  void SetText(const std::wstring& text) { m_strText = text; }
  void UpdateLayout();

  bool IsHover() const { return m_bHover != 0; }
  bool IsPressed() const { return m_bPressed != 0; }

  void OnCreate() override;
  void OnPaint(SomDC dc, int clipLimit, int part) override;
  void OnCaptureChanged() override;
  int OnLButtonDown(SomPoint pt) override;
  int OnLButtonUp(SomPoint pt) override;
  int OnLButtonDblClk(SomPoint pt) override;
  void OnMouseEnter(SomPoint pt) override;
  void OnMouseLeave() override;

 protected:
  void ApplyLayout(SomSize imageFrame, bool hasCaption, SomSize captionSize, bool imageHasAlpha = false);

 public:
  std::int32_t m_bHover = 0;
  std::int32_t m_bChecked = 0;
  std::int32_t m_bMixed = 0;
  std::int32_t m_bPressed = 0;
  std::int32_t m_bRadio;
  CSomBitmap* m_pImage;
  std::wstring m_strText;
};

#include "skin/som_button.h"

#include "skin/element_geometry.h"

// Clicks follow the manager's protocol: capture on press, release on button
// up, and the command fires when the capture ends with the mouse still over
// the element.

void CSomButton4::SetImage(CSomBitmap* image) {
  m_pImage = image;
  UpdateLayout();
}

void CSomButton4::OnCreate() {
  m_dwStyle |= StyleTransparent;
  m_bHover = 0;
  m_bPressed = 0;
}

void CSomButton4::OnMouseEnter(SomPoint /*pt*/) {
  if (m_bHover) return;
  m_bHover = 1;
  Invalidate();
}

void CSomButton4::OnMouseLeave() {
  if (!m_bHover) return;
  m_bHover = 0;
  Invalidate();
}

int CSomButton4::OnLButtonDown(SomPoint /*pt*/) {
  if (m_bPressed) return 1;
  m_bPressed = 1;
  Invalidate();
  if (m_pManager) m_pManager->SetElementCapture(this);
  return 1;
}

int CSomButton4::OnLButtonUp(SomPoint /*pt*/) {
  if (m_bPressed && m_pManager) m_pManager->ReleaseElementCapture(this);
  return 1;
}

// A fast second click is a second press.
int CSomButton4::OnLButtonDblClk(SomPoint pt) { return OnLButtonDown(pt); }

void CSomButton4::OnCaptureChanged() {
  if (!m_bPressed) return;
  m_bPressed = 0;
  Invalidate();
  if (m_bHover && m_pManager) m_pManager->SendCommand(this, 0, static_cast<unsigned>(m_nID));
}

void CSomCheckBox::SetCheck(bool on) {
  if ((m_bChecked != 0) == on && !m_bMixed) return;
  m_bMixed = 0;
  m_bChecked = on ? 1 : 0;
  Invalidate();
}

void CSomCheckBox::SetMixed(bool on) {
  if ((m_bMixed != 0) == on) return;
  m_bMixed = on ? 1 : 0;
  Invalidate();
}

void CSomCheckBox::OnCreate() {
  m_bHover = 0;
  m_bChecked = 0;
  m_bPressed = 0;
  UpdateLayout();
}

void CSomCheckBox::OnMouseEnter(SomPoint /*pt*/) {
  if (m_bHover) return;
  m_bHover = 1;
  Invalidate();
}

void CSomCheckBox::OnMouseLeave() {
  if (!m_bHover) return;
  m_bHover = 0;
  Invalidate();
}

int CSomCheckBox::OnLButtonDown(SomPoint /*pt*/) {
  if (m_bPressed) return 1;
  m_bPressed = 1;
  Invalidate();
  if (m_pManager) m_pManager->SetElementCapture(this);
  return 1;
}

int CSomCheckBox::OnLButtonUp(SomPoint /*pt*/) {
  if (m_bPressed && m_pManager) m_pManager->ReleaseElementCapture(this);
  return 1;
}

int CSomCheckBox::OnLButtonDblClk(SomPoint pt) { return OnLButtonDown(pt); }

void CSomCheckBox::OnCaptureChanged() {
  if (!m_bPressed) return;
  m_bPressed = 0;
  if (m_bHover) {
    if (m_bRadio) {
      m_bChecked = 1;
    } else if (m_bMixed) {
      m_bMixed = 0;
      m_bChecked = 1;
    } else {
      m_bChecked = m_bChecked ? 0 : 1;
    }
  }
  Invalidate();
  if (m_bHover && m_pManager) m_pManager->SendCommand(this, 0, static_cast<unsigned>(m_nID));
}

void CSomButton4::ApplyLayout(SomSize imageFrame, const ButtonContent& content) {
  // A strip that failed to load leaves the button its size.
  const bool hasImage = imageFrame.cx > 0 && imageFrame.cy > 0;
  ButtonLayout layout =
      ComputeButtonLayout((m_dwStyle & StyleAutoSize) != 0, hasImage, imageFrame, GetWidth(), content);
  m_xContent = layout.xContent;
  if (layout.resize) SetSize(layout.size.cx, layout.size.cy);
  Invalidate();
}

void CSomCheckBox::ApplyLayout(SomSize imageFrame, bool hasCaption, SomSize captionSize, bool imageHasAlpha) {
  CheckBoxLayout layout = ComputeCheckBoxLayout(imageFrame, hasCaption, captionSize, imageHasAlpha);
  if (layout.transparent) {
    m_dwStyle |= StyleTransparent;
  } else {
    m_dwStyle &= ~StyleTransparent;
  }
  if (m_dwStyle & StyleAutoSize) SetSize(layout.size.cx, layout.size.cy);
  Invalidate();
}

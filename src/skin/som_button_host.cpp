// Hosts without Win32 have no decoded strips and no fonts.
#if !defined(_WIN32)
#include "skin/skin_measure.h"
#include "skin/som_button.h"

SomSize SkinFrameSize(CSomBitmap* /*image*/) { return SomSize{}; }

SomSize SkinCaptionSize(const std::wstring& /*text*/) { return SomSize{}; }

CSomButton4::~CSomButton4() = default;
CSomCheckBox::~CSomCheckBox() = default;

// Nothing to measure: strips and captions have no size here.
void CSomButton4::UpdateLayout() {
  ApplyLayout(SomSize{}, ButtonContent{m_pIcon != nullptr, 0, !m_strText.empty(), 0});
}
void CSomCheckBox::UpdateLayout() { ApplyLayout(SomSize{}, !m_strText.empty(), SomSize{}); }

// Nothing to paint on without GDI; the looks are chosen by ButtonLook and
// CheckBoxFrame, which are portable.
void CSomButton4::OnPaint(SomDC /*dc*/, int /*clipLimit*/, int /*part*/) {}
void CMySomButton4::OnPaint(SomDC /*dc*/, int /*clipLimit*/, int /*part*/) {}
void CSomCheckBox::OnPaint(SomDC /*dc*/, int /*clipLimit*/, int /*part*/) {}
#endif

#include "skin/som_bitmap.h"

namespace {

class NullImageServices : public ISomImageServices {
 public:
  SomImageInfo LoadImageData(std::uintptr_t, bool, std::uint8_t) override { return {}; }
  void DeleteImage(SomBitmapHandle) override {}
  void Blit(SomDC, SomBitmapHandle, const ImageBlit&, bool) override {}
  bool CreateSkinFonts(SomFont[16]) override { return false; }
  void DeleteFont(SomFont) override {}
};

NullImageServices g_nullImageServices;
ISomImageServices* g_imageServices = nullptr;

}  // namespace

ISomImageServices& SomImageServices() { return g_imageServices ? *g_imageServices : g_nullImageServices; }
void SetSomImageServices(ISomImageServices* services) { g_imageServices = services; }

CSomBitmap::CSomBitmap(std::uintptr_t source, std::uint16_t frames, std::uint8_t type)
    : m_source(source), m_nFrames(frames ? frames : 1), m_nType(type) {}

CSomBitmap::CSomBitmap(const wchar_t* path, std::uint16_t frames, std::uint8_t type)
    : CSomBitmap(reinterpret_cast<std::uintptr_t>(path), frames, type) {}

CSomBitmap::~CSomBitmap() {
  if (m_hBitmap) SomImageServices().DeleteImage(m_hBitmap);
}

void CSomBitmap::Load() {
  if (m_hBitmap || m_bLoaded) return;
  SomImageInfo info = SomImageServices().LoadImageData(m_source, m_source > kMaxResourceId, m_nType);
  if (info.handle && info.width > 0 && info.height > 0) {
    m_hBitmap = info.handle;
    m_cxFrame = info.width / m_nFrames;
    m_cy = info.height;
    m_bAlpha = info.bitsPerPixel == 32;
  } else {
    if (info.handle) SomImageServices().DeleteImage(info.handle);
    m_nFrames = 0;
    m_cxFrame = 0;
    m_cy = 0;
    m_bAlpha = 0;
  }
  m_bLoaded = 1;
}

int CSomBitmap::GetFrameWidth() {
  Load();
  return m_cxFrame;
}

int CSomBitmap::GetHeight() {
  Load();
  return m_cy;
}

bool CSomBitmap::HasAlpha() {
  Load();
  return m_bAlpha != 0;
}

int CSomBitmap::GetFrameCount() {
  Load();
  return m_nFrames;
}

SomBitmapHandle CSomBitmap::GetHandle() {
  Load();
  return m_hBitmap;
}

bool CSomBitmap::CanDraw(int frame) {
  Load();
  // A frame past the strip's end lies outside the bitmap: nothing is drawn
  // rather than whatever happens to lie beside it.
  return m_hBitmap && frame >= 0 && frame < m_nFrames;
}

void CSomBitmap::Blit(SomDC dc, const ImageBlit& blit) {
  if (blit.cx <= 0 || blit.cy <= 0 || blit.srcCx <= 0 || blit.srcCy <= 0) return;
  SomImageServices().Blit(dc, m_hBitmap, blit, m_bAlpha != 0);
}

void CSomBitmap::DrawFrame(SomDC dc, int x, int y, int frame) {
  if (!CanDraw(frame)) return;
  Blit(dc, ImageBlit{x, y, m_cxFrame, m_cy, frame * m_cxFrame, 0, m_cxFrame, m_cy, false});
}

void CSomBitmap::DrawPart(SomDC dc, int x, int y, int cx, int cy, int srcX, int srcY, int frame) {
  if (!CanDraw(frame)) return;
  Blit(dc, ImageBlit{x, y, cx, cy, frame * m_cxFrame + srcX, srcY, cx, cy, false});
}

void CSomBitmap::StretchPart(SomDC dc, int x, int y, int cx, int cy, int srcX, int srcY, int srcCx, int srcCy,
                             int frame) {
  if (!CanDraw(frame)) return;
  Blit(dc, ImageBlit{x, y, cx, cy, frame * m_cxFrame + srcX, srcY, srcCx, srcCy, true});
}

void CSomBitmap::Draw(SomDC dc, int x, int y, int cx, int cy, int frame) {
  Load();
  StretchPart(dc, x, y, cx, cy, 0, 0, m_cxFrame, m_cy, frame);
}

void CSomBitmap::DrawHStretch(SomDC dc, int x, int y, int cx, int frame) {
  Load();
  StretchPart(dc, x, y, cx, m_cy, 0, 0, m_cxFrame, m_cy, frame);
}

CSomBitmap9Part::CSomBitmap9Part(std::uintptr_t source, int xLeft, int xRight, int yTop, int yBottom,
                                 std::uint16_t frames, std::uint8_t type)
    : CSomBitmap(source, frames, type), m_xLeft(xLeft), m_xRight(xRight), m_yTop(yTop), m_yBottom(yBottom) {}

CSomBitmap9Part::CSomBitmap9Part(const wchar_t* path, int xLeft, int xRight, int yTop, int yBottom,
                                 std::uint16_t frames, std::uint8_t type)
    : CSomBitmap9Part(reinterpret_cast<std::uintptr_t>(path), xLeft, xRight, yTop, yBottom, frames, type) {}

void CSomBitmap9Part::Draw(SomDC dc, int x, int y, int cx, int cy, int frame) {
  if (!CanDraw(frame)) return;
  for (const ImageBlit& b :
       NinePartBlits(m_cxFrame, m_cy, NinePartMargins{m_xLeft, m_xRight, m_yTop, m_yBottom}, frame, x, y, cx, cy)) {
    Blit(dc, b);
  }
}

#pragma once

// Skin images: one PNG (or BMP/JPEG) as a horizontal strip of equally wide
// frames, decoded on first use. The pixels live in the window system; this
// class keeps the bookkeeping and says what to copy where, and the image
// services (Win32: som_bitmap_win.cpp) do the loading and copying.
#include <cstddef>
#include <cstdint>

#include "skin/nine_part.h"
#include "skin/som_types.h"

enum : std::uint8_t {
  ImageTypeBmp = 1,
  ImageTypePng = 2,
  ImageTypeJpeg = 3,
};

struct SomImageInfo {
  SomBitmapHandle handle = nullptr;  // null when loading failed
  int width = 0;
  int height = 0;
  int bitsPerPixel = 0;
};

class ISomImageServices {
 public:
  // `source` is a resource id, or with fromFile the address of a wide path.
  virtual SomImageInfo LoadImageData(std::uintptr_t source, bool fromFile, std::uint8_t type) = 0;
  virtual void DeleteImage(SomBitmapHandle image) = 0;
  // Copies (or, with blit.stretch, stretches) one block of the image onto dc;
  // with alpha the image carries premultiplied alpha and is blended.
  virtual void Blit(SomDC dc, SomBitmapHandle image, const ImageBlit& blit, bool alpha) = 0;
  // The sixteen skin fonts; false when this host has no fonts.
  virtual bool CreateSkinFonts(SomFont fonts[16]) = 0;
  virtual void DeleteFont(SomFont font) = 0;

 protected:
  ~ISomImageServices() = default;
};

ISomImageServices& SomImageServices();
// Null restores the default, which loads nothing.
void SetSomImageServices(ISomImageServices* services);

class CSomBitmap {
 public:
  // Resource ids go up to this value; larger sources are file paths.
  static constexpr std::uintptr_t kMaxResourceId = 65534;

  // `source` is a resource id when it is at most 65534, otherwise the address
  // of a wide file path that the caller keeps alive. Nothing is loaded here.
  explicit CSomBitmap(std::uintptr_t source, std::uint16_t frames = 1, std::uint8_t type = ImageTypePng);
  explicit CSomBitmap(const wchar_t* path, std::uint16_t frames = 1, std::uint8_t type = ImageTypePng);
  virtual ~CSomBitmap();
  CSomBitmap(const CSomBitmap&) = delete;
  CSomBitmap& operator=(const CSomBitmap&) = delete;

  // Scales frame `frame` into (x, y, cx, cy).
  virtual void Draw(SomDC dc, int x, int y, int cx, int cy, int frame);
  // Stretches frame `frame` to width cx at its natural height.
  virtual void DrawHStretch(SomDC dc, int x, int y, int cx, int frame);

  // Loads on the first call; a failed load is never retried.
  void Load();
  int GetFrameWidth();
  int GetHeight();
  bool HasAlpha();
  int GetFrameCount();  // 0 after a failed load
  SomBitmapHandle GetHandle();
  bool IsLoaded() const { return m_bLoaded != 0; }

  // Copies a frame at natural size to x, y.
  void DrawFrame(SomDC dc, int x, int y, int frame);
  // Copies the cx × cy block at (srcX, srcY) of the frame 1:1 to x, y.
  void DrawPart(SomDC dc, int x, int y, int cx, int cy, int srcX, int srcY, int frame);
  // Stretches the block (srcX, srcY, srcCx, srcCy) of the frame into (x, y, cx, cy).
  void StretchPart(SomDC dc, int x, int y, int cx, int cy, int srcX, int srcY, int srcCx, int srcCy, int frame);

 protected:
  // Loads and checks the frame; false when there is nothing to draw.
  bool CanDraw(int frame);
  void Blit(SomDC dc, const ImageBlit& blit);

  std::uintptr_t m_source;
  SomBitmapHandle m_hBitmap = nullptr;
  std::int32_t m_cxFrame = 0;
  std::int32_t m_cy = 0;
  std::uint16_t m_nFrames;
  std::uint8_t m_bAlpha = 0;
  std::uint8_t m_nType;
  std::int32_t m_bLoaded = 0;
};

// A frame drawn in nine parts: the corners keep their size, edges and centre
// stretch. Margins are in frame coordinates: xRight and yBottom are where the
// right column and the bottom row start.
class CSomBitmap9Part : public CSomBitmap {
 public:
  CSomBitmap9Part(std::uintptr_t source, int xLeft, int xRight, int yTop, int yBottom, std::uint16_t frames = 1,
                  std::uint8_t type = ImageTypePng);
  CSomBitmap9Part(const wchar_t* path, int xLeft, int xRight, int yTop, int yBottom, std::uint16_t frames = 1,
                  std::uint8_t type = ImageTypePng);

  void Draw(SomDC dc, int x, int y, int cx, int cy, int frame) override;

 protected:
  std::int32_t m_xLeft;
  std::int32_t m_xRight;
  std::int32_t m_yTop;
  std::int32_t m_yBottom;
};

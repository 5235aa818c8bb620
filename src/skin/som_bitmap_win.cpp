#include "skin/som_bitmap_win.h"

#include <wincodec.h>

#include <algorithm>
#include <vector>

#include "base/scoped_win.h"
#include "skin/nine_part.h"
#include "skin/png_decode.h"
#include "skin/skin_table_win.h"

bool CreateWin32SkinFonts(SomFont fonts[SkinTable::kFontCount]);

namespace {

// Selects a bitmap into a memory DC for one drawing operation: the shared
// one, or a temporary DC compatible with the screen.
class SourceDC {
 public:
  SourceDC(HBITMAP bitmap, bool shared)
      : m_owned(shared ? nullptr : ::CreateCompatibleDC(nullptr)),
        m_dc(shared ? TheSharedMemoryDC().Get() : m_owned.Get()),
        m_select(m_dc, bitmap) {}
  HDC Get() const { return m_dc; }

 private:
  ScopedMemoryDC m_owned;  // destroyed last, after the old bitmap is back
  HDC m_dc;
  ScopedSelectObject m_select;
};

const BLENDFUNCTION kBlend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};

// The two primitives every drawing operation uses.
void CopyBlock(HDC dst, int x, int y, int cx, int cy, HDC src, int sx, int sy, bool alpha) {
  if (alpha) {
    ::AlphaBlend(dst, x, y, cx, cy, src, sx, sy, cx, cy, kBlend);
  } else {
    ::BitBlt(dst, x, y, cx, cy, src, sx, sy, SRCCOPY);
  }
}

void StretchBlock(HDC dst, int x, int y, int cx, int cy, HDC src, int sx, int sy, int scx, int scy, bool alpha) {
  if (alpha) {
    ::AlphaBlend(dst, x, y, cx, cy, src, sx, sy, scx, scy, kBlend);
    return;
  }
  POINT org = {};
  ::GetBrushOrgEx(dst, &org);
  ::SetStretchBltMode(dst, HALFTONE);
  ::SetBrushOrgEx(dst, org.x, org.y, nullptr);
  ::StretchBlt(dst, x, y, cx, cy, src, sx, sy, scx, scy, SRCCOPY);
}

HBITMAP CreateTopDownDib(int width, int height, int bitsPerPixel, void** bits) {
  BITMAPINFO bmi = {};
  bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bmi.bmiHeader.biWidth = width;
  bmi.bmiHeader.biHeight = -height;
  bmi.bmiHeader.biPlanes = 1;
  bmi.bmiHeader.biBitCount = static_cast<WORD>(bitsPerPixel);
  bmi.bmiHeader.biCompression = BI_RGB;
  return ::CreateDIBSection(nullptr, &bmi, DIB_RGB_COLORS, bits, nullptr, 0);
}

HBITMAP DecodeBytes(const BYTE* bytes, size_t size, BYTE type) {
  return type == ImageTypeJpeg ? DecodeJpeg(bytes, size) : DecodePng(bytes, size);
}

HBITMAP LoadImageFile(const wchar_t* path, BYTE type) {
  ScopedFile file(
      ::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return nullptr;
  LARGE_INTEGER size = {};
  if (!::GetFileSizeEx(file.Get(), &size) || size.QuadPart <= 0 || size.QuadPart > 256 * 1024 * 1024) return nullptr;
  std::vector<BYTE> bytes(static_cast<size_t>(size.QuadPart));
  size_t got = 0;
  while (got < bytes.size()) {
    DWORD chunk = 0;
    DWORD want = static_cast<DWORD>(std::min<size_t>(bytes.size() - got, 1 << 20));
    if (!::ReadFile(file.Get(), bytes.data() + got, want, &chunk, nullptr) || chunk == 0) break;
    got += chunk;
  }
  if (got != bytes.size()) return nullptr;
  return DecodeBytes(bytes.data(), bytes.size(), type);
}

HBITMAP LoadImageResource(UINT_PTR id, BYTE type) {
  HMODULE module = ::GetModuleHandleW(nullptr);
  HRSRC res = ::FindResourceW(module, MAKEINTRESOURCEW(id), type == ImageTypeJpeg ? L"JPG" : L"PNG");
  if (!res) return nullptr;
  HGLOBAL data = ::LoadResource(module, res);
  const void* bytes = data ? ::LockResource(data) : nullptr;
  if (!bytes) return nullptr;
  return DecodeBytes(static_cast<const BYTE*>(bytes), ::SizeofResource(module, res), type);
}

}  // namespace

HBITMAP DecodePng(const BYTE* bytes, size_t size) {
  ScopedGdiObject dib;
  bool ok = DecodePngInto(
      bytes, size,
      [&dib](const PngLayout& l) -> uint8_t* {
        void* bits = nullptr;
        dib.Reset(CreateTopDownDib(l.width, l.height, 8 * l.channels, &bits));
        return dib ? static_cast<uint8_t*>(bits) : nullptr;
      },
      nullptr);
  return ok ? static_cast<HBITMAP>(dib.Release()) : nullptr;
}

HBITMAP DecodeJpeg(const BYTE* bytes, size_t size) {
  if (!bytes || size == 0 || size > MAXDWORD) return nullptr;
  // The imaging component needs COM; callers on a thread without it still get
  // their picture.
  ScopedCoInit com;
  ComPtr<IWICImagingFactory> factory;
  ComPtr<IWICStream> stream;
  ComPtr<IWICBitmapDecoder> decoder;
  ComPtr<IWICBitmapFrameDecode> frame;
  ComPtr<IWICFormatConverter> converter;
  UINT width = 0;
  UINT height = 0;
  bool ok =
      SUCCEEDED(::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                   factory.PutVoid())) &&
      SUCCEEDED(factory->CreateStream(stream.Put())) &&
      SUCCEEDED(stream->InitializeFromMemory(const_cast<BYTE*>(bytes), static_cast<DWORD>(size))) &&
      SUCCEEDED(factory->CreateDecoderFromStream(stream.Get(), nullptr, WICDecodeMetadataCacheOnDemand, decoder.Put()));
  GUID container = {};
  ok = ok && SUCCEEDED(decoder->GetContainerFormat(&container)) && container == GUID_ContainerFormatJpeg &&
       SUCCEEDED(decoder->GetFrame(0, frame.Put())) && SUCCEEDED(frame->GetSize(&width, &height)) && width > 0 &&
       height > 0 && width <= kPngMaxSide && height <= kPngMaxSide &&
       SUCCEEDED(factory->CreateFormatConverter(converter.Put())) &&
       SUCCEEDED(converter->Initialize(frame.Get(), GUID_WICPixelFormat24bppBGR, WICBitmapDitherTypeNone, nullptr, 0.0,
                                       WICBitmapPaletteTypeCustom));
  if (!ok) return nullptr;
  void* bits = nullptr;
  ScopedGdiObject dib(CreateTopDownDib(static_cast<int>(width), static_cast<int>(height), 24, &bits));
  UINT stride = (width * 3 + 3) & ~3u;
  if (!dib || FAILED(converter->CopyPixels(nullptr, stride, stride * height, static_cast<BYTE*>(bits)))) {
    return nullptr;
  }
  return static_cast<HBITMAP>(dib.Release());
}

namespace {

class Win32ImageServices : public ISomImageServices {
 public:
  SomImageInfo LoadImageData(std::uintptr_t source, bool fromFile, std::uint8_t type) override {
    const wchar_t* path = reinterpret_cast<const wchar_t*>(source);
    HBITMAP bitmap = nullptr;
    if (type == ImageTypeBmp) {
      bitmap = static_cast<HBITMAP>(
          fromFile ? ::LoadImageW(nullptr, path, IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION)
                   : ::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(source), IMAGE_BITMAP, 0, 0,
                                  LR_CREATEDIBSECTION));
    } else if (type == ImageTypePng || type == ImageTypeJpeg) {
      bitmap = fromFile ? LoadImageFile(path, type) : LoadImageResource(source, type);
    }
    SomImageInfo info;
    BITMAP bm = {};
    if (bitmap && ::GetObjectW(bitmap, sizeof(bm), &bm)) {
      info.handle = bitmap;
      info.width = bm.bmWidth;
      info.height = bm.bmHeight < 0 ? -bm.bmHeight : bm.bmHeight;
      info.bitsPerPixel = bm.bmBitsPixel;
    } else {
      DeleteGdiObject(bitmap);
    }
    return info;
  }

  void DeleteImage(SomBitmapHandle image) override { DeleteGdiObject(image); }

  void Blit(SomDC dc, SomBitmapHandle image, const ImageBlit& b, bool alpha) override {
    SourceDC src(image, true);
    if (!src.Get()) return;
    if (b.stretch) {
      StretchBlock(dc, b.x, b.y, b.cx, b.cy, src.Get(), b.srcX, b.srcY, b.srcCx, b.srcCy, alpha);
    } else {
      CopyBlock(dc, b.x, b.y, b.cx, b.cy, src.Get(), b.srcX, b.srcY, alpha);
    }
  }

  bool CreateSkinFonts(SomFont fonts[16]) override { return CreateWin32SkinFonts(fonts); }
  void DeleteFont(SomFont font) override { DeleteGdiObject(font); }
};

Win32ImageServices g_win32ImageServices;

}  // namespace

void UseWin32SomImageServices() { SetSomImageServices(&g_win32ImageServices); }

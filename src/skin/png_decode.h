#pragma once

// PNG decoding without any window system: 8-bit samples, BGR or BGRA order,
// alpha premultiplied, rows top-down with a stride padded to 4 bytes (the
// layout of a top-down DIB section, so Windows decodes straight into one).
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

struct PngLayout {
  int width = 0;
  int height = 0;
  int channels = 0;  // 3 (BGR) or 4 (premultiplied BGRA)
  int stride = 0;    // bytes per row, a multiple of 4
};

// Pictures larger than this are refused rather than allocated.
constexpr int kPngMaxSide = 8192;
constexpr int64_t kPngMaxPixels = 32 * 1024 * 1024;

// Asked once the layout is known for a buffer of height × stride bytes;
// returning null ends decoding with failure.
using PngBufferProvider = std::function<uint8_t*(const PngLayout&)>;

// Decodes into the provided buffer. False when the data is not a complete,
// valid PNG (the buffer may then hold a partial picture).
bool DecodePngInto(const uint8_t* bytes, size_t size, const PngBufferProvider& provide, PngLayout* layout);

struct PngImage {
  PngLayout layout;
  std::vector<uint8_t> pixels;
};

bool DecodePngToImage(const uint8_t* bytes, size_t size, PngImage* image);

// 8-byte signature check.
bool HasPngSignature(const uint8_t* bytes, size_t size);

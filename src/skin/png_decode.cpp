#include "skin/png_decode.h"

#include <png.h>

#include <csetjmp>
#include <cstring>

namespace {

struct ReadCursor {
  const uint8_t* data;
  size_t size;
  size_t pos;
};

void ReadFromBuffer(png_structp png, png_bytep out, png_size_t count) {
  auto* cursor = static_cast<ReadCursor*>(png_get_io_ptr(png));
  if (count > cursor->size - cursor->pos) png_error(png, "truncated");
  std::memcpy(out, cursor->data + cursor->pos, count);
  cursor->pos += count;
}

void OnPngError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void OnPngWarning(png_structp, png_const_charp) {}

// Owns the libpng structures so that every way out of decoding frees them.
struct PngReader {
  png_structp png = nullptr;
  png_infop info = nullptr;
  ~PngReader() { png_destroy_read_struct(&png, info ? &info : nullptr, nullptr); }
};

void Premultiply(uint8_t* rows, const PngLayout& layout) {
  for (int y = 0; y < layout.height; ++y) {
    uint8_t* p = rows + static_cast<size_t>(y) * layout.stride;
    for (int x = 0; x < layout.width; ++x, p += 4) {
      unsigned a = p[3];
      p[0] = static_cast<uint8_t>(p[0] * a / 255);
      p[1] = static_cast<uint8_t>(p[1] * a / 255);
      p[2] = static_cast<uint8_t>(p[2] * a / 255);
    }
  }
}

// Everything between setjmp and the last libpng call lives in plain locals:
// a libpng error jumps straight back here, past no destructor.
bool ReadImage(PngReader& reader, ReadCursor& cursor, const PngBufferProvider& provide, PngLayout* layout,
               uint8_t** rowsOut) {
  png_structp png = reader.png;
  png_infop info = reader.info;
  uint8_t* volatile rows = nullptr;
  if (setjmp(png_jmpbuf(png))) {
    *rowsOut = rows;
    return false;
  }
  png_set_read_fn(png, &cursor, ReadFromBuffer);
  png_set_user_limits(png, kPngMaxSide, kPngMaxSide);
  png_read_info(png, info);

  int colorType = png_get_color_type(png, info);
  if (png_get_bit_depth(png, info) == 16) png_set_strip_16(png);
  if (colorType == PNG_COLOR_TYPE_PALETTE || png_get_bit_depth(png, info) < 8 ||
      png_get_valid(png, info, PNG_INFO_tRNS)) {
    png_set_expand(png);
  }
  if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
  png_set_bgr(png);
  int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);

  PngLayout l;
  l.width = static_cast<int>(png_get_image_width(png, info));
  l.height = static_cast<int>(png_get_image_height(png, info));
  l.channels = png_get_channels(png, info);
  if (l.channels != 3 && l.channels != 4) return false;
  if (static_cast<int64_t>(l.width) * l.height > kPngMaxPixels) return false;
  l.stride = (l.channels * l.width + 3) & ~3;
  *layout = l;

  rows = provide(l);
  *rowsOut = rows;
  if (!rows) return false;
  for (int pass = 0; pass < passes; ++pass) {
    for (int y = 0; y < l.height; ++y) png_read_row(png, rows + static_cast<size_t>(y) * l.stride, nullptr);
  }
  png_read_end(png, nullptr);
  return true;
}

}  // namespace

bool HasPngSignature(const uint8_t* bytes, size_t size) {
  return bytes && size >= 8 && png_sig_cmp(const_cast<uint8_t*>(bytes), 0, 8) == 0;
}

bool DecodePngInto(const uint8_t* bytes, size_t size, const PngBufferProvider& provide, PngLayout* layout) {
  if (!HasPngSignature(bytes, size)) return false;
  PngReader reader;
  reader.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnPngError, OnPngWarning);
  if (!reader.png) return false;
  reader.info = png_create_info_struct(reader.png);
  if (!reader.info) return false;

  ReadCursor cursor{bytes, size, 0};
  PngLayout l;
  uint8_t* rows = nullptr;
  if (!ReadImage(reader, cursor, provide, &l, &rows)) return false;
  if (l.channels == 4) Premultiply(rows, l);
  if (layout) *layout = l;
  return true;
}

bool DecodePngToImage(const uint8_t* bytes, size_t size, PngImage* image) {
  PngImage decoded;
  bool ok = DecodePngInto(
      bytes, size,
      [&decoded](const PngLayout& l) {
        decoded.pixels.assign(static_cast<size_t>(l.stride) * l.height, 0);
        return decoded.pixels.data();
      },
      &decoded.layout);
  if (!ok) return false;
  *image = std::move(decoded);
  return true;
}

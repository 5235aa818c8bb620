// libFuzzer entry: any bytes through the PNG decoder. Beyond not crashing,
// a decoded picture must be consistent with its layout.
#include <cstdlib>

#include "skin/png_decode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  PngImage image;
  if (!DecodePngToImage(data, size, &image)) return 0;
  const PngLayout& l = image.layout;
  if (l.width <= 0 || l.height <= 0 || (l.channels != 3 && l.channels != 4) || l.stride % 4 != 0 ||
      l.stride < l.width * l.channels || image.pixels.size() != static_cast<size_t>(l.stride) * l.height) {
    std::abort();
  }
  if (l.channels == 4) {
    for (int y = 0; y < l.height; ++y) {
      const uint8_t* p = image.pixels.data() + static_cast<size_t>(y) * l.stride;
      for (int x = 0; x < l.width; ++x, p += 4) {
        if (p[0] > p[3] || p[1] > p[3] || p[2] > p[3]) std::abort();  // premultiplied
      }
    }
  }
  return 0;
}

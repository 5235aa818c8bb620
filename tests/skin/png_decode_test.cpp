#include "skin/png_decode.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cstring>
#include <vector>

namespace {

struct PngParams {
  int width = 1;
  int height = 1;
  int colorType = PNG_COLOR_TYPE_RGB;
  int bitDepth = 8;
  bool interlaced = false;
  std::vector<png_color> palette;
  std::vector<png_byte> trns;
};

void AppendBytes(png_structp png, png_bytep data, png_size_t size) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + size);
}

void NoFlush(png_structp) {}

// Writes a PNG with libpng itself; `rows` are packed rows in the file's own
// sample format.
std::vector<uint8_t> EncodePng(const PngParams& params, const std::vector<std::vector<uint8_t>>& rows) {
  std::vector<uint8_t> out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    ADD_FAILURE() << "encoding failed";
    return {};
  }
  png_set_write_fn(png, &out, AppendBytes, NoFlush);
  png_set_IHDR(png, info, params.width, params.height, params.bitDepth, params.colorType,
               params.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (!params.palette.empty()) {
    png_set_PLTE(png, info, params.palette.data(), static_cast<int>(params.palette.size()));
  }
  if (!params.trns.empty()) {
    png_set_tRNS(png, info, params.trns.data(), static_cast<int>(params.trns.size()), nullptr);
  }
  png_write_info(png, info);
  if (params.interlaced) {
    int passes = png_set_interlace_handling(png);
    for (int p = 0; p < passes; ++p) {
      for (const auto& row : rows) png_write_row(png, row.data());
    }
  } else {
    for (const auto& row : rows) png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

PngImage Decode(const std::vector<uint8_t>& bytes) {
  PngImage image;
  EXPECT_TRUE(DecodePngToImage(bytes.data(), bytes.size(), &image));
  return image;
}

std::vector<uint8_t> Pixel(const PngImage& image, int x, int y) {
  const uint8_t* p = image.pixels.data() + static_cast<size_t>(y) * image.layout.stride + x * image.layout.channels;
  return std::vector<uint8_t>(p, p + image.layout.channels);
}

using Bytes = std::vector<uint8_t>;

TEST(DecodePng, PaletteWithTransparencyGivesPremultipliedBgra) {
  PngParams params;
  params.width = 3;
  params.colorType = PNG_COLOR_TYPE_PALETTE;
  params.palette = {{200, 100, 50}, {255, 255, 255}, {10, 20, 30}};
  params.trns = {128, 0};  // the third entry stays opaque
  PngImage image = Decode(EncodePng(params, {{0, 1, 2}}));
  EXPECT_EQ(image.layout.channels, 4);
  EXPECT_EQ(image.layout.width, 3);
  EXPECT_EQ(image.layout.stride, 12);
  EXPECT_EQ(Pixel(image, 0, 0), (Bytes{25, 50, 100, 128}));
  EXPECT_EQ(Pixel(image, 1, 0), (Bytes{0, 0, 0, 0}));
  EXPECT_EQ(Pixel(image, 2, 0), (Bytes{30, 20, 10, 255}));
}

TEST(DecodePng, RgbaIsPremultipliedAndOrderedBgr) {
  PngParams params;
  params.width = 3;
  params.colorType = PNG_COLOR_TYPE_RGBA;
  PngImage image = Decode(EncodePng(params, {{200, 100, 50, 128, 255, 255, 255, 0, 1, 2, 3, 255}}));
  ASSERT_EQ(image.layout.channels, 4);
  EXPECT_EQ(Pixel(image, 0, 0), (Bytes{25, 50, 100, 128}));
  EXPECT_EQ(Pixel(image, 1, 0), (Bytes{0, 0, 0, 0}));
  EXPECT_EQ(Pixel(image, 2, 0), (Bytes{3, 2, 1, 255}));
}

TEST(DecodePng, GreyWithoutAlphaGivesBgrWithPaddedRows) {
  PngParams params;
  params.width = 3;
  params.height = 2;
  params.colorType = PNG_COLOR_TYPE_GRAY;
  PngImage image = Decode(EncodePng(params, {{0, 77, 255}, {1, 2, 3}}));
  EXPECT_EQ(image.layout.channels, 3);
  EXPECT_EQ(image.layout.stride, 12);  // 9 bytes padded to 4
  EXPECT_EQ(image.pixels.size(), 24u);
  EXPECT_EQ(Pixel(image, 1, 0), (Bytes{77, 77, 77}));
  EXPECT_EQ(Pixel(image, 2, 1), (Bytes{3, 3, 3}));
}

TEST(DecodePng, GreyAlphaAndLowBitDepthsExpand) {
  PngParams ga;
  ga.colorType = PNG_COLOR_TYPE_GRAY_ALPHA;
  PngImage image = Decode(EncodePng(ga, {{200, 128}}));
  ASSERT_EQ(image.layout.channels, 4);
  EXPECT_EQ(Pixel(image, 0, 0), (Bytes{100, 100, 100, 128}));

  PngParams bits;
  bits.width = 8;
  bits.colorType = PNG_COLOR_TYPE_GRAY;
  bits.bitDepth = 1;
  image = Decode(EncodePng(bits, {{0x81}}));  // 1000 0001
  ASSERT_EQ(image.layout.channels, 3);
  EXPECT_EQ(Pixel(image, 0, 0), (Bytes{255, 255, 255}));
  EXPECT_EQ(Pixel(image, 1, 0), (Bytes{0, 0, 0}));
  EXPECT_EQ(Pixel(image, 7, 0), (Bytes{255, 255, 255}));
}

TEST(DecodePng, SixteenBitSamplesKeepTheirHighByte) {
  PngParams params;
  params.colorType = PNG_COLOR_TYPE_RGB;
  params.bitDepth = 16;
  PngImage image = Decode(EncodePng(params, {{0xC8, 0x01, 0x64, 0xFF, 0x32, 0x00}}));
  ASSERT_EQ(image.layout.channels, 3);
  EXPECT_EQ(Pixel(image, 0, 0), (Bytes{0x32, 0x64, 0xC8}));
}

TEST(DecodePng, InterlacedImageMatchesPlainOne) {
  PngParams params;
  params.width = 9;
  params.height = 9;
  std::vector<std::vector<uint8_t>> rows;
  for (int y = 0; y < 9; ++y) {
    std::vector<uint8_t> row;
    for (int x = 0; x < 9; ++x) row.insert(row.end(), {uint8_t(x * 20), uint8_t(y * 20), uint8_t(x + y)});
    rows.push_back(row);
  }
  PngImage plain = Decode(EncodePng(params, rows));
  params.interlaced = true;
  PngImage interlaced = Decode(EncodePng(params, rows));
  EXPECT_EQ(plain.pixels, interlaced.pixels);
  EXPECT_EQ(Pixel(interlaced, 8, 5), (Bytes{13, 100, 160}));
}

TEST(DecodePng, RejectsWhatIsNotACompletePng) {
  PngParams params;
  params.width = 4;
  params.height = 4;
  std::vector<std::vector<uint8_t>> rows(4, std::vector<uint8_t>(12, 7));
  std::vector<uint8_t> good = EncodePng(params, rows);
  PngImage image;
  ASSERT_TRUE(DecodePngToImage(good.data(), good.size(), &image));

  EXPECT_FALSE(DecodePngToImage(nullptr, 0, &image));
  EXPECT_FALSE(DecodePngToImage(good.data(), 7, &image));
  std::vector<uint8_t> badSignature = good;
  badSignature[1] = 'X';
  EXPECT_FALSE(DecodePngToImage(badSignature.data(), badSignature.size(), &image));
  // Every cut before the image data ends is a decoding error, never a read
  // past the buffer.
  for (size_t cut = 8; cut + 12 < good.size(); cut += 3) {
    EXPECT_FALSE(DecodePngToImage(good.data(), cut, &image)) << "cut at " << cut;
  }
  std::vector<uint8_t> badCrc = good;
  badCrc[29] ^= 0x55;  // last byte of the header chunk's CRC
  EXPECT_FALSE(DecodePngToImage(badCrc.data(), badCrc.size(), &image));
}

TEST(DecodePng, RefusesOversizedPicturesAndFailedBuffers) {
  PngParams params;
  params.colorType = PNG_COLOR_TYPE_GRAY;
  params.width = kPngMaxSide;
  std::vector<uint8_t> atLimit = EncodePng(params, {std::vector<uint8_t>(kPngMaxSide, 1)});
  PngImage image;
  EXPECT_TRUE(DecodePngToImage(atLimit.data(), atLimit.size(), &image));
  params.width = kPngMaxSide + 1;
  std::vector<uint8_t> tooWide = EncodePng(params, {std::vector<uint8_t>(kPngMaxSide + 1, 1)});
  bool asked = false;
  EXPECT_FALSE(DecodePngInto(
      tooWide.data(), tooWide.size(),
      [&asked](const PngLayout&) {
        asked = true;
        return static_cast<uint8_t*>(nullptr);
      },
      nullptr));
  EXPECT_FALSE(asked);

  PngLayout layout;
  EXPECT_FALSE(DecodePngInto(
      atLimit.data(), atLimit.size(), [](const PngLayout&) { return static_cast<uint8_t*>(nullptr); }, &layout));
}

}  // namespace

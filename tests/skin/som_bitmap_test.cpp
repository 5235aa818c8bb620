#include "skin/som_bitmap.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Images that exist by id, with their sizes; every copy is recorded.
class FakeImageServices : public ISomImageServices {
 public:
  struct Known {
    std::uintptr_t source;
    int width, height, bits;
  };
  std::vector<Known> known;
  std::vector<ImageBlit> blits;
  std::vector<bool> alphas;
  int loads = 0;
  int deleted = 0;

  SomImageInfo LoadImageData(std::uintptr_t source, bool, std::uint8_t) override {
    ++loads;
    for (const Known& k : known) {
      if (k.source == source) {
        return {reinterpret_cast<SomBitmapHandle>(static_cast<std::uintptr_t>(0x5000 + source)), k.width, k.height,
                k.bits};
      }
    }
    return {};
  }
  void DeleteImage(SomBitmapHandle) override { ++deleted; }
  void Blit(SomDC, SomBitmapHandle, const ImageBlit& blit, bool alpha) override {
    blits.push_back(blit);
    alphas.push_back(alpha);
  }
  bool CreateSkinFonts(SomFont[16]) override { return false; }
  void DeleteFont(SomFont) override {}
};

class SomBitmapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    services.known = {{102, 57, 20, 32}, {126, 234, 30, 32}, {300, 10, 10, 24}};
    SetSomImageServices(&services);
  }
  void TearDown() override { SetSomImageServices(nullptr); }
  FakeImageServices services;
};

TEST_F(SomBitmapTest, ThreeFrameStripDrawsFramesAndNothingPastTheLast) {
  {
    CSomBitmap strip(126, 3);
    EXPECT_EQ(strip.GetFrameWidth(), 78);
    EXPECT_EQ(strip.GetHeight(), 30);
    EXPECT_TRUE(strip.HasAlpha());
    strip.DrawFrame(nullptr, 5, 6, 2);
    ASSERT_EQ(services.blits.size(), 1u);
    const ImageBlit& b = services.blits[0];
    EXPECT_EQ(b.srcX, 156);
    EXPECT_EQ(b.x, 5);
    EXPECT_EQ(b.cx, 78);
    EXPECT_FALSE(b.stretch);
    EXPECT_TRUE(services.alphas[0]);

    strip.DrawFrame(nullptr, 0, 0, 3);
    strip.DrawHStretch(nullptr, 0, 0, 100, 3);
    strip.DrawFrame(nullptr, 0, 0, -1);
    EXPECT_EQ(services.blits.size(), 1u);

    strip.DrawHStretch(nullptr, 1, 2, 100, 1);
    ASSERT_EQ(services.blits.size(), 2u);
    EXPECT_TRUE(services.blits[1].stretch);
    EXPECT_EQ(services.blits[1].cx, 100);
    EXPECT_EQ(services.blits[1].cy, 30);
    EXPECT_EQ(services.blits[1].srcX, 78);
    EXPECT_EQ(services.blits[1].srcCx, 78);
  }
  EXPECT_EQ(services.deleted, 1);
}

TEST_F(SomBitmapTest, PartsAreOffsetByTheFrame) {
  CSomBitmap strip(102, 3);
  strip.DrawPart(nullptr, 1, 1, 4, 5, 2, 3, 1);
  strip.StretchPart(nullptr, 0, 0, 40, 5, 9, 0, 1, 20, 2);
  ASSERT_EQ(services.blits.size(), 2u);
  EXPECT_EQ(services.blits[0].srcX, 19 + 2);
  EXPECT_EQ(services.blits[0].srcY, 3);
  EXPECT_EQ(services.blits[1].srcX, 38 + 9);
  EXPECT_EQ(services.blits[1].srcCx, 1);
  strip.DrawPart(nullptr, 0, 0, 0, 5, 0, 0, 0);  // empty block
  EXPECT_EQ(services.blits.size(), 2u);
}

TEST_F(SomBitmapTest, OpaqueImagesAreNotBlended) {
  CSomBitmap opaque(300);
  EXPECT_FALSE(opaque.HasAlpha());
  opaque.Draw(nullptr, 0, 0, 20, 20, 0);
  ASSERT_EQ(services.alphas.size(), 1u);
  EXPECT_FALSE(services.alphas[0]);
  EXPECT_TRUE(services.blits[0].stretch);
}

TEST_F(SomBitmapTest, MissingImageStaysEmptyAndIsNeverLoadedAgain) {
  const wchar_t* path = L"/no/such/picture.png";
  CSomBitmap missing(path, 3);
  EXPECT_FALSE(missing.IsLoaded());
  EXPECT_EQ(missing.GetFrameWidth(), 0);
  EXPECT_EQ(missing.GetHeight(), 0);
  EXPECT_EQ(missing.GetFrameCount(), 0);
  EXPECT_TRUE(missing.IsLoaded());
  missing.DrawFrame(nullptr, 0, 0, 0);
  missing.Draw(nullptr, 0, 0, 10, 10, 0);
  EXPECT_EQ(missing.GetHandle(), nullptr);
  EXPECT_EQ(services.loads, 1);
  EXPECT_TRUE(services.blits.empty());
}

TEST_F(SomBitmapTest, NinePartAtNaturalSizeCopiesOneToOne) {
  services.known.push_back({101, 404, 201, 32});
  CSomBitmap9Part frame(101, 4, 47, 4, 146);
  frame.Draw(nullptr, 0, 0, 404, 201, 0);
  ASSERT_EQ(services.blits.size(), 9u);
  for (const ImageBlit& b : services.blits) EXPECT_FALSE(b.stretch);
  EXPECT_EQ(services.blits[4].cx, 43);
  EXPECT_EQ(services.blits[4].cy, 142);
  frame.Draw(nullptr, 0, 0, 404, 201, 1);  // one frame only
  frame.Draw(nullptr, 0, 0, 0, 201, 0);
  EXPECT_EQ(services.blits.size(), 9u);
}

}  // namespace

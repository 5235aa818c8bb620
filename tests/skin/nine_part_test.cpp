#include "skin/nine_part.h"

#include <gtest/gtest.h>

namespace {

bool Same(const ImageBlit& b, std::initializer_list<int> v) {
  const int* p = v.begin();
  return b.x == p[0] && b.y == p[1] && b.cx == p[2] && b.cy == p[3] && b.srcX == p[4] && b.srcY == p[5] &&
         b.srcCx == p[6] && b.srcCy == p[7];
}

// The window frame: 404 × 201, left column 4, right column from 47, top row 4,
// bottom row from 146.
const NinePartMargins kFrame{4, 47, 4, 146};

TEST(NinePartBlits, NaturalSizeCopiesEveryPartOneToOne) {
  auto b = NinePartBlits(404, 201, kFrame, 0, 0, 0, 404, 201);
  ASSERT_EQ(b.size(), 9u);
  EXPECT_TRUE(Same(b[0], {0, 0, 4, 4, 0, 0, 4, 4}));
  EXPECT_TRUE(Same(b[1], {4, 0, 43, 4, 4, 0, 43, 4}));
  EXPECT_TRUE(Same(b[2], {47, 0, 357, 4, 47, 0, 357, 4}));
  EXPECT_TRUE(Same(b[4], {4, 4, 43, 142, 4, 4, 43, 142}));  // centre: xRight - L by yBottom - T
  EXPECT_TRUE(Same(b[8], {47, 146, 357, 55, 47, 146, 357, 55}));
  for (const auto& blit : b) EXPECT_FALSE(blit.stretch);
}

TEST(NinePartBlits, LargerTargetStretchesEdgesAndCentreOnly) {
  auto b = NinePartBlits(404, 201, kFrame, 0, 10, 20, 500, 300);
  ASSERT_EQ(b.size(), 9u);
  EXPECT_TRUE(Same(b[0], {10, 20, 4, 4, 0, 0, 4, 4}));
  EXPECT_TRUE(Same(b[1], {14, 20, 139, 4, 4, 0, 43, 4}));
  EXPECT_TRUE(Same(b[2], {153, 20, 357, 4, 47, 0, 357, 4}));
  EXPECT_TRUE(Same(b[4], {14, 24, 139, 241, 4, 4, 43, 142}));
  EXPECT_TRUE(Same(b[6], {10, 265, 4, 55, 0, 146, 4, 55}));
  EXPECT_FALSE(b[0].stretch);
  EXPECT_TRUE(b[4].stretch);
  EXPECT_FALSE(b[8].stretch);
}

TEST(NinePartBlits, FrameOffsetMovesEverySource) {
  NinePartMargins m{3, 7, 2, 8};
  auto b = NinePartBlits(10, 10, m, 2, 0, 0, 10, 10);
  ASSERT_EQ(b.size(), 9u);
  for (const auto& blit : b) {
    EXPECT_GE(blit.srcX, 20);
    EXPECT_LE(blit.srcX + blit.srcCx, 30);
  }
}

TEST(NinePartBlits, NoRoomForTheMiddleDropsIt) {
  // 400 × 200 is the main window: the middle column shrinks to 39.
  auto b = NinePartBlits(404, 201, kFrame, 0, 0, 0, 400, 200);
  EXPECT_TRUE(Same(b[1], {4, 0, 39, 4, 4, 0, 43, 4}));
  // Exactly the two fixed columns: no middle column at all.
  b = NinePartBlits(404, 201, kFrame, 0, 0, 0, 361, 201);
  ASSERT_EQ(b.size(), 6u);
  EXPECT_TRUE(Same(b[1], {4, 0, 357, 4, 47, 0, 357, 4}));
}

TEST(NinePartBlits, TooSmallTargetSharesTheFixedPartsWithoutMirroring) {
  NinePartMargins m{10, 30, 10, 30};  // 40 × 40 image, 10-pixel borders
  auto b = NinePartBlits(40, 40, m, 0, 0, 0, 10, 40);
  for (const auto& blit : b) {
    EXPECT_GT(blit.cx, 0);
    EXPECT_GT(blit.cy, 0);
    EXPECT_GT(blit.srcCx, 0);
    EXPECT_LE(blit.x + blit.cx, 10);
  }
  // Left half shows the left border's outer part, right half the right border's.
  EXPECT_TRUE(Same(b[0], {0, 0, 5, 10, 0, 0, 5, 10}));
  EXPECT_TRUE(Same(b[1], {5, 0, 5, 10, 35, 0, 5, 10}));
  EXPECT_TRUE(NinePartBlits(40, 40, m, 0, 0, 0, 0, 40).empty());
  EXPECT_TRUE(NinePartBlits(40, 40, m, 0, 0, 0, 40, -1).empty());
}

}  // namespace

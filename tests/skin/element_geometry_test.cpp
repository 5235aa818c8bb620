#include "skin/element_geometry.h"

#include <gtest/gtest.h>

#include <climits>

// Global, so that the comparisons inside std::vector find it.
bool operator==(const ProgressBlit& a, const ProgressBlit& b) {
  return a.fromFill == b.fromFill && a.srcX == b.srcX && a.srcWidth == b.srcWidth && a.dstX == b.dstX &&
         a.dstWidth == b.dstWidth;
}

namespace {

std::vector<ProgressBlit> FillOnly(const std::vector<ProgressBlit>& all) {
  std::vector<ProgressBlit> out;
  for (const auto& b : all) {
    if (b.fromFill) out.push_back(b);
  }
  return out;
}

TEST(ButtonLayoutTest, AutoSizedTakesTheFrameSizeWhenContentIsSmaller) {
  ButtonContent caption{false, 0, true, 24};
  ButtonLayout layout = ComputeButtonLayout(true, true, SomSize{78, 30}, 0, caption);
  EXPECT_TRUE(layout.resize);
  EXPECT_EQ(layout.size.cx, 78);
  EXPECT_EQ(layout.size.cy, 30);
  EXPECT_EQ(layout.xContent, 27);  // (78 - 24) / 2

  ButtonLayout close = ComputeButtonLayout(true, true, SomSize{19, 20}, 0, ButtonContent{});
  EXPECT_EQ(close.size.cx, 19);
  EXPECT_EQ(close.size.cy, 20);
}

TEST(ButtonLayoutTest, AutoSizedGrowsForLongContent) {
  // icon 16 + gap 5 + caption 80 = 101, padded by 15.
  ButtonLayout layout = ComputeButtonLayout(true, true, SomSize{78, 30}, 0, ButtonContent{true, 16, true, 80});
  EXPECT_EQ(layout.size.cx, 116);
  EXPECT_EQ(layout.xContent, 7);
}

TEST(ButtonLayoutTest, FixedSizeOnlyCentresTheContent) {
  ButtonLayout layout = ComputeButtonLayout(false, true, SomSize{78, 30}, 100, ButtonContent{true, 16, false, 0});
  EXPECT_FALSE(layout.resize);
  EXPECT_EQ(layout.xContent, 42);
}

TEST(ButtonLayoutTest, MissingImageKeepsTheSize) {
  ButtonLayout layout = ComputeButtonLayout(true, false, SomSize{}, 50, ButtonContent{false, 0, true, 30});
  EXPECT_FALSE(layout.resize);
  EXPECT_EQ(layout.xContent, 0);
}

TEST(CheckBoxFrameTest, NineFrames) {
  EXPECT_EQ(CheckBoxFrame(false, false, false, false, false, false), 0);
  EXPECT_EQ(CheckBoxFrame(false, true, false, false, false, false), 1);
  EXPECT_EQ(CheckBoxFrame(false, true, true, false, false, false), 2);
  EXPECT_EQ(CheckBoxFrame(true, true, true, false, false, false), 3);
  EXPECT_EQ(CheckBoxFrame(false, false, false, true, false, false), 4);
  EXPECT_EQ(CheckBoxFrame(false, true, false, true, false, false), 5);
  EXPECT_EQ(CheckBoxFrame(false, true, true, true, false, false), 6);
  EXPECT_EQ(CheckBoxFrame(true, false, false, true, false, false), 7);
  EXPECT_EQ(CheckBoxFrame(false, false, false, false, true, false), 8);
  // Radio boxes have no mixed look.
  EXPECT_EQ(CheckBoxFrame(false, false, false, true, true, true), 4);
}

TEST(CheckBoxLayoutTest, CaptionWidensAndMakesTransparent) {
  CheckBoxLayout plain = ComputeCheckBoxLayout(SomSize{14, 14}, false, SomSize{});
  EXPECT_EQ(plain.size.cx, 14);
  EXPECT_FALSE(plain.transparent);
  CheckBoxLayout captioned = ComputeCheckBoxLayout(SomSize{14, 14}, true, SomSize{60, 16});
  EXPECT_EQ(captioned.size.cx, 79);
  EXPECT_EQ(captioned.size.cy, 16);
  EXPECT_TRUE(captioned.transparent);
  // Without it the see-through corners of the picture show whatever the
  // window held there before (black).
  EXPECT_TRUE(ComputeCheckBoxLayout(SomSize{14, 14}, false, SomSize{}, true).transparent);
}

TEST(ProgressTest, FillWidthsOfTheDownloadBar) {
  ProgressRange bar;
  bar.pos = 1;
  EXPECT_EQ(ProgressFillWidth(bar, 400), 4);
  bar.pos = 4;
  EXPECT_EQ(ProgressFillWidth(bar, 400), 16);
  bar.pos = 50;
  EXPECT_EQ(ProgressFillWidth(bar, 400), 200);
  bar.pos = 100;
  EXPECT_EQ(ProgressFillWidth(bar, 400), 400);
}

TEST(ProgressTest, FillWidthDoesNotOverflowOnWideRanges) {
  ProgressRange bar{0, INT_MAX, INT_MAX / 2};
  EXPECT_EQ(ProgressFillWidth(bar, 400), 199);
  ProgressRange negative{-100, 100, 0};
  EXPECT_EQ(ProgressFillWidth(negative, 400), 200);
}

TEST(ProgressTest, Value1ShowsOnlyTheFirstColumnsOfTheLeftCap) {
  EXPECT_EQ(FillOnly(ProgressBlits(400, 9, 4, 419, 419)), (std::vector<ProgressBlit>{{true, 0, 4, 0, 4}}));
}

TEST(ProgressTest, Value4DrawsBothCapsSideBySide) {
  EXPECT_EQ(FillOnly(ProgressBlits(400, 9, 16, 419, 419)),
            (std::vector<ProgressBlit>{{true, 0, 9, 0, 9}, {true, 410, 9, 9, 9}}));
}

TEST(ProgressTest, Value50StretchesOneColumnOver182Pixels) {
  EXPECT_EQ(FillOnly(ProgressBlits(400, 9, 200, 419, 419)),
            (std::vector<ProgressBlit>{{true, 0, 9, 0, 9}, {true, 9, 1, 9, 182}, {true, 410, 9, 191, 9}}));
}

TEST(ProgressTest, TrackHasFixedCapsAndAStretchedMiddle) {
  auto blits = ProgressBlits(400, 9, 0, 419, 419);
  EXPECT_EQ(blits, (std::vector<ProgressBlit>{{false, 0, 9, 0, 9}, {false, 9, 401, 9, 382}, {false, 410, 9, 391, 9}}));
}

TEST(ProgressTest, BarNarrowerThanTwoCapsDrawsNoMiddle) {
  auto blits = ProgressBlits(12, 8, 0, 419, 419);
  ASSERT_EQ(blits.size(), 2u);
  EXPECT_EQ(blits[1].dstX, 4);
}

TEST(ProgressTest, ValueIsClampedAndRangeKeptWhenUnchanged) {
  ProgressRange bar;
  EXPECT_TRUE(SetProgressValue(bar, 150));
  EXPECT_EQ(bar.pos, 100);
  EXPECT_FALSE(SetProgressValue(bar, 100));
  EXPECT_FALSE(SetProgressRange(bar, 0, 100));  // same range: value stays
  EXPECT_EQ(bar.pos, 100);
  EXPECT_TRUE(SetProgressValue(bar, -5));
  EXPECT_EQ(bar.pos, 0);
}

TEST(ProgressTest, BadRangeIsRefused) {
  ProgressRange bar{0, 100, 40};
  EXPECT_FALSE(SetProgressRange(bar, 5, 5));
  EXPECT_FALSE(SetProgressRange(bar, 10, 2));
  EXPECT_EQ(bar.max, 100);
  EXPECT_EQ(bar.pos, 40);
  EXPECT_TRUE(SetProgressRange(bar, 10, 20));
  EXPECT_EQ(bar.pos, 10);
}

}  // namespace

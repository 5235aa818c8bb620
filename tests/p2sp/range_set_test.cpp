#include "core/range_set.h"

#include <gtest/gtest.h>

namespace p2sp {
namespace {

constexpr uint64_t kGiB = 1ull << 30;

TEST(RangeSet, AddMergesTouchingAndOverlappingRanges) {
  RangeSet s;
  s.Add(10, 20);
  s.Add(30, 40);
  s.Add(20, 30);  // touches both: one range
  EXPECT_EQ(s.Ranges(), (std::vector<ByteRange>{{10, 40}}));
  s.Add(5, 12);
  s.Add(35, 50);
  EXPECT_EQ(s.Ranges(), (std::vector<ByteRange>{{5, 50}}));
  EXPECT_EQ(s.Covered(), 45u);
  s.Add(60, 70);
  s.Add(0, 100);  // swallows everything
  EXPECT_EQ(s.Ranges(), (std::vector<ByteRange>{{0, 100}}));
  EXPECT_EQ(s.Covered(), 100u);
}

TEST(RangeSet, EmptyAndInvertedRangesChangeNothing) {
  RangeSet s;
  s.Add(5, 5);
  s.Add(9, 3);
  EXPECT_EQ(s.Count(), 0u);
  EXPECT_EQ(s.Gaps(0), std::vector<ByteRange>{});
  EXPECT_EQ(s.Gaps(10), (std::vector<ByteRange>{{0, 10}}));
  EXPECT_TRUE(s.Contains(4, 4));
}

TEST(RangeSet, RemoveSplitsAndTrims) {
  RangeSet s;
  s.Add(0, 100);
  s.Remove(40, 60);
  EXPECT_EQ(s.Ranges(), (std::vector<ByteRange>{{0, 40}, {60, 100}}));
  s.Remove(30, 70);
  EXPECT_EQ(s.Ranges(), (std::vector<ByteRange>{{0, 30}, {70, 100}}));
  s.Remove(0, 200);
  EXPECT_EQ(s.Covered(), 0u);
  EXPECT_EQ(s.Count(), 0u);
}

TEST(RangeSet, GapsAndCoverageAboveFourGiB) {
  RangeSet s;
  s.Add(4 * kGiB - 1, 4 * kGiB + 1);
  s.Add(6 * kGiB, 7 * kGiB);
  EXPECT_EQ(s.Covered(), 2 + kGiB);
  EXPECT_EQ(s.Gaps(8 * kGiB),
            (std::vector<ByteRange>{{0, 4 * kGiB - 1}, {4 * kGiB + 1, 6 * kGiB}, {7 * kGiB, 8 * kGiB}}));
  EXPECT_EQ(s.CoveredIn(4 * kGiB, 6 * kGiB + 10), 11u);
  EXPECT_TRUE(s.Contains(6 * kGiB + 5, 7 * kGiB));
  EXPECT_FALSE(s.Contains(6 * kGiB - 1, 6 * kGiB + 1));
}

TEST(RangeSet, RangesReachingTheTopOfTheOffsetSpace) {
  RangeSet s;
  s.Add(UINT64_MAX - 10, UINT64_MAX);
  s.Add(UINT64_MAX - 20, UINT64_MAX - 10);
  EXPECT_EQ(s.Ranges(), (std::vector<ByteRange>{{UINT64_MAX - 20, UINT64_MAX}}));
  EXPECT_EQ(s.Covered(), 20u);
  EXPECT_EQ(s.Gaps(UINT64_MAX).size(), 1u);
}

TEST(RangeSet, RunEndFollowsTheRunHoldingTheOffset) {
  RangeSet s;
  EXPECT_EQ(s.RunEnd(7), 7u);
  s.Add(10, 20);
  s.Add(20, 25);  // merged: one run to 25
  s.Add(30, 40);
  EXPECT_EQ(s.RunEnd(10), 25u);
  EXPECT_EQ(s.RunEnd(24), 25u);
  EXPECT_EQ(s.RunEnd(25), 25u);  // the end itself is not covered
  EXPECT_EQ(s.RunEnd(9), 9u);
  EXPECT_EQ(s.RunEnd(35), 40u);
  s.Add(5 * kGiB, 6 * kGiB);
  EXPECT_EQ(s.RunEnd(5 * kGiB + 1), 6 * kGiB);
}

}  // namespace
}  // namespace p2sp

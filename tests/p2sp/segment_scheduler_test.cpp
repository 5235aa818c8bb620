#include "core/segment_scheduler.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace p2sp {
namespace {

constexpr uint64_t kMiB = 1u << 20;

TEST(SegmentScheduler, ZeroLengthFileIsCompleteAndGivesNoWork) {
  SegmentScheduler s(0);
  EXPECT_TRUE(s.Complete());
  ByteRange lease;
  EXPECT_FALSE(s.Assign(1, &lease));
}

TEST(SegmentScheduler, FirstConnectionTakesAllThenOthersSplitTheLargestRun) {
  SegmentScheduler s(64 * kMiB);
  ByteRange a, b, c;
  ASSERT_TRUE(s.Assign(1, &a));
  EXPECT_EQ(a, (ByteRange{0, 64 * kMiB}));
  ASSERT_TRUE(s.Assign(2, &b));
  EXPECT_EQ(b, (ByteRange{32 * kMiB, 64 * kMiB}));
  EXPECT_EQ(s.LeaseOf(1), (ByteRange{0, 32 * kMiB}));
  ASSERT_TRUE(s.Assign(3, &c));
  EXPECT_EQ(c.Length(), 16 * kMiB);
  EXPECT_EQ(c.begin % kMiB, 0u);  // split points on piece boundaries
}

TEST(SegmentScheduler, NoSplitBelowTheMinimum) {
  SegmentScheduler s(kMiB + kMiB / 2, kMiB);
  ByteRange a, b;
  ASSERT_TRUE(s.Assign(1, &a));
  EXPECT_FALSE(s.Assign(2, &b));
  // Once the first connection has written half, still nothing worth splitting.
  s.Written(1, 0, s.Accept(1, 0, kMiB));
  EXPECT_FALSE(s.Assign(2, &b));
}

TEST(SegmentScheduler, AcceptClipsToTheLeaseAfterASplit) {
  SegmentScheduler s(8 * kMiB);
  ByteRange a, b;
  s.Assign(1, &a);
  s.Assign(2, &b);  // takes [4, 8) MiB away from connection 1
  uint64_t pos = 4 * kMiB - 100;
  s.Written(1, 0, s.Accept(1, 0, pos));
  EXPECT_EQ(s.Accept(1, pos, 1000), 100u);  // the rest is connection 2's
  EXPECT_EQ(s.Accept(1, pos + 7, 10), 0u);  // not where the lease stands
  EXPECT_EQ(s.Accept(99, 0, 10), 0u);       // no lease at all
  s.Written(1, pos, 100);
  EXPECT_EQ(s.Accept(1, 4 * kMiB, 10), 0u);
}

TEST(SegmentScheduler, SplitsNeverCutIntoBytesAlreadyAskedFor) {
  SegmentScheduler s(64 * kMiB);
  ByteRange a, b, c;
  s.Assign(1, &a);
  s.Commit(1, 40 * kMiB);  // one long request in flight
  ASSERT_TRUE(s.Assign(2, &b));
  EXPECT_EQ(b, (ByteRange{52 * kMiB, 64 * kMiB}));  // the middle of what is not yet asked for
  EXPECT_EQ(s.LeaseOf(1).end, 52 * kMiB);
  s.Commit(1, 51 * kMiB);
  // 1 MiB unasked at the end of lease 1 is not worth a split; lease 2 is.
  ASSERT_TRUE(s.Assign(3, &c));
  EXPECT_EQ(c, (ByteRange{58 * kMiB, 64 * kMiB}));
}

TEST(SegmentScheduler, TheUnaskedRestOfALeaseGoesWholeWhenTooSmallToHalve) {
  SegmentScheduler s(4 * kMiB);
  ByteRange a, b;
  s.Assign(1, &a);
  s.Commit(1, 2 * kMiB + kMiB / 2);
  ASSERT_TRUE(s.Assign(2, &b));
  EXPECT_EQ(b, (ByteRange{2 * kMiB + kMiB / 2, 4 * kMiB}));
  EXPECT_EQ(s.LeaseOf(1), (ByteRange{0, 2 * kMiB + kMiB / 2}));
  // Everything asked for: nothing left to give.
  s.Commit(2, 4 * kMiB);
  s.Commit(1, 4 * kMiB);  // clipped to its own lease
  EXPECT_FALSE(s.Assign(3, &b));
}

TEST(SegmentScheduler, ReleasedWorkGoesToTheNextFreeConnection) {
  SegmentScheduler s(8 * kMiB);
  ByteRange a, b, c;
  s.Assign(1, &a);
  s.Assign(2, &b);
  s.Written(2, b.begin, s.Accept(2, b.begin, kMiB));
  s.Release(2);  // died after one MiB
  ASSERT_TRUE(s.Assign(3, &c));
  EXPECT_EQ(c, (ByteRange{5 * kMiB, 8 * kMiB}));
}

TEST(SegmentScheduler, TakeOverMovesTheUnwrittenRest) {
  SegmentScheduler s(kMiB);
  ByteRange a, b;
  s.Assign(1, &a);
  s.Written(1, 0, s.Accept(1, 0, 1000));
  ASSERT_TRUE(s.TakeOver(2, 1, &b));
  EXPECT_EQ(b, (ByteRange{1000, kMiB}));
  EXPECT_FALSE(s.HasLease(1));
  EXPECT_FALSE(s.TakeOver(3, 1, &b));
  EXPECT_FALSE(s.TakeOver(2, 2, &b));
}

TEST(SegmentScheduler, FilesAboveFourGiBSplitAndCompleteExactly) {
  const uint64_t size = (9ull << 30) + 12345;  // odd tail
  SegmentScheduler s(size);
  ByteRange a, b;
  ASSERT_TRUE(s.Assign(1, &a));
  ASSERT_TRUE(s.Assign(2, &b));
  EXPECT_GT(b.begin, 1ull << 32);
  EXPECT_EQ(b.end, size);
  s.Written(1, a.begin, s.Accept(1, a.begin, UINT64_MAX / 2));
  EXPECT_FALSE(s.Complete());
  uint64_t took = s.Accept(2, b.begin, UINT64_MAX / 2);  // far more than the file: clipped
  EXPECT_EQ(took, b.Length());
  s.Written(2, b.begin, took);
  EXPECT_TRUE(s.Complete());
  EXPECT_EQ(s.Done().Covered(), size);
}

TEST(SegmentScheduler, MarkDoneNeverReachesPastTheEnd) {
  SegmentScheduler s(100);
  s.MarkDone(50, UINT64_MAX);
  EXPECT_EQ(s.Done().Covered(), 50u);
  s.MarkMissing(0, UINT64_MAX);
  EXPECT_EQ(s.Done().Covered(), 0u);
}

TEST(SegmentScheduler, ThePreferredTailIsHandedOutFirstInWorthwhilePieces) {
  SegmentScheduler s(100 * kMiB);
  ByteRange a, lease;
  ASSERT_TRUE(s.Assign(1, &a));  // the first answer holds everything
  s.Commit(1, 2 * kMiB);
  s.PreferFrom(60 * kMiB);
  ASSERT_TRUE(s.Assign(2, &lease));
  EXPECT_EQ(lease, (ByteRange{60 * kMiB, 100 * kMiB}));  // cut where the tail begins
  EXPECT_EQ(s.LeaseOf(1), (ByteRange{0, 60 * kMiB}));
  // Further connections halve the tail's leases while the halves stay worth a request.
  int id = 3;
  for (; id < 20; ++id) {
    ASSERT_TRUE(s.Assign(id, &lease));
    if (lease.end <= 60 * kMiB) break;
    EXPECT_GE(lease.Length(), 4 * kMiB);
  }
  EXPECT_GT(id, 5);   // the 40 MiB went to several connections
  EXPECT_LT(id, 20);  // but not in ever smaller pieces: then the rest of the file
  EXPECT_EQ(lease.end, 60 * kMiB);
  // Forgotten bytes in the tail go out before anything else.
  for (int i = 1; i <= id; ++i) s.Release(i);
  s.MarkDone(0, 100 * kMiB);
  s.MarkMissing(10 * kMiB, 30 * kMiB);
  s.MarkMissing(90 * kMiB, 91 * kMiB);
  ASSERT_TRUE(s.Assign(1, &lease));
  EXPECT_EQ(lease, (ByteRange{90 * kMiB, 91 * kMiB}));
  ASSERT_TRUE(s.Assign(2, &lease));
  EXPECT_EQ(lease, (ByteRange{10 * kMiB, 30 * kMiB}));
}

TEST(SegmentScheduler, ALeaseFromABoundNeverReachesBeforeIt) {
  // A source trusted only from 40 MiB on: free runs are clipped, leases that
  // reach past the bound give up their part there, and nothing is left below it.
  SegmentScheduler s(64 * kMiB);
  ByteRange a, b, c, d;
  ASSERT_TRUE(s.Assign(1, &a));                 // [0, 64)
  ASSERT_TRUE(s.Assign(2, &b, 40 * kMiB));      // cut from 1 at the bound
  EXPECT_EQ(b, (ByteRange{40 * kMiB, 64 * kMiB}));
  EXPECT_EQ(s.LeaseOf(1), (ByteRange{0, 40 * kMiB}));
  ASSERT_TRUE(s.Assign(3, &c, 40 * kMiB));      // halves 2, still inside
  EXPECT_GE(c.begin, 40 * kMiB);
  s.Written(3, c.begin, s.Accept(3, c.begin, c.Length()));
  s.Written(2, b.begin, s.Accept(2, b.begin, s.LeaseOf(2).Length()));
  s.Release(2);
  s.Release(3);
  EXPECT_FALSE(s.Assign(4, &d, 40 * kMiB));     // only bytes below the bound are left
  EXPECT_FALSE(s.Assign(4, &d, 64 * kMiB));     // a bound at the end: nothing at all
  EXPECT_TRUE(s.Assign(4, &d));
  EXPECT_LT(d.end, 40 * kMiB + 1);
}

TEST(SegmentScheduler, ForgettingDoneBytesIsCounted) {
  SegmentScheduler s(10 * kMiB);
  uint64_t n = s.Forgotten();
  s.MarkDone(0, kMiB);
  s.MarkMissing(5 * kMiB, 6 * kMiB);  // nothing was done there
  EXPECT_EQ(s.Forgotten(), n);
  s.MarkMissing(0, 10);
  EXPECT_GT(s.Forgotten(), n);
  n = s.Forgotten();
  s.Reset(10 * kMiB);
  EXPECT_GT(s.Forgotten(), n);
}

// Many connections writing random amounts and dying at random: every byte is
// written exactly once and the file completes, with or without a preferred tail.
TEST(SegmentScheduler, RandomWorkloadCoversEveryByteOnce) {
  for (uint64_t prefer : {UINT64_MAX, 20 * kMiB + 17}) {
    std::mt19937_64 rng(7);
    const uint64_t size = 37 * kMiB + 333;
    SegmentScheduler s(size);
    SCOPED_TRACE(prefer);
    s.PreferFrom(prefer);
    std::vector<int> written(size / 4096 + 1, 0);
    uint64_t total = 0;
    int nextId = 1;
    std::vector<int> live;
    for (int round = 0; round < 100000 && !s.Complete(); ++round) {
      while (live.size() < 6) {
        ByteRange lease;
        int id = nextId++;
        if (!s.Assign(id, &lease)) break;
        live.push_back(id);
      }
      if (live.empty()) break;
      size_t k = rng() % live.size();
      int id = live[k];
      ByteRange l = s.LeaseOf(id);
      uint64_t take = s.Accept(id, l.begin, 1 + rng() % (3 * kMiB));
      s.Written(id, l.begin, take);
      total += take;
      if (take == 0 || rng() % 10 == 0 || !s.HasLease(id) || s.LeaseOf(id).Length() == 0) {
        s.Release(id);
        live.erase(live.begin() + k);
      }
    }
    EXPECT_TRUE(s.Complete());
    EXPECT_EQ(total, size);  // nothing fetched twice
  }
}

}  // namespace

// Pieces wanted in the caller's order: free bytes of any of them first, then
// the unasked part of another lease inside one; done or asked-for bytes never.
TEST(SegmentScheduler, AssignAmongTakesFreeBytesFirstThenUnaskedPartsOfLeases) {
  SegmentScheduler s(16 * kMiB);
  const std::vector<ByteRange> pieces = {{12 * kMiB, 16 * kMiB}, {4 * kMiB, 8 * kMiB}, {0, 4 * kMiB}};
  ByteRange whole, lease;
  ASSERT_TRUE(s.Assign(1, &whole));  // one connection leases everything
  s.Commit(1, 1 * kMiB);             // and has asked for its first MiB
  s.MarkDone(12 * kMiB, 16 * kMiB);  // the first wanted piece is in already

  ASSERT_TRUE(s.AssignAmong(2, pieces, &lease));
  EXPECT_EQ(lease, (ByteRange{4 * kMiB, 8 * kMiB})) << "cut out of lease 1, in the order given";
  EXPECT_EQ(s.LeaseOf(1), (ByteRange{0, 4 * kMiB}));
  // [8, 12) MiB lay behind the cut: free now, and preferred to another cut.
  ASSERT_TRUE(s.AssignAmong(3, {{0, 4 * kMiB}, {8 * kMiB, 12 * kMiB}}, &lease));
  EXPECT_EQ(lease, (ByteRange{8 * kMiB, 12 * kMiB}));
  // Only the unasked part of piece 0 can go; bytes asked for stay with 1.
  ASSERT_TRUE(s.AssignAmong(4, {{0, 4 * kMiB}}, &lease));
  EXPECT_EQ(lease, (ByteRange{1 * kMiB, 4 * kMiB}));
  EXPECT_EQ(s.LeaseOf(1), (ByteRange{0, 1 * kMiB}));
  EXPECT_FALSE(s.AssignAmong(5, {{0, 4 * kMiB}, {12 * kMiB, 16 * kMiB}}, &lease))
      << "a lease its owner has not asked from yet stays whole";
  EXPECT_FALSE(s.HasLease(5));
  s.Commit(4, 2 * kMiB);
  s.Written(4, kMiB, s.Accept(4, kMiB, kMiB / 2));
  ASSERT_TRUE(s.AssignAmong(6, {{0, 4 * kMiB}}, &lease, kMiB / 4));
  EXPECT_EQ(lease, (ByteRange{2 * kMiB, 2 * kMiB + kMiB / 4})) << "at most `most` bytes";
}

TEST(SegmentScheduler, TrimmedLeasesEndWhereTheirRequestsEnd) {
  SegmentScheduler s(8 * kMiB);
  ByteRange a, b;
  ASSERT_TRUE(s.Assign(1, &a));
  ASSERT_TRUE(s.Assign(2, &b));
  s.Commit(1, 1 * kMiB);
  s.Written(2, b.begin, s.Accept(2, b.begin, kMiB));
  s.TrimLeases();
  EXPECT_EQ(s.LeaseOf(1), (ByteRange{0, 1 * kMiB}));
  EXPECT_EQ(s.LeaseOf(2).Length(), 0u) << "nothing asked beyond what arrived";
  ByteRange c;
  ASSERT_TRUE(s.Assign(3, &c));
  EXPECT_GE(c.begin, 1 * kMiB);
}

}  // namespace p2sp

#include "core/pacer.h"

#include <gtest/gtest.h>

#include <vector>

namespace p2sp {
namespace {

using Clock = Pacer::Clock;
using std::chrono::milliseconds;
constexpr uint64_t kMiB = 1u << 20;

TEST(Pacer, AllowanceGrowsByFourWhileTheThroughputRisesByMoreThanATenth) {
  struct Step {
    int at;       // ms since the start
    uint64_t mb;  // MiB taken so far
    bool mayGrow;
    int perSource;
  };
  const std::vector<Step> steps = {
      {100, 1, true, 8},    // not half a second yet
      {500, 10, true, 12},  // the first step is always taken
      {1000, 20, true, 12},  // 20 MiB/s again: not 10 % more
      {1500, 32, true, 16},  // 24 MiB/s
      {2000, 60, true, 16},  // at the most
  };
  const Clock::time_point t0 = Clock::now();
  Pacer p(8, 16);
  p.Start(t0, 0);
  for (const Step& s : steps) {
    p.Grow(t0 + milliseconds(s.at), s.mb * kMiB, s.mayGrow);
    EXPECT_EQ(p.PerSource(), s.perSource) << "at " << s.at << " ms";
  }
  Pacer held(4, 16);
  held.Start(t0, 0);
  EXPECT_FALSE(held.Grow(t0 + milliseconds(500), 10 * kMiB, false));  // one stream, or nothing left
  EXPECT_EQ(held.PerSource(), 4);
  EXPECT_EQ(Pacer(20, 16).PerSource(), 16);
  EXPECT_EQ(Pacer(0, 16).PerSource(), 1);
}

TEST(Pacer, RequestSizes) {
  Pacer p(8, 16);
  struct Case {
    uint64_t chunk, missing, conns, ask;
  };
  const std::vector<Case> cases = {
      {4 * kMiB, 1000 * kMiB, 4, 4 * kMiB},  // its own second of speed
      {32 * kMiB, 64 * kMiB, 2, 4 * kMiB},   // no more than its share: 64 / (2 * max(2, 8))
      {32 * kMiB, 64 * kMiB, 16, 2 * kMiB},
      {4 * kMiB, kMiB, 16, kMiB},            // never under 1 MiB
  };
  for (const Case& c : cases) EXPECT_EQ(p.Ask(c.chunk, c.missing, c.conns), c.ask) << c.chunk << " " << c.missing;
  EXPECT_EQ(Pacer::NextChunk(3 * kMiB, 1.0), 3 * kMiB);
  EXPECT_EQ(Pacer::NextChunk(100 * kMiB, 1.0), 32 * kMiB);
  EXPECT_EQ(Pacer::NextChunk(1000, 1.0), kMiB);
  EXPECT_EQ(Pacer::NextChunk(kMiB, 0.0), 32 * kMiB);  // no time measured: as fast as can be
}

TEST(Pacer, TakeOverAndRecordRules) {
  const Clock::time_point t0 = Clock::now();
  EXPECT_TRUE(Pacer::MayTakeOver(true, t0, t0 + milliseconds(3001)));
  EXPECT_FALSE(Pacer::MayTakeOver(true, t0, t0 + milliseconds(3000)));
  EXPECT_FALSE(Pacer::MayTakeOver(false, t0, t0 + milliseconds(60000)));  // left to the stall timeout

  Pacer p(8, 16);
  p.Start(t0, 0);
  const Clock::time_point now = t0 + milliseconds(1000);  // 40 MiB in this run: 40 MiB/s
  EXPECT_FALSE(p.RecordDue(now, now - milliseconds(200), 40 * kMiB, 100 * kMiB));  // too soon
  EXPECT_TRUE(p.RecordDue(now, now - milliseconds(250), 40 * kMiB, 100 * kMiB));
  EXPECT_FALSE(p.RecordDue(now, now - milliseconds(250), 40 * kMiB, 9 * kMiB));  // the rest comes in 0.25 s
  EXPECT_TRUE(p.RecordDue(now, now - milliseconds(250), 40 * kMiB, 11 * kMiB));
}

// A trickling peer is cut however the task runs; a peer that carries a fair
// share, or enough on its own, is kept. A lease moves only to a source far
// faster than its owner, and only when the owner would need long for it.
TEST(Pacer, SlowPeersAndLeaseTakeOver) {
  struct Slow {
    double rate, taskRate;
    size_t conns;
    bool slow;
  };
  const std::vector<Slow> slow = {
      {2, 4.0 * kMiB, 10, true},   {2, 100e3, 4, true},  // 2 bytes a second
      {20e3, 4.0 * kMiB, 10, true},                        // far below a share of 400 KiB/s
      {64 * 1024, 400.0 * kMiB, 4, false},                 // enough on its own
      {40e3, 4.0 * kMiB, 10, false},                       // a tenth of a share
      {0, 0, 3, false},                                    // nothing moves at all: nothing to compare with
  };
  for (const Slow& c : slow)
    EXPECT_EQ(Pacer::SlowPeer(c.rate, c.taskRate, c.conns), c.slow) << c.rate << " of " << c.taskRate;
  struct Take {
    uint64_t left;
    double victim, thief;
    bool take;
  };
  const std::vector<Take> take = {
      {kMiB, 2, 1e6, true},         // a trickle
      {kMiB, 0, 1e6, true},         // nothing at all
      {kMiB, 0, 0, false},          // the thief's speed is unknown
      {kMiB, 200e3, 1e6, true},     // 5 s to go, a fifth of the speed
      {kMiB, 300e3, 1e6, false},    // only 3.3 times faster
      {512 * 1024, 100e3, 1e6, true}, {256 * 1024, 100e3, 1e6, false},  // 2.6 s to go
  };
  for (const Take& c : take)
    EXPECT_EQ(Pacer::MayTakeLease(c.left, c.victim, c.thief), c.take) << c.left << " at " << c.victim;
}

}  // namespace
}  // namespace p2sp

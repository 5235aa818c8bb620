#include "core/speed_cap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace p2sp {
namespace {

// Greedy connections, each offering `chunk` bytes every millisecond the cap
// lets it, for `ms` milliseconds: the bytes taken in each second.
std::vector<uint64_t> Greedy(SpeedCap& cap, int connections, uint64_t chunk, uint64_t ms, uint64_t start) {
  std::vector<uint64_t> perSecond(ms / 1000 + 1, 0);
  for (uint64_t t = start; t < start + ms; ++t)
    for (int c = 0; c < connections; ++c)
      if (cap.Admit(chunk, t)) perSecond[(t - start) / 1000] += chunk;
  perSecond.pop_back();
  return perSecond;
}

TEST(SpeedCap, HoldsTheAverageWithoutBursts) {
  struct Case {
    uint64_t rate;
    int connections;
    uint64_t chunk;
  };
  const Case cases[] = {{256 * 1024, 1, 16 * 1024},        {256 * 1024, 16, 16 * 1024},
                        {1000 * 1000, 8, 50 * 1000},       {5 * 1024 * 1024, 16, 256 * 1024},
                        {20 * 1024 * 1024, 16, 512 * 1024}, {300 * 1000, 3, 7919}};
  for (const Case& k : cases) {
    SpeedCap cap;
    cap.SetRate(k.rate, 1000);
    const std::vector<uint64_t> seconds = Greedy(cap, k.connections, k.chunk, 30000, 1000);
    uint64_t total = 0;
    for (uint64_t s : seconds) total += s;
    const double average = total / 30.0;
    EXPECT_NEAR(average, static_cast<double>(k.rate), k.rate * 0.01)
        << "rate " << k.rate << ", " << k.connections << " connections";
    EXPECT_LE(*std::max_element(seconds.begin(), seconds.end()), k.rate * 1.5)
        << "rate " << k.rate << ", " << k.connections << " connections: a second above 1.5 times the cap";
  }
}

TEST(SpeedCap, ChangesApplyAtOnceAndQuietIsNotSavedUp) {
  SpeedCap cap;
  EXPECT_TRUE(cap.Admit(1u << 30, 0)) << "no cap";
  EXPECT_EQ(cap.WaitMs(0), 0u);
  cap.SetRate(100 * 1000, 0);
  EXPECT_FALSE(cap.Admit(1, 0)) << "a new rate starts empty";
  EXPECT_EQ(cap.WaitMs(0), 1u) << "100 bytes a millisecond";
  EXPECT_TRUE(cap.Admit(50 * 1000, 1));
  EXPECT_FALSE(cap.Admit(1, 2)) << "the debt of a big buffer is paid first";
  EXPECT_EQ(cap.WaitMs(2), 499u);
  // An hour without asking holds at most the burst.
  const std::vector<uint64_t> after = Greedy(cap, 4, 1000, 2000, 3600 * 1000);
  EXPECT_LE(after[0], 100u * 1000 + std::max<uint64_t>(100 * 1000 / 20, SpeedCap::kMinBurst) + 1000);
  cap.SetRate(0, 4000 * 1000);
  EXPECT_TRUE(cap.Admit(1u << 30, 4000 * 1000)) << "the cap lifted";
  cap.SetRate(1000, 5000 * 1000);
  EXPECT_EQ(Greedy(cap, 1, 100, 10000, 5000 * 1000 + 1)[9], 1000u) << "a rate below one buffer";
  EXPECT_FALSE(cap.Admit(1, 4000)) << "a clock that goes back adds nothing";
}

}  // namespace
}  // namespace p2sp

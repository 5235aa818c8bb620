#include "core/token_bucket.h"

#include <gtest/gtest.h>

#include <vector>

namespace p2sp {
namespace {

// The shapes the two caps use, and what only their mix shows: a debt left by
// Admit, paid back over a quiet that counts for at most its limit.
TEST(TokenBucket, TheShapeSetsTheStepTheStartAndTheLongestQuiet) {
  enum Op { kAdmit, kTake, kWait };
  struct Step {
    Op op;
    uint64_t now, amount, expect;  // expect for kAdmit: 1 granted, 0 not
  };
  struct Case {
    const char* name;
    uint64_t rate, burst;
    TokenBucket::Shape shape;
    std::vector<Step> steps;
  } cases[] = {
      {"starts empty, then counts every millisecond",
       1000,
       100,
       {1, 2000, false},
       {{kAdmit, 0, 1, 0}, {kWait, 0, 0, 1}, {kTake, 3, 10, 3}, {kAdmit, 4, 500, 1}, {kWait, 4, 0, 500}}},
      {"a debt outlives a quiet longer than the limit",
       1000,
       16384,
       {1, 2000, false},
       {{kAdmit, 0, 1, 0},
        {kAdmit, 1, 16384, 1},
        {kAdmit, 3600000, 1, 0},
        {kTake, 3600000, 1, 0},
        {kWait, 3600000, 0, 14384}}},
      {"a longer limit pays the debt and fills the bucket",
       1000,
       16384,
       {1, 60000, false},
       {{kAdmit, 0, 1, 0}, {kAdmit, 1, 16384, 1}, {kTake, 3600000, 1 << 20, 16384}}},
      {"the wait of a debt runs in whole steps",
       1000,
       100,
       {10, 0, true},
       {{kAdmit, 0, 125, 1}, {kAdmit, 15, 1, 0}, {kWait, 15, 0, 15}, {kAdmit, 29, 1, 0}, {kAdmit, 30, 1, 1}}},
  };
  for (const Case& c : cases) {
    TokenBucket bucket(c.rate, c.burst, c.steps.front().now, c.shape);
    for (size_t i = 0; i < c.steps.size(); ++i) {
      const Step& s = c.steps[i];
      uint64_t got = 0;
      if (s.op == kAdmit) got = bucket.Admit(s.amount, s.now) ? 1 : 0;
      if (s.op == kTake) got = bucket.Take(s.amount, s.now);
      if (s.op == kWait) got = bucket.WaitMs(s.now);
      EXPECT_EQ(got, s.expect) << c.name << ", step " << i;
    }
  }
}

}  // namespace
}  // namespace p2sp

#include "core/source_health.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace p2sp {
namespace {

using Clock = SourceHealth::Clock;
using std::chrono::milliseconds;

// One event at `at` ms: bytes gained, or the failure of a request sent at `asked` ms.
struct Event {
  char kind;  // 'g' gained, 'f' failed
  int at;
  int asked;
};

struct Case {
  const char* name;
  int retries;
  std::vector<Event> events;
  int givenUpAt;  // index of the event that gives the source up, -1: never
  int strikes;    // strikes after the last event (while alive)
};

// `n` failures of requests all sent at `asked`, landing 1 ms apart from `at`.
std::vector<Event> Burst(int n, int asked, int at) {
  std::vector<Event> out;
  for (int i = 0; i < n; ++i) out.push_back({'f', at + i, asked});
  return out;
}

std::vector<Event> Join(std::vector<std::vector<Event>> parts) {
  std::vector<Event> out;
  for (auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

TEST(SourceHealth, FailuresCountByRoundAgainstBytesGained) {
  const std::vector<Case> cases = {
      // Every other answer refused: the refusals of requests sent together land
      // together, and bytes arrive between the bursts.
      {"half-lying server, bursts of refusals between gains", 3,
       Join({{{'f', 10, 0}, {'g', 300, 0}},
             Burst(4, 400, 410),
             {{'g', 500, 0}},
             Burst(4, 600, 610),
             Burst(3, 605, 620),
             {{'g', 900, 0}},
             Burst(8, 1000, 1010)}),
       -1, 1},
      // Nothing gained at all: each round of retries is one strike, and the
      // source goes after `retries` + 1 of them.
      {"dead server, eight connections a round", 3,
       Join({Burst(8, 0, 10), Burst(8, 300, 310), Burst(8, 900, 910), Burst(8, 2000, 2010)}), 24, 0},
      {"dead server, one connection", 2, {{'f', 5, 0}, {'f', 300, 260}, {'f', 800, 760}}, 2, 0},
      // A request sent after the last strike counts even while others of the
      // old round are still failing.
      {"new request fails among an old round", 2, Join({Burst(2, 0, 10), {{'f', 40, 20}}, Burst(2, 0, 50)}), -1, 2},
      {"a gain clears the strikes", 2,
       {{'f', 10, 0}, {'f', 300, 270}, {'g', 400, 0}, {'f', 450, 420}, {'f', 800, 780}}, -1, 2},
  };
  const Clock::time_point t0 = Clock::now();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SourceHealth h(c.retries);
    int givenUp = -1;
    for (size_t i = 0; i < c.events.size() && givenUp < 0; ++i) {
      const Event& e = c.events[i];
      if (e.kind == 'g') {
        h.Gained(t0 + milliseconds(e.at));
      } else if (!h.Failed(t0 + milliseconds(e.asked), t0 + milliseconds(e.at))) {
        givenUp = static_cast<int>(i);
      }
    }
    EXPECT_EQ(givenUp, c.givenUpAt);
    if (givenUp < 0) {
      EXPECT_EQ(h.Strikes(), c.strikes);
    }
  }
}

TEST(SourceHealth, BackOffDoublesToFourSecondsAndHoldsForALateFailureOfTheSameRound) {
  const Clock::time_point t0 = Clock::now();
  SourceHealth h(6);
  std::vector<int> waits;
  Clock::time_point now = t0;
  for (int i = 0; i < 6; ++i) {
    now += milliseconds(10);
    ASSERT_TRUE(h.Failed(now - milliseconds(5), now));
    waits.push_back(static_cast<int>(std::chrono::duration_cast<milliseconds>(h.NextTry() - now).count()));
    now = h.NextTry();
  }
  EXPECT_EQ(waits, (std::vector<int>{250, 500, 1000, 2000, 4000, 4000}));
  // A request of the round before fails late: no strike, but no try before the current back-off.
  now += milliseconds(100);
  ASSERT_TRUE(h.Failed(now - milliseconds(5000), now));
  EXPECT_EQ(h.Strikes(), 6);
  EXPECT_EQ(h.NextTry() - now, milliseconds(4000));
}

}  // namespace
}  // namespace p2sp

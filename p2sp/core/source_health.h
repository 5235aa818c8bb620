#pragma once

#include <chrono>

namespace p2sp {

// How one source has been doing: its failures weighed against the bytes it
// gained, the back-off before it is tried again, and whether to give it up.
// Pure bookkeeping on times it is given; no clock of its own.
//
// Failures count by round, not by answer: a request sent before the last
// counted failure belongs to the round that failure ended, so when several
// connections' answers fail together (every other answer of a half-lying
// server, or every socket of a server that went away) they are one strike.
// Any byte gained clears the strikes. The source is given up when more than
// `retries` rounds failed over a window in which it gained nothing.
class SourceHealth {
 public:
  using Clock = std::chrono::steady_clock;

  explicit SourceHealth(int retries = 6) : m_retries(retries) {}

  // Bytes from the source reached the file.
  void Gained(Clock::time_point now);
  // A request sent at `asked` failed at `now`. False: the source is given up.
  bool Failed(Clock::time_point asked, Clock::time_point now);

  Clock::time_point NextTry() const { return m_nextTry; }
  int Strikes() const { return m_strikes; }

 private:
  int m_retries;
  int m_strikes = 0;
  bool m_struck = false;  // m_lastStrike is set
  Clock::time_point m_lastStrike{};
  Clock::time_point m_nextTry{};
};

}  // namespace p2sp

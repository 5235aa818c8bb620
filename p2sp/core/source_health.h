#pragma once

#include <chrono>

namespace p2sp {

// How one source has been doing: its failures weighed against the bytes it
// gained, the back-off before it is tried again, and whether to give it up.
// Pure bookkeeping on times it is given; no clock of its own.
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
  Clock::time_point m_nextTry{};
};

}  // namespace p2sp

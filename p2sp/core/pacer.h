#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace p2sp {

// The pace of one run, on times and byte counts it is given (no clock of its
// own): how many connections each source may have, how much each request asks
// for, when a quiet connection's lease may be taken over, and whether a
// progress record is worth writing now.
class Pacer {
 public:
  using Clock = std::chrono::steady_clock;

  static constexpr uint64_t kFirstChunk = 2u << 20;
  static constexpr uint64_t kMinChunk = 1u << 20;
  static constexpr uint64_t kMaxChunk = 32u << 20;
  static constexpr std::chrono::milliseconds kGrowInterval{500};
  static constexpr std::chrono::milliseconds kRecordInterval{250};
  static constexpr std::chrono::seconds kTakeOverIdle{3};
  // Connections are judged by what they wrote over windows of this length.
  static constexpr std::chrono::seconds kJudgeWindow{2};
  // A peer's connection is dropped below the task's speed divided by this
  // and by the number of connections, over a whole window...
  static constexpr double kSlowPeerShare = 16;
  // ...but a connection this fast is always worth keeping.
  static constexpr double kSlowPeerCeiling = 64 * 1024;
  // A free connection takes over a lease that its owner would need longer
  // than this for, when it expects to be this many times faster.
  static constexpr double kLeaseTakeOverSeconds = 4;
  static constexpr double kFasterBy = 4;

  Pacer(int initialConnections, int maxConnections);

  // The transfer starts with `bytes` already taken in this run.
  void Start(Clock::time_point now, uint64_t bytes);
  // Every turn of the loop, with all bytes taken so far. While the throughput
  // rose by more than 10 % over the last interval (the first step always
  // does), each source may have 4 more connections, up to the most. True when
  // the allowance grew; `mayGrow` false holds it (one stream, nothing left).
  bool Grow(Clock::time_point now, uint64_t bytes, bool mayGrow);
  int PerSource() const { return m_perSource; }
  double GrowRate() const { return m_growRate; }

  // About a second of the connection's own speed (`chunk`), but never more than
  // its share of what is missing: bytes asked for cannot be split off.
  uint64_t Ask(uint64_t chunk, uint64_t missing, uint64_t connections) const;
  // The next request size after `bytes` arrived in `seconds`.
  static uint64_t NextChunk(uint64_t bytes, double seconds);

  // Whether a connection's lease may go to a free one: it stopped in the
  // middle of an answer and wrote nothing for kTakeOverIdle. One still waiting
  // for its first byte is left to the stall timeout.
  static bool MayTakeOver(bool midAnswer, Clock::time_point lastProgress, Clock::time_point now);

  // Whether a peer's connection that wrote at `rate` bytes per second over a
  // whole judging window, while the task took `taskRate` over `connections`,
  // is far slower than the rest: the peer is then dropped for the task, so
  // that a player trickling bytes cannot hold our leases.
  static bool SlowPeer(double rate, double taskRate, size_t connections);
  // Whether a free connection expecting `thiefRate` bytes per second takes
  // over a lease with `left` bytes to go from one writing at `victimRate`
  // (end-game stealing: the last ranges go to the fastest sources).
  static bool MayTakeLease(uint64_t left, double victimRate, double thiefRate);

  // A record is due every kRecordInterval while bytes arrive, except when the
  // rest should arrive within another interval at the speed of this run:
  // then the flush before the rename comes first anyway.
  bool RecordDue(Clock::time_point now, Clock::time_point lastRecord, uint64_t bytes, uint64_t left) const;

 private:
  const int m_maxConnections;
  int m_perSource;
  Clock::time_point m_start{}, m_lastGrow{};
  uint64_t m_startBytes = 0, m_growBytes = 0;
  double m_growRate = 0;
};

}  // namespace p2sp

#pragma once

#include <cstdint>
#include <mutex>

#include "token_bucket.h"

namespace p2sp {

// The player's cap on download speed, over every connection of every task of
// the process: a bucket refilled by the millisecond. A connection that finds
// it empty waits (its transfer is paused) until it refills; one that finds
// anything in it takes its whole buffer, which may leave the bucket owing a
// little (TokenBucket::Admit). Thread-safe: every task's thread asks the one
// cap of the engine.
class SpeedCap {
 public:
  // What the bucket may hold: a twentieth of a second of the rate, and at
  // least one buffer of a transfer, so that a connection is never starved
  // by a rate lower than its buffer.
  static constexpr uint64_t kMinBurst = 16 * 1024;

  // The steady clock in milliseconds, as the engine's callers read it.
  static uint64_t NowMs();

  // 0: no cap. Applies at once; what was saved under another rate is dropped.
  void SetRate(uint64_t bytesPerSecond, uint64_t nowMs);
  uint64_t Rate() const;
  // True when `bytes` may be taken now (they are counted); false: wait.
  bool Admit(uint64_t bytes, uint64_t nowMs);
  // Milliseconds until Admit may say yes; 0 when it may now (or no cap).
  uint64_t WaitMs(uint64_t nowMs);

 private:
  mutable std::mutex m_mutex;
  TokenBucket m_bucket{0, kMinBurst, 0};
};

}  // namespace p2sp

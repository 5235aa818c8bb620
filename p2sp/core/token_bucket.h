#pragma once

#include <cstdint>

namespace p2sp {

// A bucket of bytes: `rate` a second, added from the clock readings it is
// given in whole steps, holding at most `burst`. Bytes leave it either in
// part (Take: never more than it holds) or a buffer at a time (Admit: all of
// it while it holds anything, which may leave it owing; the debt is paid
// before anyone takes more, so the average holds). Pure arithmetic: callers
// on several threads keep their own lock.
class TokenBucket {
 public:
  static constexpr uint64_t kStepMs = 10;

  struct Shape {
    uint64_t stepMs = kStepMs;
    // A longer quiet counts as this long. 0: as long as it takes to fill the
    // bucket from empty, which only guards the arithmetic.
    uint64_t maxQuietMs = 0;
    bool startFull = true;
  };

  // rate 0 means no cap.
  TokenBucket(uint64_t rate, uint64_t burst, uint64_t nowMs);
  TokenBucket(uint64_t rate, uint64_t burst, uint64_t nowMs, const Shape& shape);

  uint64_t Rate() const { return m_rate; }
  // Up to `want` bytes allowed now (0 while none are).
  uint64_t Take(uint64_t want, uint64_t nowMs);
  // True when `bytes` may be taken now (they are counted); false: wait.
  bool Admit(uint64_t bytes, uint64_t nowMs);
  // Milliseconds until a step brings a byte again; 0 when there is one now.
  uint64_t WaitMs(uint64_t nowMs);

 private:
  void Refill(uint64_t nowMs);

  uint64_t m_rate;
  uint64_t m_burst;
  uint64_t m_stepMs;
  uint64_t m_maxQuietMs;
  int64_t m_tokens;      // below 0: owed
  uint64_t m_last;       // clock reading of the last whole step
  uint64_t m_carry = 0;  // rate × ms not yet whole bytes, in thousandths
};

}  // namespace p2sp

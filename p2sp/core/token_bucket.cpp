#include "token_bucket.h"

#include <algorithm>

namespace p2sp {

TokenBucket::TokenBucket(uint64_t rate, uint64_t burst, uint64_t nowMs) : TokenBucket(rate, burst, nowMs, Shape()) {}

TokenBucket::TokenBucket(uint64_t rate, uint64_t burst, uint64_t nowMs, const Shape& shape)
    : m_rate(rate),
      m_burst(burst),
      m_stepMs(std::max<uint64_t>(shape.stepMs, 1)),
      m_maxQuietMs(shape.maxQuietMs),
      m_tokens(shape.startFull ? static_cast<int64_t>(burst) : 0),
      m_last(nowMs) {
  if (m_maxQuietMs == 0 && rate != 0) m_maxQuietMs = 1000 * (burst / rate + 1);
}

void TokenBucket::Refill(uint64_t nowMs) {
  if (nowMs <= m_last) return;  // a clock that goes back adds nothing
  const uint64_t steps = (nowMs - m_last) / m_stepMs;
  if (steps == 0) return;
  m_last += steps * m_stepMs;
  if (m_tokens >= static_cast<int64_t>(m_burst)) return;
  // A long quiet only fills the bucket; the rest is not saved up.
  m_carry += m_rate * std::min(steps * m_stepMs, m_maxQuietMs);
  m_tokens += static_cast<int64_t>(m_carry / 1000);
  m_carry %= 1000;
  if (m_tokens >= static_cast<int64_t>(m_burst)) {
    m_tokens = static_cast<int64_t>(m_burst);
    m_carry = 0;
  }
}

uint64_t TokenBucket::Take(uint64_t want, uint64_t nowMs) {
  if (m_rate == 0) return want;
  Refill(nowMs);
  if (m_tokens <= 0) return 0;
  const uint64_t got = std::min(want, static_cast<uint64_t>(m_tokens));
  m_tokens -= static_cast<int64_t>(got);
  return got;
}

bool TokenBucket::Admit(uint64_t bytes, uint64_t nowMs) {
  if (m_rate == 0) return true;
  Refill(nowMs);
  if (m_tokens <= 0) return false;
  m_tokens -= static_cast<int64_t>(bytes);
  return true;
}

uint64_t TokenBucket::WaitMs(uint64_t nowMs) {
  if (m_rate == 0) return 0;
  Refill(nowMs);
  if (m_tokens > 0) return 0;
  // Thousandths of a byte until the bucket holds one byte again, in whole
  // steps from the last one counted.
  const uint64_t need = (static_cast<uint64_t>(-m_tokens) + 1) * 1000 - m_carry;
  const uint64_t steps = ((need + m_rate - 1) / m_rate + m_stepMs - 1) / m_stepMs;
  const uint64_t since = nowMs > m_last ? nowMs - m_last : 0;
  return steps * m_stepMs - since;
}

}  // namespace p2sp

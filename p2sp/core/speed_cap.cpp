#include "speed_cap.h"

#include <algorithm>
#include <chrono>

namespace p2sp {

uint64_t SpeedCap::NowMs() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

void SpeedCap::SetRate(uint64_t bytesPerSecond, uint64_t nowMs) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_rate = bytesPerSecond;
  m_burst = std::max<uint64_t>(bytesPerSecond / 20, kMinBurst);
  m_tokens = 0;
  m_carry = 0;
  m_last = nowMs;
}

uint64_t SpeedCap::Rate() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_rate;
}

void SpeedCap::RefillLocked(uint64_t nowMs) {
  if (nowMs <= m_last) return;  // a clock that goes back adds nothing
  uint64_t ms = nowMs - m_last;
  m_last = nowMs;
  // A long quiet only fills the bucket; the rest is not saved up.
  ms = std::min<uint64_t>(ms, 2000);
  m_carry += m_rate * ms;
  m_tokens += static_cast<int64_t>(m_carry / 1000);
  m_carry %= 1000;
  if (m_tokens >= static_cast<int64_t>(m_burst)) {
    m_tokens = static_cast<int64_t>(m_burst);
    m_carry = 0;
  }
}

bool SpeedCap::Admit(uint64_t bytes, uint64_t nowMs) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_rate == 0) return true;
  RefillLocked(nowMs);
  if (m_tokens <= 0) return false;
  m_tokens -= static_cast<int64_t>(bytes);
  return true;
}

uint64_t SpeedCap::WaitMs(uint64_t nowMs) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_rate == 0) return 0;
  RefillLocked(nowMs);
  if (m_tokens > 0) return 0;
  // Thousandths of a byte until the bucket holds one byte again.
  const uint64_t need = (static_cast<uint64_t>(-m_tokens) + 1) * 1000 - m_carry;
  return std::max<uint64_t>(1, (need + m_rate - 1) / m_rate);
}

}  // namespace p2sp

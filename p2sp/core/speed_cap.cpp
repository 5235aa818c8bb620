#include "speed_cap.h"

#include <algorithm>
#include <chrono>

namespace p2sp {

uint64_t SpeedCap::NowMs() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

void SpeedCap::SetRate(uint64_t bytesPerSecond, uint64_t nowMs) {
  // Counted by the millisecond and empty at first; a quiet counts for two
  // seconds at most.
  TokenBucket::Shape shape;
  shape.stepMs = 1;
  shape.maxQuietMs = 2000;
  shape.startFull = false;
  std::lock_guard<std::mutex> lock(m_mutex);
  m_bucket = TokenBucket(bytesPerSecond, std::max<uint64_t>(bytesPerSecond / 20, kMinBurst), nowMs, shape);
}

uint64_t SpeedCap::Rate() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_bucket.Rate();
}

bool SpeedCap::Admit(uint64_t bytes, uint64_t nowMs) {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_bucket.Admit(bytes, nowMs);
}

uint64_t SpeedCap::WaitMs(uint64_t nowMs) {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_bucket.WaitMs(nowMs);
}

}  // namespace p2sp

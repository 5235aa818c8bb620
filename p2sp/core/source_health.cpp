#include "source_health.h"

#include <algorithm>

namespace p2sp {
namespace {

// 0.25 s doubling to 4 s.
std::chrono::milliseconds BackOff(int strikes) {
  return std::chrono::milliseconds(std::min(4000, 250 << std::min(std::max(strikes, 1) - 1, 5)));
}

}  // namespace

void SourceHealth::Gained(Clock::time_point) { m_strikes = 0; }

bool SourceHealth::Failed(Clock::time_point asked, Clock::time_point now) {
  if (m_struck && asked < m_lastStrike) {
    // Sent before the source's last failure was known: the same round. It
    // waits out at least the current back-off.
    m_nextTry = std::max(m_nextTry, now + BackOff(m_strikes));
    return true;
  }
  m_struck = true;
  m_lastStrike = now;
  if (++m_strikes > m_retries) return false;
  m_nextTry = now + BackOff(m_strikes);
  return true;
}

}  // namespace p2sp

#include "source_health.h"

#include <algorithm>

namespace p2sp {

void SourceHealth::Gained(Clock::time_point) { m_strikes = 0; }

bool SourceHealth::Failed(Clock::time_point, Clock::time_point now) {
  ++m_strikes;
  if (m_strikes > m_retries) return false;
  m_nextTry = now + std::chrono::milliseconds(std::min(4000, 250 << std::min(m_strikes - 1, 5)));
  return true;
}

}  // namespace p2sp

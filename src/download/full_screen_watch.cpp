#include "download/full_screen_watch.h"

bool CFullScreenWatch::OnTick(uint32_t nowMs) {
  constexpr uint32_t kAskEveryMs = 1000;
  if (m_asked && nowMs - m_askedAtMs < kAskEveryMs) return false;
  m_asked = true;
  m_askedAtMs = nowMs;
  m_fullScreen = m_isFullScreen();
  return true;
}

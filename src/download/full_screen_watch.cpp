#include "download/full_screen_watch.h"

#include "state/resume_state.h"

bool CStepAsideChoice::Checked() {
  if (!m_loaded) {
    m_on = m_resume.LoadStepAside();
    m_loaded = true;
  }
  return m_on;
}

void CStepAsideChoice::Toggle() {
  m_on = !Checked();
  m_resume.SaveStepAside(m_on);
}

bool CFullScreenWatch::OnTick(uint32_t nowMs) {
  constexpr uint32_t kAskEveryMs = 1000;
  if (m_asked && nowMs - m_askedAtMs < kAskEveryMs) return false;
  m_asked = true;
  m_askedAtMs = nowMs;
  m_fullScreen = m_isFullScreen();
  return true;
}

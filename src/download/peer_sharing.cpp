#include "download/peer_sharing.h"

void CPeerSharingChoice::Apply() {
  m_playerAllows = m_resume.LoadPeerSharing();
  m_engine.SetPeerSharing(Checked());
}

void CPeerSharingChoice::Toggle() {
  if (!m_publisherAllows) return;
  m_playerAllows = !m_playerAllows;
  m_resume.SavePeerSharing(m_playerAllows);
  m_engine.SetPeerSharing(Checked());
}

void CServePause::OnTick(uint32_t nowMs, const std::function<bool()>& isFullScreen) {
  constexpr uint32_t kAskEveryMs = 1000;
  if (m_asked && nowMs - m_askedAtMs < kAskEveryMs) return;
  m_asked = true;
  m_askedAtMs = nowMs;
  const bool fullScreen = isFullScreen();
  if (fullScreen == m_paused) return;
  m_paused = fullScreen;
  m_engine.SetServePaused(m_paused);
}

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

void CServePause::OnFullScreen(bool fullScreen) {
  if (fullScreen == m_paused) return;
  m_paused = fullScreen;
  m_engine.SetServePaused(m_paused);
}

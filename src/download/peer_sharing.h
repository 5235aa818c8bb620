#pragma once

#include "download/download_engine.h"
#include "state/resume_state.h"

// Whether other players may fetch this game's verified pieces from this
// machine: on unless the publisher's configuration or the player turned it
// off. The player's choice is kept in the resume file; the engine hears of
// every change at once. Fetching from other players is not affected.
class CPeerSharingChoice {
 public:
  CPeerSharingChoice(CResumeState& resume, IDownloadEngine& engine, bool publisherAllows)
      : m_resume(resume), m_engine(engine), m_publisherAllows(publisherAllows) {}

  // Reads the player's choice and tells the engine; after the engine's Init.
  void Apply();
  // The tray menu's item: shown checked when sharing is on, greyed when the
  // publisher does not allow it.
  bool Checked() const { return m_publisherAllows && m_playerAllows; }
  bool Enabled() const { return m_publisherAllows; }
  void Toggle();

 private:
  CResumeState& m_resume;
  IDownloadEngine& m_engine;
  bool m_publisherAllows;
  bool m_playerAllows = true;
};

// Serving other players pauses while a full-screen program (a game, a film)
// is in front, so that it has the line to itself, and goes on once it is
// gone. It hears each answer of the window's CFullScreenWatch; the engine
// hears only of changes (it starts unpaused).
class CServePause {
 public:
  explicit CServePause(IDownloadEngine& engine) : m_engine(engine) {}

  void OnFullScreen(bool fullScreen);
  bool Paused() const { return m_paused; }

 private:
  IDownloadEngine& m_engine;
  bool m_paused = false;
};

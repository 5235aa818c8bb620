#pragma once

#include <cstddef>
#include <cstdint>

#include "download/download_engine.h"
#include "state/resume_state.h"

// The caps on download speed the notification menu offers, in bytes per
// second, the first none; and their menu texts.
constexpr uint32_t kSpeedCapChoices[] = {0, 512 * 1024, 1024 * 1024, 2 * 1024 * 1024, 5 * 1024 * 1024};
constexpr size_t kSpeedCapChoiceCount = sizeof(kSpeedCapChoices) / sizeof(kSpeedCapChoices[0]);
const wchar_t* SpeedCapChoiceText(size_t index);
// The menu's own title for them.
constexpr const wchar_t* kSpeedCapMenuText = L"下载限速";

// The speed the engine may use: the player's cap from the notification menu,
// kept in the resume file, and a low one of its own while a full-screen
// program (a game, a film) is in front, so that the download steps aside:
// a tenth of the speed measured before, 128 KB/s at least, or the player's
// cap when that is lower. It hears each answer of the window's
// CFullScreenWatch (once a second) with the speed shown; the engine hears
// only of changes.
class CSpeedCapChoice {
 public:
  static constexpr uint32_t kYieldFloor = 128 * 1024;
  static constexpr uint32_t kYieldShare = 10;  // the yield cap is 1/10 of the speed before
  static constexpr size_t kSpeedSamples = 5;   // seconds of speed behind "before"

  CSpeedCapChoice(CResumeState& resume, IDownloadEngine& engine) : m_resume(resume), m_engine(engine) {}

  // Reads the player's cap and tells the engine; after the engine's Init.
  void Apply();
  // The index in kSpeedCapChoices the menu shows checked; a stored value that
  // is none of them counts as no cap.
  size_t ChosenIndex() const;
  void Choose(size_t index);
  // `speed`: bytes per second shown now; called once a second.
  void OnFullScreen(uint64_t speed, bool fullScreen);
  bool Yielding() const { return m_yieldCap != 0; }

 private:
  void Tell();

  CResumeState& m_resume;
  IDownloadEngine& m_engine;
  uint32_t m_playerCap = 0;
  uint32_t m_yieldCap = 0;  // 0 while nothing is full-screen
  uint32_t m_told = 0;
  bool m_toldOnce = false;
  uint64_t m_speeds[kSpeedSamples] = {};
  size_t m_speedCount = 0;
};

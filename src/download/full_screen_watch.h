#pragma once

#include <cstdint>
#include <functional>
#include <utility>

// Whether a full-screen program (a game, a film) is in front. The window's
// timer ticks far more often than the answer changes and the test walks the
// windows, so it is asked at the first tick and then at most once a second;
// everything that steps aside for such a program reads this one answer.
class CResumeState;

// The player's choice, from the notification menu and kept in the resume
// file, whether the download steps aside for a full-screen program: off, the
// full-screen test only keeps prompts from covering it.
class CStepAsideChoice {
 public:
  explicit CStepAsideChoice(CResumeState& resume) : m_resume(resume) {}
  bool Checked();
  void Toggle();
  // What those who step aside hear of the watch's answer.
  bool StepAside(bool fullScreen) { return fullScreen && Checked(); }

 private:
  CResumeState& m_resume;
  bool m_loaded = false;
  bool m_on = true;
};

class CFullScreenWatch {
 public:
  explicit CFullScreenWatch(std::function<bool()> isFullScreen) : m_isFullScreen(std::move(isFullScreen)) {}

  // `nowMs`: a millisecond clock that may wrap around. True when the test ran
  // on this tick; FullScreen() holds its answer.
  bool OnTick(uint32_t nowMs);
  bool FullScreen() const { return m_fullScreen; }

 private:
  std::function<bool()> m_isFullScreen;
  bool m_fullScreen = false;
  bool m_asked = false;
  uint32_t m_askedAtMs = 0;
};

#pragma once

#include <cstdint>
#include <functional>
#include <utility>

// Whether a full-screen program (a game, a film) is in front. The window's
// timer ticks far more often than the answer changes and the test walks the
// windows, so it is asked at the first tick and then at most once a second;
// everything that steps aside for such a program reads this one answer.
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

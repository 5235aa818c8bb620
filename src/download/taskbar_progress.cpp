#include "download/taskbar_progress.h"

#include <algorithm>

#include "download/progress_text.h"

TaskbarShow TaskbarShowFor(int mode, int percent) {
  const int clamped = std::min(100, std::max(0, percent));
  switch (mode) {
    case ModeDownloading:
      return {TaskbarState::kNormal, clamped};
    case ModePaused:
      return {TaskbarState::kPaused, clamped};
    case ModeRestart:
      return {TaskbarState::kError, clamped};
    default:
      return {};
  }
}

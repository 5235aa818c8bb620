#pragma once

// What the window's taskbar button shows for the window's mode: the progress
// while downloading, the same bar paused in mode 1 and as an error in mode 4,
// nothing when nothing is under way (ready) or everything is in (finished).
enum class TaskbarState { kNone, kNormal, kPaused, kError };

struct TaskbarShow {
  TaskbarState state = TaskbarState::kNone;
  int percent = 0;  // 0..100; 0 with kNone
  bool operator==(const TaskbarShow& o) const { return state == o.state && percent == o.percent; }
  bool operator!=(const TaskbarShow& o) const { return !(*this == o); }
};

TaskbarShow TaskbarShowFor(int mode, int percent);

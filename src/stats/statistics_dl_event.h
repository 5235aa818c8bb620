#pragma once

#include <cstdint>

#include "state/resume_state.h"
#include "engine/download_manager.h"

// Adds up the time during which engine tasks ran, across runs: the sum is
// loaded from the resume file when the listener is made and stored there
// when it goes.
class CStatisticsDLEvent : public CDownloadManager::ICDownloadManagerCallback {
 public:
  // Milliseconds of a clock that wraps at 32 bits (timeGetTime on Windows).
  using Clock = uint32_t (*)();

  // The process's listener: the game's resume file, the engine, timeGetTime.
  CStatisticsDLEvent();
  // Registers with `manager` right away.
  CStatisticsDLEvent(CResumeState& resume, CDownloadManager& manager, Clock clock);
  virtual ~CStatisticsDLEvent();
  CStatisticsDLEvent(const CStatisticsDLEvent&) = delete;
  CStatisticsDLEvent& operator=(const CStatisticsDLEvent&) = delete;

  // 0: a task was started; 1: a task was stopped; other values are ignored.
  void OnTaskStateChanged(int state) override;

  uint64_t GetDownloadTotalTime() const { return m_totalTime; }
  bool IsTiming() const { return m_timing; }

 private:
  CResumeState& m_resume;
  Clock m_clock;
  uint32_t m_startTime = 0;
  bool m_timing = false;
  uint64_t m_totalTime = 0;
};

// The process's listener, made during static construction.
CStatisticsDLEvent& StatisticsDLEvent();

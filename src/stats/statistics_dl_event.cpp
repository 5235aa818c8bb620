#include "stats/statistics_dl_event.h"

CStatisticsDLEvent::CStatisticsDLEvent(CResumeState& resume, CDownloadManager& manager, Clock clock)
    : m_resume(resume), m_clock(clock) {
  m_totalTime = m_resume.LoadDownloadTotalTime();
  manager.SetCallback(this);
}

CStatisticsDLEvent::~CStatisticsDLEvent() { m_resume.SaveDownloadTotalTime(m_totalTime); }

void CStatisticsDLEvent::OnTaskStateChanged(int state) {
  if (state == 0) {
    // The game and the companion task may both run: the time counts from
    // the first start, not from the latest.
    if (!m_timing) {
      m_startTime = m_clock();
      m_timing = true;
    }
  } else if (state == 1) {
    if (!m_timing) return;
    // Unsigned 32-bit difference: right across the clock's wrap.
    const uint32_t elapsed = m_clock() - m_startTime;
    m_totalTime += elapsed;
    m_timing = false;
  }
}

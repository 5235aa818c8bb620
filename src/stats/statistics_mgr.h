#pragma once

// Queue and sender of the milestone reports. Only the start-up hook exists so
// far; the queue and its sender thread come with the reporting work.
class CStatisticsMgr {
 public:
  void Start() { m_started = true; }
  bool IsStarted() const { return m_started; }

 private:
  bool m_started = false;
};

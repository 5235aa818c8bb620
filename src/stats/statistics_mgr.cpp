#include "stats/statistics_mgr.h"

#include <utility>

CStatisticsMgr::~CStatisticsMgr() {
  {
    std::lock_guard<std::mutex> guard(m_lock);
    m_stopping = true;
  }
  m_wake.notify_all();
  if (m_sender.joinable()) m_sender.join();
}

void CStatisticsMgr::Start(std::unique_ptr<IReportTransport> transport) {
  if (m_started || !transport) return;
  m_transport = std::move(transport);
  m_sender = std::thread(&CStatisticsMgr::SenderLoop, this);
  m_started = true;
}

void CStatisticsMgr::QueueReport(const std::wstring& url) {
  {
    std::lock_guard<std::mutex> guard(m_lock);
    m_replyTaken = false;
    m_queue.push_back(url);
  }
  m_wake.notify_all();
}

void CStatisticsMgr::AddReport(const std::wstring& url) {
  {
    std::lock_guard<std::mutex> guard(m_lock);
    m_queue.push_back(url);
  }
  m_wake.notify_all();
}

bool CStatisticsMgr::TakeReport(std::wstring& url) {
  bool keepReply = false;
  return TakeNext(url, keepReply);
}

size_t CStatisticsMgr::QueuedCount() {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_queue.size();
}

bool CStatisticsMgr::TakeNext(std::wstring& url, bool& keepReply) {
  std::lock_guard<std::mutex> guard(m_lock);
  if (m_queue.empty()) return false;
  url = std::move(m_queue.front());
  m_queue.pop_front();
  keepReply = !m_replyTaken;
  m_replyTaken = true;
  return true;
}

void CStatisticsMgr::SenderLoop() {
  std::unique_lock<std::mutex> lock(m_lock);
  while (!m_stopping) {
    lock.unlock();
    std::wstring url;
    bool keepReply = false;
    while (TakeNext(url, keepReply)) {
      if (keepReply) {
        // A reply that cannot be read back is dropped; the reports after it
        // must still go out.
        m_transport->SendKeepingReply(url);
      } else {
        m_transport->Send(url);
      }
      lock.lock();
      m_wake.wait_for(lock, kSendGap, [this] { return m_stopping; });
      const bool stopping = m_stopping;
      lock.unlock();
      if (stopping) return;
    }
    lock.lock();
    m_wake.wait_for(lock, kIdleWait, [this] { return m_stopping || !m_queue.empty(); });
  }
}

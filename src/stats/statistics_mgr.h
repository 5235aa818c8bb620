#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

// How the sender puts one report on the wire. Called on the sender thread.
class IReportTransport {
 public:
  virtual ~IReportTransport() = default;
  // GET the URL; the reply is thrown away.
  virtual void Send(const std::wstring& url) = 0;
  // GET the URL into a reply file of its own and read it back; false when
  // the reply could not be read back.
  virtual bool SendKeepingReply(const std::wstring& url) = 0;
};

// The queue of milestone reports and the one thread that sends them in
// order, so that no user action waits for the report server.
class CStatisticsMgr {
 public:
  CStatisticsMgr() = default;
  // Stops and joins the sender. The process's own manager is never deleted.
  virtual ~CStatisticsMgr();
  CStatisticsMgr(const CStatisticsMgr&) = delete;
  CStatisticsMgr& operator=(const CStatisticsMgr&) = delete;

  // Starts the sender with the program's HTTP client (10 s timeouts).
  void Start();
  // Starts the sender over `transport`; does nothing when already started.
  void Start(std::unique_ptr<IReportTransport> transport);
  bool IsStarted() const { return m_started; }

  // A new report: its reply, or that of the first report taken after it,
  // is kept in a file.
  void QueueReport(const std::wstring& url);
  void AddReport(const std::wstring& url);
  bool TakeReport(std::wstring& url);
  size_t QueuedCount();

  // Pauses of the sender: between two requests, and the longest idle wait.
  static constexpr std::chrono::milliseconds kSendGap{10};
  static constexpr std::chrono::milliseconds kIdleWait{100};

 private:
  bool TakeNext(std::wstring& url, bool& keepReply);
  void SenderLoop();

  std::mutex m_lock;
  std::condition_variable m_wake;
  std::deque<std::wstring> m_queue;
  std::unique_ptr<IReportTransport> m_transport;
  std::thread m_sender;
  bool m_started = false;
  bool m_replyTaken = true;
  bool m_stopping = false;
};

// The process's one manager: made during static construction and never
// deleted, so that reports queued at exit are still sent.
CStatisticsMgr& StatisticsMgr();

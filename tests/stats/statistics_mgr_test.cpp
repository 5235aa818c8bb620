#include "stats/statistics_mgr.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Sent {
  std::wstring url;
  bool keptReply;
  Clock::time_point at;
};

// Records what the sender did; can be told to fail reading replies back.
class RecordingTransport : public IReportTransport {
 public:
  struct Log {
    std::mutex lock;
    std::vector<Sent> sent;
    bool failReadBack = false;
    std::chrono::milliseconds requestTime{0};
  };
  explicit RecordingTransport(Log& log) : m_log(log) {}
  void Send(const std::wstring& url) override { Record(url, false); }
  bool SendKeepingReply(const std::wstring& url) override {
    Record(url, true);
    std::lock_guard<std::mutex> guard(m_log.lock);
    return !m_log.failReadBack;
  }

 private:
  void Record(const std::wstring& url, bool kept) {
    std::this_thread::sleep_for(m_log.requestTime);
    std::lock_guard<std::mutex> guard(m_log.lock);
    m_log.sent.push_back({url, kept, Clock::now()});
  }
  Log& m_log;
};

std::vector<Sent> WaitForSent(RecordingTransport::Log& log, size_t count,
                              std::chrono::milliseconds limit = std::chrono::milliseconds(3000)) {
  const auto end = Clock::now() + limit;
  for (;;) {
    {
      std::lock_guard<std::mutex> guard(log.lock);
      if (log.sent.size() >= count || Clock::now() > end) return log.sent;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

TEST(StatisticsQueue, TakesReportsFirstInFirstOut) {
  CStatisticsMgr mgr;
  std::wstring url;
  EXPECT_FALSE(mgr.TakeReport(url));
  mgr.AddReport(L"a");
  mgr.QueueReport(L"b");
  mgr.AddReport(L"c");
  EXPECT_EQ(mgr.QueuedCount(), 3u);
  for (const wchar_t* expected : {L"a", L"b", L"c"}) {
    ASSERT_TRUE(mgr.TakeReport(url));
    EXPECT_EQ(url, expected);
  }
  EXPECT_FALSE(mgr.TakeReport(url));
}

TEST(StatisticsSender, ReportsBeforeStartWaitAndThenGoOutInOrder) {
  RecordingTransport::Log log;
  CStatisticsMgr mgr;
  mgr.QueueReport(L"1");
  mgr.QueueReport(L"2");
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(mgr.QueuedCount(), 2u) << "nothing is sent before Start";
  mgr.Start(std::make_unique<RecordingTransport>(log));
  EXPECT_TRUE(mgr.IsStarted());
  auto sent = WaitForSent(log, 2);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].url, L"1");
  EXPECT_EQ(sent[1].url, L"2");
  // Two reports queued together: only the first reply is kept.
  EXPECT_TRUE(sent[0].keptReply);
  EXPECT_FALSE(sent[1].keptReply);
  // A pause between two requests.
  EXPECT_GE(sent[1].at - sent[0].at, CStatisticsMgr::kSendGap);
}

TEST(StatisticsSender, EachReportAfterAQuietSpellKeepsItsReply) {
  RecordingTransport::Log log;
  CStatisticsMgr mgr;
  mgr.Start(std::make_unique<RecordingTransport>(log));
  for (int i = 0; i < 3; ++i) {
    mgr.QueueReport(L"r" + std::to_wstring(i));
    ASSERT_EQ(WaitForSent(log, static_cast<size_t>(i) + 1).size(), static_cast<size_t>(i) + 1);
  }
  // Added without Report: no new reply is wanted for it.
  mgr.AddReport(L"plain");
  auto sent = WaitForSent(log, 4);
  ASSERT_EQ(sent.size(), 4u);
  EXPECT_TRUE(sent[0].keptReply && sent[1].keptReply && sent[2].keptReply);
  EXPECT_FALSE(sent[3].keptReply);
}

TEST(StatisticsSender, AnIdleSenderSendsANewReportPromptly) {
  RecordingTransport::Log log;
  CStatisticsMgr mgr;
  mgr.Start(std::make_unique<RecordingTransport>(log));
  std::this_thread::sleep_for(std::chrono::milliseconds(250));  // well into its idle waits
  const auto queued = Clock::now();
  mgr.QueueReport(L"late");
  auto sent = WaitForSent(log, 1);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_LE(sent[0].at - queued, CStatisticsMgr::kIdleWait + std::chrono::milliseconds(100));
}

TEST(StatisticsSender, AReplyThatCannotBeReadBackDoesNotStopLaterReports) {
  RecordingTransport::Log log;
  log.failReadBack = true;
  CStatisticsMgr mgr;
  mgr.Start(std::make_unique<RecordingTransport>(log));
  mgr.QueueReport(L"first");
  ASSERT_EQ(WaitForSent(log, 1).size(), 1u);
  mgr.QueueReport(L"second");
  mgr.QueueReport(L"third");
  auto sent = WaitForSent(log, 3);
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[1].url, L"second");
  EXPECT_TRUE(sent[1].keptReply);
  EXPECT_EQ(sent[2].url, L"third");
}

TEST(StatisticsSender, DestroyingAManagerStopsItsSender) {
  RecordingTransport::Log log;
  log.requestTime = std::chrono::milliseconds(20);
  {
    CStatisticsMgr mgr;
    mgr.Start(std::make_unique<RecordingTransport>(log));
    for (int i = 0; i < 50; ++i) mgr.QueueReport(L"q");
  }
  const size_t sentAtStop = WaitForSent(log, 0).size();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(WaitForSent(log, 0).size(), sentAtStop);
  EXPECT_LT(sentAtStop, 50u);
}

}  // namespace

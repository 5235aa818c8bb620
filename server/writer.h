#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "store.h"

// Stores reports in batches on one thread. Submit returns once the report's
// batch is committed, so an answered report is in the database; requests
// that arrive while a batch commits form the next batch, so a burst costs
// one commit per batch rather than one per report.
class Writer {
 public:
  // retentionMs > 0 deletes reports older than that, at start and hourly.
  Writer(Store& store, int64_t retentionMs);
  ~Writer();

  // True when committed; false when the database failed for `waitMs` or the
  // writer is stopping. A report not yet committed stays queued either way.
  bool Submit(Report report, int waitMs = 10000);

  // Commits everything queued, then ends the thread.
  void Stop();

  uint64_t Committed() const;

 private:
  void Run();
  void Prune();

  Store& m_store;
  const int64_t m_retentionMs;
  mutable std::mutex m_lock;
  std::condition_variable m_wake;       // the writer: work or stop
  std::condition_variable m_committed;  // the submitters
  std::vector<Report> m_pending;
  uint64_t m_queued = 0;     // sequence number of the last queued report
  uint64_t m_done = 0;       // ... of the last committed one
  bool m_stopping = false;
  std::thread m_thread;
};

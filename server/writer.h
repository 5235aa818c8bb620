#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
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
  // The reports of one commit. Its submitters wait on it alone, so a commit
  // wakes only the requests it answers.
  struct Batch {
    std::vector<Report> reports;
    std::mutex lock;
    std::condition_variable done;
    bool committed = false;
  };

  void Run();
  void Prune();

  Store& m_store;
  const int64_t m_retentionMs;
  mutable std::mutex m_lock;
  std::condition_variable m_wake;  // the writer: work or stop
  std::shared_ptr<Batch> m_pending;  // filling while the writer commits the one before
  bool m_writerWaiting = false;
  uint64_t m_done = 0;  // reports committed
  bool m_stopping = false;
  std::thread m_thread;
};

#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "store.h"

// Stores reports in batches. Submit returns once the report's batch is
// committed, so an answered report is in the database. One commit runs at a
// time: a request that finds none running commits at once on its own thread
// (no hand-over to another thread), and requests arriving meanwhile form the
// next batch, which one of them commits when the running one ends. A burst
// therefore costs one commit per batch rather than one per report.
class Writer {
 public:
  // retentionMs > 0 deletes reports older than that, at start and hourly.
  Writer(Store& store, int64_t retentionMs);
  ~Writer();

  // True when committed; false when the database failed for `waitMs` or the
  // writer is stopping. A report not committed in time stays queued and is
  // stored by the writer's own thread once the database answers again.
  bool Submit(Report report, int waitMs = 10000);

  // Commits everything queued, then ends the writer's thread.
  void Stop();

  uint64_t Committed() const;

 private:
  struct Batch {
    std::vector<Report> reports;
    std::mutex lock;
    std::condition_variable wake;
    bool committed = false;
    bool lead = false;  // one of its submitters is asked to commit it
    int waiters = 0;    // submitters still waiting for it
  };
  using BatchPtr = std::shared_ptr<Batch>;

  // Commits `batch` while holding the commit slot, retrying until `deadline`;
  // then passes the slot on. Returns whether the batch was committed.
  bool Commit(const BatchPtr& batch, std::chrono::steady_clock::time_point deadline);
  // With m_lock held: gives the slot to the waiting batch, or frees it.
  void PassSlot();
  void Run();
  void Prune();

  Store& m_store;
  const int64_t m_retentionMs;
  mutable std::mutex m_lock;
  std::condition_variable m_slotFree;  // the writer's thread waits for the slot
  BatchPtr m_pending;                  // filling while a commit runs
  std::vector<BatchPtr> m_orphans;     // batches whose committer gave up
  bool m_committing = false;           // the commit slot is taken
  bool m_writerWantsSlot = false;      // the writer's thread waits for it
  bool m_stopping = false;
  uint64_t m_done = 0;  // reports committed
  std::thread m_thread;
};

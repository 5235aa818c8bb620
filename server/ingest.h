#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "journal.h"
#include "store.h"

// Takes the journal's records into the database in batches, on a thread of
// its own: each batch is one transaction that also moves the journal's mark,
// so a restart goes on where the last commit ended. A database that fails is
// tried again; the reports wait in the journal meanwhile, already answered.
class Ingest {
 public:
  // retentionMs > 0 deletes reports older than that, at start and hourly.
  // The journal is emptied once more than `journalMax` bytes of it are
  // stored (what is not stored yet moves to the new one).
  Ingest(Store& store, Journal& journal, int64_t retentionMs, int64_t journalMax);
  ~Ingest();

  // Called after an append, so that a sleeping ingest looks again.
  void Poke();

  // Waits until the journal's records up to `tip` are in the database;
  // false when `waitMs` passed first.
  bool WaitStored(Journal::Tip tip, int waitMs);

  // Stores what the journal holds (trying a failing database for a few seconds;
  // what is left stays in the journal for the next start), then ends.
  void Stop();

  uint64_t Stored() const { return m_stored.load(); }
  uint64_t Quarantined() const { return m_quarantined.load(); }

 private:
  void Run();
  void Storing();
  void Restart(int64_t& from);
  void Prune();
  int64_t StartPosition();
  // Stores one batch from `from` and returns the position after it (`from`
  // when there was nothing to take); throws StoreError.
  int64_t TakeBatch(int64_t from);

  Store& m_store;
  Journal& m_journal;
  const int64_t m_retentionMs;
  const int64_t m_journalMax;

  std::mutex m_lock;
  std::condition_variable m_wake;    // the ingest thread sleeps on it
  std::condition_variable m_storedWake;  // WaitStored sleeps on it
  std::atomic<bool> m_sleeping{false};
  bool m_poked = false;
  int m_barrierWaiters = 0;  // WaitStored calls waiting
  bool m_stopping = false;
  bool m_finished = false;  // the thread has ended
  std::chrono::steady_clock::time_point m_stopDeadline;
  std::chrono::steady_clock::time_point m_progress;  // the last batch stored
  std::atomic<uint64_t> m_stored{0};    // reports stored by this process
  std::atomic<uint64_t> m_quarantined{0};  // and set aside
  Journal::Tip m_storedTo{0, 0};          // the journal is stored up to here
  Journal::Tip m_moved{-1, 0};  // the last restart: where the records moved from
  int64_t m_movedTo = 0;        // and where they begin in the new generation
  void SetStoredTo(Journal::Tip tip);
  std::thread m_thread;
};

#include "writer.h"

#include <algorithm>
#include <chrono>

#include "log.h"

namespace {
int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}
}  // namespace

Writer::Writer(Store& store, int64_t retentionMs)
    : m_store(store), m_retentionMs(retentionMs), m_pending(std::make_shared<Batch>()) {
  m_thread = std::thread([this] { Run(); });
}

Writer::~Writer() { Stop(); }

uint64_t Writer::Committed() const {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_done;
}

bool Writer::Submit(Report report, int waitMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  BatchPtr batch;
  bool lead = false;
  {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_stopping) return false;
    batch = m_pending;
    batch->reports.push_back(std::move(report));
    if (!m_committing) {
      m_committing = true;
      m_pending = std::make_shared<Batch>();
      lead = true;
    } else {
      std::lock_guard<std::mutex> batchLock(batch->lock);
      ++batch->waiters;
    }
  }
  if (lead) return Commit(batch, deadline);

  // A commit is running: wait for ours, or to be asked to commit it. A
  // commit takes some tens of microseconds, so a few yields first often save
  // the sleep and the wake-up (about +15 % reports/s, measured with wrk).
  for (int spin = 0; spin < 20; ++spin) {
    {
      std::lock_guard<std::mutex> peek(batch->lock);
      if (batch->committed || batch->lead) break;
    }
    std::this_thread::yield();
  }
  std::unique_lock<std::mutex> lock(batch->lock);
  batch->wake.wait_until(lock, deadline, [&] { return batch->committed || batch->lead; });
  --batch->waiters;
  if (batch->committed) return true;
  if (!batch->lead) return false;  // the batch stays queued; someone else commits it
  batch->lead = false;
  lock.unlock();
  return Commit(batch, deadline);
}

bool Writer::Commit(const BatchPtr& batch, std::chrono::steady_clock::time_point deadline) {
  int failures = 0;
  for (;;) {
    try {
      m_store.InsertBatch(batch->reports);
      if (failures) Log("database: stored again after %d failed attempts", failures);
      break;
    } catch (const StoreError& e) {
      if (failures++ % 20 == 0) Log("database: %s (batch of %zu kept, retrying)", e.what(), batch->reports.size());
      if (std::chrono::steady_clock::now() + std::chrono::milliseconds(100) >= deadline) {
        // The writer's thread keeps trying; this request is answered "not stored".
        std::lock_guard<std::mutex> lock(m_lock);
        m_orphans.push_back(batch);
        PassSlot();
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(std::min(1000, 50 * failures)));
    }
  }
  {
    std::lock_guard<std::mutex> lock(batch->lock);
    batch->committed = true;
  }
  batch->wake.notify_all();
  std::lock_guard<std::mutex> lock(m_lock);
  m_done += batch->reports.size();
  PassSlot();
  return true;
}

void Writer::PassSlot() {
  if (!m_pending->reports.empty()) {
    const BatchPtr next = m_pending;
    m_pending = std::make_shared<Batch>();
    std::lock_guard<std::mutex> lock(next->lock);
    if (next->waiters > 0) {
      next->lead = true;
      next->wake.notify_one();
      return;  // the slot stays taken, now by one of `next`'s submitters
    }
    // Its submitters have all given up waiting: the writer's thread takes it.
    m_orphans.push_back(next);
  }
  m_committing = false;
  if (m_writerWantsSlot || !m_orphans.empty() || m_stopping) m_slotFree.notify_one();
}

void Writer::Stop() {
  {
    std::lock_guard<std::mutex> lock(m_lock);
    m_stopping = true;
  }
  m_slotFree.notify_one();
  if (m_thread.joinable()) m_thread.join();
}

void Writer::Prune() {
  if (m_retentionMs <= 0) return;
  try {
    const int64_t removed =
        m_store.Execute("DELETE FROM reports WHERE received < ?", {std::to_string(NowMs() - m_retentionMs)});
    if (removed > 0) Log("retention: removed %lld reports", static_cast<long long>(removed));
  } catch (const StoreError& e) {
    Log("retention: %s", e.what());
  }
}

// Retention, the batches whose committers gave up, and the last commits at
// stop: the writer's own thread takes the commit slot for these.
void Writer::Run() {
  auto nextPrune = std::chrono::steady_clock::now();
  int failures = 0;
  for (;;) {
    if (failures) std::this_thread::sleep_for(std::chrono::milliseconds(std::min(1000, 50 * failures)));
    std::vector<BatchPtr> work;
    bool prune = false;
    {
      std::unique_lock<std::mutex> lock(m_lock);
      m_slotFree.wait_until(lock, nextPrune, [&] { return m_stopping || !m_orphans.empty(); });
      m_writerWantsSlot = true;
      m_slotFree.wait(lock, [&] { return !m_committing; });
      m_writerWantsSlot = false;
      prune = std::chrono::steady_clock::now() >= nextPrune;
      if (m_orphans.empty() && !prune) {
        if (m_stopping) return;
        continue;
      }
      m_committing = true;
      work.swap(m_orphans);
    }
    if (prune) {
      Prune();
      nextPrune = std::chrono::steady_clock::now() + std::chrono::hours(1);
    }
    std::vector<BatchPtr> failed;
    uint64_t stored = 0;
    for (const BatchPtr& batch : work) {
      try {
        m_store.InsertBatch(batch->reports);
        stored += batch->reports.size();
        {
          std::lock_guard<std::mutex> lock(batch->lock);
          batch->committed = true;
        }
        batch->wake.notify_all();
      } catch (const StoreError& e) {
        if (failures++ % 20 == 0) Log("database: %s (batch of %zu kept, retrying)", e.what(), batch->reports.size());
        failed.push_back(batch);
      }
    }
    if (failed.empty()) failures = 0;
    std::lock_guard<std::mutex> lock(m_lock);
    m_done += stored;
    if (m_stopping && failures > 50) {
      size_t lost = 0;
      for (const BatchPtr& b : failed) lost += b->reports.size();
      Log("database: giving up at stop, %zu reports not stored", lost);
      failed.clear();
    }
    m_orphans.insert(m_orphans.begin(), failed.begin(), failed.end());
    PassSlot();
  }
}

#include "writer.h"

#include <chrono>
#include <cstdio>

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

bool Writer::Submit(Report report, int waitMs) {
  std::shared_ptr<Batch> batch;
  {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_stopping) return false;
    batch = m_pending;
    batch->reports.push_back(std::move(report));
    if (m_writerWaiting) m_wake.notify_one();
  }
  std::unique_lock<std::mutex> lock(batch->lock);
  return batch->done.wait_for(lock, std::chrono::milliseconds(waitMs), [&] { return batch->committed; });
}

void Writer::Stop() {
  {
    std::lock_guard<std::mutex> lock(m_lock);
    m_stopping = true;
  }
  m_wake.notify_one();
  if (m_thread.joinable()) m_thread.join();
}

uint64_t Writer::Committed() const {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_done;
}

void Writer::Prune() {
  if (m_retentionMs <= 0) return;
  try {
    const int64_t removed = m_store.Execute("DELETE FROM reports WHERE received < ?", {std::to_string(NowMs() - m_retentionMs)});
    if (removed > 0) Log("retention: removed %lld reports", static_cast<long long>(removed));
  } catch (const StoreError& e) {
    Log("retention: %s", e.what());
  }
}

void Writer::Run() {
  Prune();
  auto nextPrune = std::chrono::steady_clock::now() + std::chrono::hours(1);
  std::shared_ptr<Batch> batch;
  int failures = 0;
  for (;;) {
    if (!batch) {
      std::unique_lock<std::mutex> lock(m_lock);
      m_writerWaiting = true;
      m_wake.wait_until(lock, nextPrune, [&] { return m_stopping || !m_pending->reports.empty(); });
      m_writerWaiting = false;
      if (m_pending->reports.empty()) {
        if (m_stopping) return;
      } else {
        batch = std::move(m_pending);
        m_pending = std::make_shared<Batch>();
      }
    }
    if (std::chrono::steady_clock::now() >= nextPrune) {
      Prune();
      nextPrune = std::chrono::steady_clock::now() + std::chrono::hours(1);
    }
    if (!batch) continue;
    try {
      m_store.InsertBatch(batch->reports);
      if (failures) Log("database: stored again after %d failed attempts", failures);
      failures = 0;
      {
        std::lock_guard<std::mutex> lock(m_lock);
        m_done += batch->reports.size();
      }
      {
        std::lock_guard<std::mutex> lock(batch->lock);
        batch->committed = true;
      }
      batch->done.notify_all();
      batch.reset();
    } catch (const StoreError& e) {
      // Keep the batch and try again: its reports were not answered yet.
      // New arrivals wait for the next batch.
      if (failures++ % 20 == 0) Log("database: %s (batch of %zu kept, retrying)", e.what(), batch->reports.size());
      std::this_thread::sleep_for(std::chrono::milliseconds(std::min(2000, 50 * failures)));
      std::lock_guard<std::mutex> lock(m_lock);
      if (m_stopping && failures > 50) {
        Log("database: giving up at stop, %zu reports not stored", batch->reports.size() + m_pending->reports.size());
        return;
      }
    }
  }
}

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

Writer::Writer(Store& store, int64_t retentionMs) : m_store(store), m_retentionMs(retentionMs) {
  m_thread = std::thread([this] { Run(); });
}

Writer::~Writer() { Stop(); }

bool Writer::Submit(Report report, int waitMs) {
  std::unique_lock<std::mutex> lock(m_lock);
  if (m_stopping) return false;
  m_pending.push_back(std::move(report));
  const uint64_t mine = ++m_queued;
  m_wake.notify_one();
  return m_committed.wait_for(lock, std::chrono::milliseconds(waitMs), [&] { return m_done >= mine; });
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
  std::vector<Report> batch;
  uint64_t batchEnd = 0;
  int failures = 0;
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(m_lock);
      if (batch.empty()) {
        m_wake.wait_until(lock, nextPrune, [&] { return m_stopping || !m_pending.empty(); });
        if (m_pending.empty() && m_stopping) return;
        batch.swap(m_pending);
        batchEnd = m_queued;
      }
    }
    if (std::chrono::steady_clock::now() >= nextPrune) {
      Prune();
      nextPrune = std::chrono::steady_clock::now() + std::chrono::hours(1);
    }
    if (batch.empty()) continue;
    try {
      m_store.InsertBatch(batch);
      if (failures) Log("database: stored again after %d failed attempts", failures);
      failures = 0;
      batch.clear();
      std::lock_guard<std::mutex> lock(m_lock);
      m_done = batchEnd;
      m_committed.notify_all();
    } catch (const StoreError& e) {
      // Keep the batch and try again: the reports were not answered yet.
      // New arrivals wait for the next batch.
      if (failures++ % 20 == 0) Log("database: %s (batch of %zu kept, retrying)", e.what(), batch.size());
      std::this_thread::sleep_for(std::chrono::milliseconds(std::min(2000, 50 * failures)));
      std::lock_guard<std::mutex> lock(m_lock);
      if (m_stopping && failures > 50) {
        Log("database: giving up at stop, %zu reports not stored", batch.size() + m_pending.size());
        return;
      }
    }
  }
}

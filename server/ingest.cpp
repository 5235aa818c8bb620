#include "ingest.h"

#include <algorithm>
#include <pthread.h>

#include <chrono>

#include "log.h"
#include "report.h"

namespace {

// Reports land all over the indexes, so a commit writes about as many pages
// as the indexes have: the more reports per commit, the fewer writes each.
constexpr size_t kBatchRecords = 50000;
constexpr int64_t kGatherBytes = 8 << 20;
constexpr auto kGatherTime = std::chrono::milliseconds(100);

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace

Ingest::Ingest(Store& store, Journal& journal, int64_t retentionMs, int64_t journalMax)
    : m_store(store), m_journal(journal), m_retentionMs(retentionMs), m_journalMax(journalMax) {
  m_thread = std::thread([this] { Run(); });
}

Ingest::~Ingest() { Stop(); }

void Ingest::Poke() {
  if (!m_sleeping.load(std::memory_order_relaxed)) return;
  {
    std::lock_guard<std::mutex> lock(m_lock);
    m_poked = true;
  }
  m_wake.notify_one();
}

bool Ingest::WaitStored(Journal::Tip tip, int waitMs) {
  std::unique_lock<std::mutex> lock(m_lock);
  auto stored = [&] {
    return m_storedTo.generation > tip.generation ||
           (m_storedTo.generation == tip.generation && m_storedTo.end >= tip.end);
  };
  if (stored()) return true;
  ++m_barrierWaiters;
  m_poked = true;
  m_wake.notify_one();
  const bool done = m_storedWake.wait_for(lock, std::chrono::milliseconds(waitMs), stored);
  --m_barrierWaiters;
  return done;
}

void Ingest::SetStoredTo(Journal::Tip tip) {
  {
    std::lock_guard<std::mutex> lock(m_lock);
    m_storedTo = tip;
  }
  m_storedWake.notify_all();
}

void Ingest::Stop() {
  {
    std::lock_guard<std::mutex> lock(m_lock);
    m_stopping = true;
  }
  m_wake.notify_one();
  if (m_thread.joinable()) m_thread.join();
}

void Ingest::Prune() {
  if (m_retentionMs <= 0) return;
  try {
    const int64_t removed =
        m_store.Execute("DELETE FROM reports WHERE received < ?", {std::to_string(NowMs() - m_retentionMs)});
    if (removed > 0) Log("retention: removed %lld reports", static_cast<long long>(removed));
  } catch (const StoreError& e) {
    Log("retention: %s", e.what());
  }
}

// Where the database's mark says this journal was taken up to.
int64_t Ingest::StartPosition() {
  const JournalMark mark = m_store.ReadMark(m_journal.Id());
  if (mark.generation == m_journal.Generation() && mark.position >= m_journal.Start() &&
      mark.position <= m_journal.End()) {
    if (mark.position < m_journal.End())
      Log("journal: storing %lld bytes of reports received before the last stop",
          static_cast<long long>(m_journal.End() - mark.position));
    return mark.position;
  }
  // No mark yet, or one of an earlier generation: the file was emptied after
  // everything in it was stored, so all it holds now is new.
  if (mark.generation > m_journal.Generation())
    Log("journal: the database's mark is ahead of the journal; storing all it holds");
  return m_journal.Start();
}

int64_t Ingest::TakeBatch(int64_t from) {
  Journal::Batch batch = m_journal.Read(from, kBatchRecords);
  if (batch.records.empty()) {
    if (batch.next != from) SetStoredTo({m_journal.Generation(), batch.next});
    return batch.next;
  }
  std::vector<Report> reports;
  reports.reserve(batch.records.size());
  for (JournalRecord& record : batch.records) {
    Report report = ParseReportTarget(record.target);
    report.receivedMs = record.receivedMs;
    report.client = std::move(record.client);
    reports.push_back(std::move(report));
  }
  m_store.InsertBatch(reports, JournalMark{m_journal.Id(), m_journal.Generation(), batch.next});
  m_stored += reports.size();
  SetStoredTo({m_journal.Generation(), batch.next});
  return batch.next;
}

void Ingest::Run() {
  pthread_setname_np(pthread_self(), "gd-ingest");
  auto nextPrune = std::chrono::steady_clock::now();
  int failures = 0;
  bool haveStart = false;
  int64_t from = 0;
  for (;;) {
    bool stopping;
    {
      std::lock_guard<std::mutex> lock(m_lock);
      stopping = m_stopping;
    }
    if (failures) {
      if (stopping && failures > 50) {
        Log("database: giving up at stop; %lld bytes of reports stay in the journal for the next start",
            static_cast<long long>(m_journal.End() - from));
        return;
      }
      std::unique_lock<std::mutex> lock(m_lock);
      m_wake.wait_for(lock, std::chrono::milliseconds(std::min(1000, 50 * failures)), [&] { return m_stopping && !stopping; });
    }
    try {
      if (!haveStart) {
        from = StartPosition();
        haveStart = true;
        SetStoredTo({m_journal.Generation(), from});
      }
      if (std::chrono::steady_clock::now() >= nextPrune) {
        Prune();
        nextPrune = std::chrono::steady_clock::now() + std::chrono::hours(1);
      }
      const int64_t next = TakeBatch(from);
      if (failures) Log("database: storing again after %d failed attempts", failures);
      failures = 0;
      if (next != from) {
        from = next;
        // Under a stream of reports, gather some before the next commit:
        // each commit writes every page it touched, and the reports of a
        // larger batch share more of them (with 100 ms rather than 20 ms,
        // 0.50-0.57 of nginx's rate rather than 0.48-0.55). A page or figure
        // waiting for the reports before it cuts the gathering short.
        if (m_journal.End() - from < kGatherBytes) {
          std::unique_lock<std::mutex> lock(m_lock);
          m_wake.wait_for(lock, kGatherTime, [&] { return m_stopping || m_barrierWaiters > 0; });
        }
        continue;
      }
    } catch (const StoreError& e) {
      if (failures++ % 20 == 0) Log("database: %s (reports kept in the journal, retrying)", e.what());
      continue;
    }
    // Everything is stored.
    if (stopping) return;
    if (from - m_journal.Start() > m_journalMax && m_journal.Restart(from)) {
      from = m_journal.Start();
      SetStoredTo({m_journal.Generation(), from});
    }
    std::unique_lock<std::mutex> lock(m_lock);
    m_sleeping = true;
    if (m_journal.End() == from && !m_stopping)
      m_wake.wait_for(lock, std::chrono::milliseconds(5), [&] { return m_poked || m_stopping; });
    m_sleeping = false;
    m_poked = false;
  }
}

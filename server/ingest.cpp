#include "ingest.h"

#include <algorithm>
#include <pthread.h>

#include <chrono>

#include "log.h"
#include "report.h"
#include "store_sql.h"

namespace {

// Reports land all over the indexes, so a commit writes about as many pages
// as the indexes have: the more reports per commit, the fewer writes each.
constexpr size_t kBatchRecords = 50000;
// And at most this many bytes of records in memory at once.
constexpr size_t kBatchBytes = 16 << 20;
constexpr int64_t kGatherBytes = 8 << 20;
constexpr auto kGatherTime = std::chrono::milliseconds(100);
// How long a stop keeps trying a database that fails or is locked.
constexpr auto kStopTime = std::chrono::seconds(3);

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
  // A tip of the generation before the last restart moved with the records
  // that were not stored then.
  auto stored = [&] {
    Journal::Tip t = tip;
    if (t.generation == m_moved.generation && m_storedTo.generation == m_moved.generation + 1)
      t = t.end <= m_moved.end ? Journal::Tip{0, 0} : Journal::Tip{t.generation + 1, t.end - m_moved.end + m_movedTo};
    return m_storedTo.generation > t.generation || (m_storedTo.generation == t.generation && m_storedTo.end >= t.end);
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
    m_progress = std::chrono::steady_clock::now();
  }
  m_storedWake.notify_all();
}

void Ingest::Stop() {
  {
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_stopping) m_stopDeadline = std::chrono::steady_clock::now() + kStopTime;
    m_stopping = true;
  }
  m_wake.notify_one();
  if (!m_thread.joinable()) return;
  {
    // A write that waits for a lock held elsewhere (another process's
    // transaction) is cut short once the time for stopping is up; one that
    // is storing a long backlog batch after batch goes on.
    std::unique_lock<std::mutex> lock(m_lock);
    while (!m_finished) {
      const auto now = std::chrono::steady_clock::now();
      if (now >= m_stopDeadline && now - m_progress > std::chrono::seconds(1)) m_store.Interrupt();
      m_storedWake.wait_for(lock, std::chrono::milliseconds(100));
    }
  }
  m_thread.join();
}

void Ingest::Prune() {
  if (m_retentionMs <= 0) return;
  try {
    const int64_t removed =
        m_store.Execute(kDeleteBefore, {std::to_string(NowMs() - m_retentionMs)});
    if (removed > 0) Log("retention: removed %lld reports", static_cast<long long>(removed));
  } catch (const StoreError& e) {
    Log("retention: %s", e.what());
  }
}

// Where the database's mark says this journal was taken up to.
int64_t Ingest::StartPosition() {
  const JournalMark mark = m_store.ReadMark(m_journal.Id());
  if (mark.generation == m_journal.Generation() && mark.position > m_journal.End()) return -1;
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
  Journal::Batch batch = m_journal.Read(from, kBatchRecords, kBatchBytes);
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
  const JournalMark mark{m_journal.Id(), m_journal.Generation(), batch.next};
  size_t quarantined = 0;
  try {
    m_store.InsertBatch(reports, mark);
  } catch (const StoreError& e) {
    if (!e.rowFault) throw;
    // One report the database refuses must not hold up the others: they
    // are stored a row at a time and the refused ones set aside.
    quarantined = m_store.InsertEach(reports, mark);
    Log("database: %zu reports refused (%s) and set aside in the quarantine table", quarantined, e.what());
  }
  m_quarantined += quarantined;
  m_stored += reports.size() - quarantined;
  SetStoredTo({m_journal.Generation(), batch.next});
  return batch.next;
}

// Empties the journal up to `from`, all of it stored; what follows moves to
// the start of the next generation.
void Ingest::Restart(int64_t& from) {
  const Journal::Tip before{m_journal.Generation(), from};
  if (!m_journal.Restart(from)) return;
  from = m_journal.Start();
  {
    std::lock_guard<std::mutex> lock(m_lock);
    m_moved = before;
    m_movedTo = from;
  }
  SetStoredTo({m_journal.Generation(), from});
}

void Ingest::Run() {
  pthread_setname_np(pthread_self(), "gd-ingest");
  Storing();
  {
    std::lock_guard<std::mutex> lock(m_lock);
    m_finished = true;
  }
  m_storedWake.notify_all();
}

void Ingest::Storing() {
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
      if (stopping && std::chrono::steady_clock::now() >= m_stopDeadline) {
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
        if (from < 0) {
          Log("journal: %s is shorter than the database says it stored; storing nothing from it (it is not this "
              "server's journal, or it was cut)", m_journal.Id().c_str());
          return;
        }
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
        if (from - m_journal.Start() > m_journalMax) Restart(from);
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
    if (from - m_journal.Start() > m_journalMax) Restart(from);
    std::unique_lock<std::mutex> lock(m_lock);
    m_sleeping = true;
    if (m_journal.End() == from && !m_stopping)
      m_wake.wait_for(lock, std::chrono::milliseconds(5), [&] { return m_poked || m_stopping; });
    m_sleeping = false;
    m_poked = false;
  }
}

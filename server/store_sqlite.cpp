#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>
#include <thread>

#include "db_handles.h"
#include "schema.h"
#include "store.h"
#include "store_sql.h"

namespace {

class SqliteStore : public Store {
 public:
  explicit SqliteStore(const std::string& path) {
    // Every handle has its owner, so that a step below that throws closes
    // what the ones before it opened.
    m_write = Open(path);
    sqlite3* const db = m_write.get();
    // Wait for other servers' commits as Open's timeout does, but give up at
    // once when interrupted (the process is stopping).
    sqlite3_busy_handler(
        db,
        [](void* self, int count) -> int {
          if (static_cast<SqliteStore*>(self)->m_interrupted.load()) return 0;
          std::this_thread::sleep_for(std::chrono::milliseconds(5));
          return count < 2000;
        },
        this);
    // For a new file: every report lands on a random page of each index, and
    // larger pages mean fewer of them per batch (a journal of 600 000
    // reports went in at 101 000 rows/s instead of 74 000).
    Exec(db, "PRAGMA page_size=16384");
    Exec(db, "PRAGMA journal_mode=WAL");
    // In WAL mode a commit survives the process being killed without a sync
    // per commit (as the journal does); only a power cut can take the last.
    Exec(db, "PRAGMA synchronous=NORMAL");
    // Checkpoints (which sync the file) run on a thread of their own rather
    // than inside a commit, so that they do not hold up the ingest.
    Exec(db, "PRAGMA wal_autocheckpoint=0");
    // Reports land all over the indexes (the player's id is in their keys):
    // keep their pages in memory rather than read them again at each batch.
    Exec(db, "PRAGMA cache_size=-131072");
    Exec(db, "PRAGMA mmap_size=4294967296");
    if (sqlite3_exec(db, kHasReports, nullptr, nullptr, nullptr) == SQLITE_OK &&
        sqlite3_exec(db, kHasGameNumbers, nullptr, nullptr, nullptr) != SQLITE_OK) {
      Exec(db, "BEGIN IMMEDIATE");
      try {
        for (const char* const* s = kAddGameNumbers; *s; ++s) Exec(db, *s);
        Exec(db, "COMMIT");
      } catch (...) {
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
      }
    }
    if (sqlite3_exec(db, kHasReports, nullptr, nullptr, nullptr) == SQLITE_OK) {
      // Looked at inside the transaction: another server may be adding them.
      Exec(db, "BEGIN IMMEDIATE");
      try {
        if (sqlite3_exec(db, kHasPeerBytes, nullptr, nullptr, nullptr) != SQLITE_OK)
          for (const char* const* s = kAddPeerBytes; *s; ++s) Exec(db, *s);
        Exec(db, "COMMIT");
      } catch (...) {
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
      }
    }
    for (const std::string& statement : Schema()) Exec(db, statement.c_str());
    m_path = path;
    m_insert = Prepare(db, kInsertReport);
    const SqliteStatement pageSize = Prepare(db, "PRAGMA page_size");
    if (sqlite3_step(pageSize.get()) == SQLITE_ROW) m_pageSize = sqlite3_column_int64(pageSize.get(), 0);
    m_saveMark = Prepare(db, kSaveMark);
    sqlite3_wal_hook(
        db,
        [](void* self, sqlite3*, const char*, int frames) {
          static_cast<SqliteStore*>(self)->m_walFrames = frames;
          return SQLITE_OK;
        },
        this);
    m_checkpointDb = Open(path);
    m_checkpointer = std::thread([this] { Checkpoints(); });
  }
  ~SqliteStore() override {
    {
      std::lock_guard<std::mutex> lock(m_stopLock);
      m_stop = true;
    }
    m_stopWake.notify_one();
    m_checkpointer.join();
    sqlite3_wal_checkpoint_v2(m_checkpointDb.get(), nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
  }

  void InsertBatch(const std::vector<Report>& reports, const JournalMark& mark) override {
    WithMark(mark, [&](std::map<std::string, std::string>& fresh) {
      for (const Report& r : reports) InsertRow(r, GameNumber(r, fresh));
    });
    // Under a steady stream the background checkpoints never reach the end
    // of the log, so it would grow without end; between two commits nothing
    // is appended, and a checkpoint here lets the next commit start it anew.
    if (static_cast<int64_t>(m_walFrames) * m_pageSize > kWalBytesLimit) {
      sqlite3_wal_checkpoint_v2(m_write.get(), nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
      m_walFrames = 0;
    }
  }

  size_t InsertEach(const std::vector<Report>& reports, const JournalMark& mark) override {
    size_t quarantined = 0;
    WithMark(mark, [&](std::map<std::string, std::string>& fresh) {
      quarantined = InsertEachIn(
          reports, [this](const Report& r, const Cell& gameNo) { InsertRow(r, gameNo); },
          [this](const char* sql) { Exec(m_write.get(), sql); }, fresh);
    });
    return quarantined;
  }

  void InsertRow(const Report& r, const Cell& gameNo) {
    // Bound without a copy: `params` outlives the step.
    const std::vector<Cell> params = ReportParams(r, gameNo);
    Bind(m_insert.get(), params, SQLITE_STATIC);
    const int rc = sqlite3_step(m_insert.get());
    sqlite3_reset(m_insert.get());
    if (rc != SQLITE_DONE) Fail(m_write.get(), "insert");
  }

  // One transaction: what `body` inserts, then the journal's mark; nothing of
  // it stays when anything fails.
  template <class Body>
  void WithMark(const JournalMark& mark, Body body) {
    Exec(m_write.get(), "BEGIN IMMEDIATE");
    std::map<std::string, std::string> fresh;
    try {
      body(fresh);
      Bind(m_saveMark.get(), MarkParams(mark));
      const int rc = sqlite3_step(m_saveMark.get());
      sqlite3_reset(m_saveMark.get());
      if (rc != SQLITE_DONE) Fail(m_write.get(), "journal mark");
      Exec(m_write.get(), "COMMIT");
    } catch (...) {
      sqlite3_exec(m_write.get(), "ROLLBACK", nullptr, nullptr, nullptr);
      throw;
    }
    KeepGameNumbers(fresh);
  }

  void Interrupt() override { m_interrupted = true; }

  int64_t Execute(const std::string& sql, const std::vector<Cell>& params) override {
    const int rc = [&] {
      const SqliteStatement st = Prepare(m_write.get(), sql.c_str());
      Bind(st.get(), params);
      return sqlite3_step(st.get());
    }();
    if (rc != SQLITE_DONE && rc != SQLITE_ROW) Fail(m_write.get(), "statement");
    return sqlite3_changes(m_write.get());
  }

  // Reads run on connections of their own, several at once, so that the
  // figures of one page are counted side by side.
  std::vector<Row> Query(const std::string& sql, const std::vector<Cell>& params) override {
    sqlite3* db = TakeReader();
    try {
      std::vector<Row> rows = Run(db, sql, params);
      GiveBack(db);
      return rows;
    } catch (...) {
      GiveBack(db);
      throw;
    }
  }

  const char* Kind() const override { return "sqlite"; }

 protected:
  std::vector<Row> WriteQuery(const std::string& sql, const std::vector<Cell>& params) override {
    return Run(m_write.get(), sql, params);
  }

 private:
  sqlite3* TakeReader() {
    {
      std::lock_guard<std::mutex> lock(m_readLock);
      if (!m_idle.empty()) {
        sqlite3* db = m_idle.back();
        m_idle.pop_back();
        return db;
      }
    }
    SqliteDb db = Open(m_path);
    // The dashboard reads whole indexes: map the file rather than copy pages.
    Exec(db.get(), "PRAGMA mmap_size=4294967296");
    Exec(db.get(), "PRAGMA cache_size=-65536");
    std::lock_guard<std::mutex> lock(m_readLock);
    m_readers.push_back(std::move(db));
    return m_readers.back().get();
  }
  void GiveBack(sqlite3* db) {
    std::lock_guard<std::mutex> lock(m_readLock);
    m_idle.push_back(db);
  }

  void Checkpoints() {
    std::unique_lock<std::mutex> lock(m_stopLock);
    while (!m_stopWake.wait_for(lock, std::chrono::milliseconds(500), [this] { return m_stop; })) {
      int logFrames = 0, done = 0;
      lock.unlock();
      sqlite3_wal_checkpoint_v2(m_checkpointDb.get(), nullptr, SQLITE_CHECKPOINT_PASSIVE, &logFrames, &done);
      lock.lock();
    }
  }

  static SqliteDb Open(const std::string& path) {
    sqlite3* opened = nullptr;
    // Each connection is used by one thread at a time (the ingest, the
    // checkpointer, or a query that took it from the pool): no locking per call.
    const int rc =
        sqlite3_open_v2(path.c_str(), &opened, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    SqliteDb db(opened);
    if (rc != SQLITE_OK) throw StoreError("cannot open " + path + ": " + (db ? sqlite3_errmsg(db.get()) : "out of memory"));
    // Several servers may share the file; wait for each other's commits.
    sqlite3_busy_timeout(db.get(), 10000);
    return db;
  }
  static std::vector<Row> Run(sqlite3* db, const std::string& sql, const std::vector<Cell>& params) {
    std::vector<Row> rows;
    int rc = SQLITE_OK;
    std::string failure;
    sqlite3_stmt* prepared = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &prepared, nullptr) != SQLITE_OK) {
      failure = sqlite3_errmsg(db);
    } else {
      const SqliteStatement owner(prepared);
      sqlite3_stmt* const st = prepared;
      Bind(st, params);
      while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        Row row;
        for (int i = 0, n = sqlite3_column_count(st); i < n; ++i) {
          if (sqlite3_column_type(st, i) == SQLITE_FLOAT) {
            // SQLite's own text of a real keeps 15 digits; sums of bytes need all.
            char exact[32];
            std::snprintf(exact, sizeof exact, "%.17g", sqlite3_column_double(st, i));
            row.emplace_back(std::string(exact));
            continue;
          }
          const unsigned char* text = sqlite3_column_text(st, i);
          if (text) row.emplace_back(std::string(reinterpret_cast<const char*>(text), sqlite3_column_bytes(st, i)));
          else row.emplace_back(std::nullopt);
        }
        rows.push_back(std::move(row));
      }
      if (rc != SQLITE_DONE) failure = sqlite3_errmsg(db);
    }
    if (!failure.empty()) throw StoreError("sqlite query: " + failure, RowFault(db));
    return rows;
  }
  // Errors that belong to the row rather than to the file or the lock.
  static bool RowFault(sqlite3* db) {
    const int code = sqlite3_errcode(db) & 0xff;
    return code == SQLITE_CONSTRAINT || code == SQLITE_TOOBIG || code == SQLITE_MISMATCH;
  }
  [[noreturn]] static void Fail(sqlite3* db, const char* what) {
    throw StoreError(std::string("sqlite ") + what + ": " + sqlite3_errmsg(db), RowFault(db));
  }
  static void Exec(sqlite3* db, const char* sql) {
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) Fail(db, sql);
  }
  static SqliteStatement Prepare(sqlite3* db, const char* sql) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) != SQLITE_OK) Fail(db, "prepare");
    return SqliteStatement(st);
  }
  static void Bind(sqlite3_stmt* st, const std::vector<Cell>& params, sqlite3_destructor_type keep = SQLITE_TRANSIENT) {
    for (size_t i = 0; i < params.size(); ++i) {
      const int at = static_cast<int>(i) + 1;
      if (params[i]) sqlite3_bind_text(st, at, params[i]->data(), static_cast<int>(params[i]->size()), keep);
      else sqlite3_bind_null(st, at);
    }
  }

  // Declared before its statements, which go first.
  SqliteDb m_write;
  std::string m_path;
  std::vector<SqliteDb> m_readers;  // all opened, closed at the end
  std::vector<sqlite3*> m_idle;     // of m_readers, not in use
  SqliteStatement m_insert;
  SqliteStatement m_saveMark;
  std::mutex m_readLock;
  static constexpr int64_t kWalBytesLimit = 64 << 20;
  int m_walFrames = 0;
  int64_t m_pageSize = 4096;
  SqliteDb m_checkpointDb;
  std::thread m_checkpointer;
  std::mutex m_stopLock;
  std::condition_variable m_stopWake;
  bool m_stop = false;
  std::atomic<bool> m_interrupted{false};
};

}  // namespace

std::unique_ptr<Store> OpenSqliteStore(const std::string& path) {
  // Before the first connection: no counting of SQLite's allocations, which
  // takes a lock at each of them (ignored when SQLite is already in use).
  sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
  return std::make_unique<SqliteStore>(path);
}

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "db_handles.h"
#include "schema.h"
#include "store.h"
#include "store_sql.h"

namespace {

// "?" placeholders become $1, $2, ...; the shared SQL has no "?" in literals.
std::string Numbered(const std::string& sql) {
  std::string out;
  int n = 0;
  for (char c : sql) {
    if (c == '?') out += "$" + std::to_string(++n);
    else out += c;
  }
  return out;
}

std::vector<Row> Rows(const PgResult& result) {
  PGresult* const res = result.get();
  std::vector<Row> rows;
  for (int r = 0, nr = PQntuples(res); r < nr; ++r) {
    Row row;
    for (int c = 0, nc = PQnfields(res); c < nc; ++c) {
      if (PQgetisnull(res, r, c)) row.emplace_back(std::nullopt);
      else row.emplace_back(std::string(PQgetvalue(res, r, c), PQgetlength(res, r, c)));
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

class PgConnection {
 public:
  explicit PgConnection(const std::string& conninfo) : m_conninfo(conninfo) { Connect(); }

  // From another thread: the statement running now fails soon.
  void Cancel() {
    std::lock_guard<std::mutex> lock(m_cancelLock);
    char error[256];
    if (m_cancel) PQcancel(m_cancel.get(), error, sizeof error);
  }

  // Runs one statement; a broken connection is opened again once.
  PgResult Run(const std::string& sql, const std::vector<Cell>& params, bool retry = true) {
    std::vector<const char*> values;
    for (const Cell& c : params) values.push_back(c ? c->c_str() : nullptr);
    PgResult res(PQexecParams(m_conn.get(), sql.c_str(), static_cast<int>(values.size()), nullptr, values.data(),
                              nullptr, nullptr, 0));
    const ExecStatusType st = PQresultStatus(res.get());
    if (st == PGRES_COMMAND_OK || st == PGRES_TUPLES_OK) return res;
    std::string message = PQerrorMessage(m_conn.get());
    // Classes 22 (data), 23 (constraints), 54 (limits: an index row too
    // long) and P0 (raised by a trigger) belong to the row.
    const char* state = PQresultErrorField(res.get(), PG_DIAG_SQLSTATE);
    const std::string cls = state ? std::string(state, std::min<size_t>(2, std::strlen(state))) : "";
    const bool rowFault = cls == "22" || cls == "23" || cls == "54" || cls == "P0";
    res.reset();
    if (retry && PQstatus(m_conn.get()) != CONNECTION_OK) {
      PQreset(m_conn.get());
      KeepCancel();
      if (PQstatus(m_conn.get()) == CONNECTION_OK) return Run(sql, params, false);
    }
    throw StoreError("postgresql: " + message, rowFault);
  }
  void Exec(const std::string& sql) { Run(sql, {}); }

 private:
  void Connect() {
    m_conn.reset(PQconnectdb(m_conninfo.c_str()));
    if (PQstatus(m_conn.get()) != CONNECTION_OK) {
      std::string message = PQerrorMessage(m_conn.get());
      m_conn.reset();
      throw StoreError("cannot connect to postgresql: " + message);
    }
    PgResult(PQexec(m_conn.get(), "SET client_min_messages = warning"));
    KeepCancel();
  }
  void KeepCancel() {
    std::lock_guard<std::mutex> lock(m_cancelLock);
    m_cancel.reset(PQgetCancel(m_conn.get()));
  }
  std::string m_conninfo;
  PgConn m_conn;
  std::mutex m_cancelLock;
  PgCancel m_cancel;  // of m_conn
};

class PostgresStore : public Store {
 public:
  explicit PostgresStore(const std::string& conninfo) : m_conninfo(conninfo), m_write(conninfo) {
    // Servers sharing the database may start together; the lock keeps their
    // CREATE statements apart.
    m_write.Exec("SELECT pg_advisory_lock(4711017)");
    try {
      bool oldTable = false, noPeerBytes = false;
      try {
        m_write.Exec(kHasReports);
        try {
          m_write.Exec(kHasGameNumbers);
        } catch (const StoreError&) {
          oldTable = true;
        }
        try {
          m_write.Exec(kHasPeerBytes);
        } catch (const StoreError&) {
          noPeerBytes = true;
        }
      } catch (const StoreError&) {
      }
      const auto migrate = [this](const char* const* statements) {
        m_write.Exec("BEGIN");
        try {
          for (const char* const* s = statements; *s; ++s) m_write.Exec(*s);
          m_write.Exec("COMMIT");
        } catch (...) {
          m_write.Exec("ROLLBACK");
          throw;
        }
      };
      if (oldTable) migrate(kAddGameNumbers);
      if (noPeerBytes) migrate(kAddPeerBytes);
      for (const std::string& statement : Schema()) m_write.Exec(statement);
    } catch (...) {
      m_write.Exec("SELECT pg_advisory_unlock(4711017)");
      throw;
    }
    m_write.Exec("SELECT pg_advisory_unlock(4711017)");
  }

  // One multi-row INSERT per chunk: a round trip per row would cap the rate.
  static constexpr size_t kChunk = 500;
  void InsertChunk(const std::vector<Report>& reports, size_t at, std::map<std::string, std::string>& fresh) {
    const std::string head = Numbered(kInsertReport).substr(0, std::string(kInsertReport).find(" VALUES"));
    std::string sql = head + " VALUES ";
    std::vector<Cell> params;
    int n = 0;
    for (size_t i = at; i < reports.size() && i < at + kChunk; ++i) {
      std::vector<Cell> p = ReportParams(reports[i], GameNumber(reports[i], fresh));
      sql += (i == at ? "(" : ",(");
      for (size_t k = 0; k < p.size(); ++k) sql += (k ? ",$" : "$") + std::to_string(++n);
      sql += ")";
      for (Cell& c : p) params.push_back(std::move(c));
    }
    m_write.Run(sql, params, false);
  }

  void InsertBatch(const std::vector<Report>& reports, const JournalMark& mark) override {
    WithMark(mark, [&](std::map<std::string, std::string>& fresh) {
      for (size_t at = 0; at < reports.size(); at += kChunk) InsertChunk(reports, at, fresh);
    });
  }

  // Chunk by chunk as InsertBatch; a chunk the database refuses is stored a
  // row at a time.
  size_t InsertEach(const std::vector<Report>& reports, const JournalMark& mark) override {
    size_t quarantined = 0;
    WithMark(mark, [&](std::map<std::string, std::string>& fresh) {
      for (size_t at = 0; at < reports.size(); at += kChunk) {
        const std::map<std::string, std::string> before = fresh;
        m_write.Exec("SAVEPOINT chunk");
        try {
          InsertChunk(reports, at, fresh);
          m_write.Exec("RELEASE SAVEPOINT chunk");
          continue;
        } catch (const StoreError& e) {
          if (!e.rowFault) throw;
        }
        m_write.Exec("ROLLBACK TO SAVEPOINT chunk");
        m_write.Exec("RELEASE SAVEPOINT chunk");
        fresh = before;
        const std::vector<Report> chunk(reports.begin() + static_cast<std::ptrdiff_t>(at),
                                        reports.begin() + static_cast<std::ptrdiff_t>(std::min(reports.size(), at + kChunk)));
        quarantined += InsertEachIn(
            chunk,
            [this](const Report& r, const Cell& gameNo) {
              m_write.Run(Numbered(kInsertReport), ReportParams(r, gameNo), false);
            },
            [this](const char* sql) { m_write.Run(sql, {}, false); }, fresh);
      }
    });
    return quarantined;
  }

  // One transaction: what `body` inserts, then the journal's mark; nothing of
  // it stays when anything fails.
  template <class Body>
  void WithMark(const JournalMark& mark, Body body) {
    m_write.Exec("BEGIN");
    std::map<std::string, std::string> fresh;
    try {
      body(fresh);
      m_write.Run(Numbered(kSaveMark), MarkParams(mark), false);
      m_write.Exec("COMMIT");
    } catch (...) {
      try {
        m_write.Exec("ROLLBACK");
      } catch (const StoreError&) {
      }
      throw;
    }
    KeepGameNumbers(fresh);
  }

  void Interrupt() override { m_write.Cancel(); }

  int64_t Execute(const std::string& sql, const std::vector<Cell>& params) override {
    const PgResult res = m_write.Run(Numbered(sql), params);
    const char* n = PQcmdTuples(res.get());
    return (n && *n) ? std::stoll(n) : 0;
  }

  std::vector<Row> Query(const std::string& sql, const std::vector<Cell>& params) override {
    std::unique_ptr<PgConnection> conn;
    {
      std::lock_guard<std::mutex> lock(m_readLock);
      if (!m_idle.empty()) {
        conn = std::move(m_idle.back());
        m_idle.pop_back();
      }
    }
    if (!conn) conn = std::make_unique<PgConnection>(m_conninfo);
    PgResult res;
    try {
      res = conn->Run(Numbered(sql), params);
    } catch (...) {
      GiveBack(std::move(conn));
      throw;
    }
    GiveBack(std::move(conn));
    return Rows(res);
  }

  const char* Kind() const override { return "postgresql"; }

 protected:
  std::vector<Row> WriteQuery(const std::string& sql, const std::vector<Cell>& params) override {
    return Rows(m_write.Run(Numbered(sql), params, false));
  }

 private:
  void GiveBack(std::unique_ptr<PgConnection> conn) {
    std::lock_guard<std::mutex> lock(m_readLock);
    m_idle.push_back(std::move(conn));
  }

  std::string m_conninfo;
  PgConnection m_write;
  std::mutex m_readLock;
  std::vector<std::unique_ptr<PgConnection>> m_idle;  // read connections
};

}  // namespace

std::unique_ptr<Store> OpenPostgresStore(const std::string& conninfo) {
  return std::make_unique<PostgresStore>(conninfo);
}

#pragma once

#include <libpq-fe.h>
#include <sqlite3.h>

#include <memory>

// The one owner of each database handle kind: the handle is given back with
// its library's function when the owner goes, whichever way the code leaves.
template <auto Release>
struct ReleaseWith {
  template <class Handle>
  void operator()(Handle* handle) const {
    Release(handle);
  }
};

// A connection's statements must go before it (declare them after it).
using SqliteDb = std::unique_ptr<sqlite3, ReleaseWith<sqlite3_close>>;
using SqliteStatement = std::unique_ptr<sqlite3_stmt, ReleaseWith<sqlite3_finalize>>;

using PgConn = std::unique_ptr<PGconn, ReleaseWith<PQfinish>>;
using PgResult = std::unique_ptr<PGresult, ReleaseWith<PQclear>>;
using PgCancel = std::unique_ptr<PGcancel, ReleaseWith<PQfreeCancel>>;

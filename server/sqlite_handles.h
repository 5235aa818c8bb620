#pragma once

#include <sqlite3.h>

#include <memory>

// The one owner of each SQLite handle kind: a connection is closed and a
// statement finalized when its owner goes, whichever way the code leaves.
// A connection's statements must go before it (declare them after it).
struct SqliteClose {
  void operator()(sqlite3* db) const { sqlite3_close(db); }
};
struct SqliteFinalize {
  void operator()(sqlite3_stmt* st) const { sqlite3_finalize(st); }
};
using SqliteDb = std::unique_ptr<sqlite3, SqliteClose>;
using SqliteStatement = std::unique_ptr<sqlite3_stmt, SqliteFinalize>;

#pragma once

#include <libpq-fe.h>

#include <memory>

// The one owner of each PostgreSQL handle kind: a result is cleared, a
// connection finished and a cancel handle freed when its owner goes.
struct PgClear {
  void operator()(PGresult* res) const { PQclear(res); }
};
struct PgFinish {
  void operator()(PGconn* conn) const { PQfinish(conn); }
};
struct PgFreeCancel {
  void operator()(PGcancel* cancel) const { PQfreeCancel(cancel); }
};
using PgResult = std::unique_ptr<PGresult, PgClear>;
using PgConn = std::unique_ptr<PGconn, PgFinish>;
using PgCancel = std::unique_ptr<PGcancel, PgFreeCancel>;

#include "store.h"

const char* const kSchema[] = {
    "CREATE TABLE IF NOT EXISTS reports ("
    " received BIGINT NOT NULL,"  // milliseconds since the epoch
    " day INTEGER NOT NULL,"      // received / 86400000, for the per-day figures
    " client TEXT NOT NULL,"
    " path TEXT NOT NULL,"
    " query TEXT NOT NULL,"
    " action TEXT, tg TEXT, cg TEXT, cwdm TEXT, game TEXT, mid TEXT, ver TEXT,"
    " malformed INTEGER NOT NULL)",
    // Each figure of the dashboard reads one of these alone, without the
    // table: the funnel the first, the per-day counts and the versions in use
    // the second, the count of malformed reports the third (a small one).
    "CREATE INDEX IF NOT EXISTS reports_funnel ON reports (game, action, cg, mid)",
    "CREATE INDEX IF NOT EXISTS reports_days ON reports (game, day, action, cg, ver, mid)",
    "CREATE INDEX IF NOT EXISTS reports_malformed ON reports (game) WHERE malformed = 1",
    // How far each server's journal is stored (one row per journal).
    "CREATE TABLE IF NOT EXISTS journal_marks ("
    " journal TEXT PRIMARY KEY, generation BIGINT NOT NULL, position BIGINT NOT NULL)",
    nullptr,
};

const char kInsertReport[] =
    "INSERT INTO reports (received, day, client, path, query, action, tg, cg, cwdm, game, mid, ver, malformed)"
    " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";

const char kSaveMark[] =
    "INSERT INTO journal_marks (journal, generation, position) VALUES (?, ?, ?)"
    " ON CONFLICT (journal) DO UPDATE SET generation = excluded.generation, position = excluded.position";

std::vector<Cell> MarkParams(const JournalMark& mark) {
  return {mark.journal, std::to_string(mark.generation), std::to_string(mark.position)};
}

JournalMark Store::ReadMark(const std::string& id) {
  JournalMark mark;
  mark.journal = id;
  const std::vector<Row> rows = Query("SELECT generation, position FROM journal_marks WHERE journal = ?", {id});
  if (!rows.empty() && rows[0].size() == 2 && rows[0][0] && rows[0][1]) {
    mark.generation = std::stoll(*rows[0][0]);
    mark.position = std::stoll(*rows[0][1]);
  }
  return mark;
}

std::vector<Cell> ReportParams(const Report& r) {
  auto field = [](const Report::Field& f) -> Cell { return f.has ? Cell(f.value) : std::nullopt; };
  return {std::to_string(r.receivedMs), std::to_string(r.receivedMs / 86400000), r.client, r.path, r.query,
          field(r.action), field(r.tg), field(r.cg), field(r.cwdm), field(r.game), field(r.mid), field(r.ver),
          std::string(r.malformed ? "1" : "0")};
}

std::unique_ptr<Store> OpenStore(const std::string& where) {
  if (where.rfind("postgresql://", 0) == 0 || where.rfind("postgres://", 0) == 0) return OpenPostgresStore(where);
  return OpenSqliteStore(where);
}

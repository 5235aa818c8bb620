#include "store_sql.h"

const char kInsertReport[] =
    "INSERT INTO reports (received, day, client, path, query, action, tg, cg, cwdm, game, mid, ver, malformed, game_no,"
    " pb, ps) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";

// Numbers are given by the servers themselves (the same SQL on both
// databases); two servers numbering a new game at once make one of their
// batches fail, and it is stored again with the other's number.
const char kAddGame[] =
    "INSERT INTO games (no, game) SELECT COALESCE(MAX(no), 0) + 1, ? FROM games WHERE 1 = 1"
    " ON CONFLICT (game) DO NOTHING";
const char kGameNo[] = "SELECT no FROM games WHERE game = ?";

const char kQuarantine[] = "INSERT INTO quarantine (received, client, target, reason) VALUES (?, ?, ?, ?)";

const char kSaveMark[] =
    "INSERT INTO journal_marks (journal, generation, position) VALUES (?, ?, ?)"
    " ON CONFLICT (journal) DO UPDATE SET generation = excluded.generation, position = excluded.position";
const char kReadMark[] = "SELECT generation, position FROM journal_marks WHERE journal = ?";

const char kDeleteBefore[] = "DELETE FROM reports WHERE received < ?";

std::vector<Cell> MarkParams(const JournalMark& mark) {
  return {mark.journal, std::to_string(mark.generation), std::to_string(mark.position)};
}

std::vector<Cell> ReportParams(const Report& r, const Cell& gameNo) {
  auto field = [](const Report::Field& f) -> Cell { return f.has ? Cell(f.value) : std::nullopt; };
  return {std::to_string(r.receivedMs), std::to_string(r.receivedMs / 86400000), r.client, r.path, r.query,
          field(r.action), field(r.tg), field(r.cg), field(r.cwdm), field(r.game), field(r.mid), field(r.ver),
          std::string(r.malformed ? "1" : "0"), gameNo, field(r.pb), field(r.ps)};
}

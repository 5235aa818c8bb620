#include "store.h"

const char* const kSchema[] = {
    "CREATE TABLE IF NOT EXISTS reports ("
    " received BIGINT NOT NULL,"  // milliseconds since the epoch
    " day INTEGER NOT NULL,"      // received / 86400000, for the per-day figures
    " client TEXT NOT NULL,"
    " path TEXT NOT NULL,"
    " query TEXT NOT NULL,"
    " action TEXT, tg TEXT, cg TEXT, cwdm TEXT, game TEXT, mid TEXT, ver TEXT,"
    " malformed INTEGER NOT NULL,"
    " game_no INTEGER,"  // the game's number in `games`, NULL without a game
    // Bytes from other players and bytes served, of a newer program's
    // "CompleteDownload"; NULL in other and older reports.
    " pb BIGINT, ps BIGINT)",
    // A number for each game text, so that the indexes hold a small number
    // rather than the 38 characters of a game key (stored 40 % faster).
    "CREATE TABLE IF NOT EXISTS games (no INTEGER PRIMARY KEY, game TEXT NOT NULL UNIQUE)",
    // Each figure of the dashboard reads one of these alone, without the
    // table: the funnel the first, the per-day counts and the versions in use
    // the second, the count of malformed reports the third (a small one).
    "CREATE INDEX IF NOT EXISTS reports_funnel ON reports (game_no, action, cg, mid)",
    "CREATE INDEX IF NOT EXISTS reports_days ON reports (game_no, day, action, cg, ver, mid)",
    "CREATE INDEX IF NOT EXISTS reports_malformed ON reports (game_no) WHERE malformed = 1",
    // The sharing figures of finished downloads, read without the table.
    "CREATE INDEX IF NOT EXISTS reports_peers ON reports (game_no, day, pb, ps) WHERE action = '5' AND cg = '1'",
    // Reports the database refused, as they came, with its reason; nothing
    // reads them but the publisher.
    "CREATE TABLE IF NOT EXISTS quarantine ("
    " received BIGINT NOT NULL, client TEXT NOT NULL, target TEXT NOT NULL, reason TEXT NOT NULL)",
    // How far each server's journal is stored (one row per journal).
    "CREATE TABLE IF NOT EXISTS journal_marks ("
    " journal TEXT PRIMARY KEY, generation BIGINT NOT NULL, position BIGINT NOT NULL)",
    nullptr,
};

// A reports table made before games had numbers: the column is added and
// filled, and the indexes that held the game key are made again.
const char* const kAddGameNumbers[] = {
    "ALTER TABLE reports ADD COLUMN game_no INTEGER",
    "CREATE TABLE IF NOT EXISTS games (no INTEGER PRIMARY KEY, game TEXT NOT NULL UNIQUE)",
    "INSERT INTO games (no, game) SELECT COALESCE((SELECT MAX(no) FROM games), 0) + ROW_NUMBER() OVER (ORDER BY game),"
    " game FROM (SELECT DISTINCT game FROM reports WHERE game IS NOT NULL) g WHERE 1 = 1 ON CONFLICT (game) DO NOTHING",
    "UPDATE reports SET game_no = (SELECT no FROM games WHERE games.game = reports.game)",
    "DROP INDEX IF EXISTS reports_funnel",
    "DROP INDEX IF EXISTS reports_days",
    "DROP INDEX IF EXISTS reports_malformed",
    nullptr,
};
const char kHasReports[] = "SELECT 1 FROM reports WHERE 1 = 0";
const char kHasGameNumbers[] = "SELECT game_no FROM reports WHERE 1 = 0";

// A reports table made before the sharing figures: the columns are added,
// NULL in every report it holds.
const char* const kAddPeerBytes[] = {
    "ALTER TABLE reports ADD COLUMN pb BIGINT",
    "ALTER TABLE reports ADD COLUMN ps BIGINT",
    nullptr,
};
const char kHasPeerBytes[] = "SELECT pb, ps FROM reports WHERE 1 = 0";

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

namespace {
// Game numbers kept in memory; a hostile stream of made-up keys empties it
// rather than growing it.
constexpr size_t kMaxGameNumbers = 10000;
}  // namespace

Cell Store::GameNumber(const Report& r, std::map<std::string, std::string>& fresh) {
  // An empty game key is no game, as an absent one.
  if (!r.game.has || r.game.value.empty()) return std::nullopt;
  auto known = m_gameNumbers.find(r.game.value);
  if (known != m_gameNumbers.end()) return known->second;
  auto added = fresh.find(r.game.value);
  if (added != fresh.end()) return added->second;
  WriteQuery(kAddGame, {r.game.value});
  const std::vector<Row> rows = WriteQuery(kGameNo, {r.game.value});
  if (rows.empty() || rows[0].empty() || !rows[0][0]) throw StoreError("no number for game " + r.game.value);
  return fresh[r.game.value] = *rows[0][0];
}

void Store::KeepGameNumbers(std::map<std::string, std::string>& fresh) {
  if (m_gameNumbers.size() + fresh.size() > kMaxGameNumbers) m_gameNumbers.clear();
  m_gameNumbers.insert(fresh.begin(), fresh.end());
  fresh.clear();
}

size_t Store::InsertEachIn(const std::vector<Report>& reports,
                           const std::function<void(const Report&, const Cell&)>& insert,
                           const std::function<void(const char*)>& exec,
                           std::map<std::string, std::string>& fresh) {
  size_t quarantined = 0;
  for (const Report& r : reports) {
    // A second try first: two servers numbering a new game at once fail one
    // of them, and the number is there the next time.
    for (int attempt = 0;; ++attempt) {
      const bool known = fresh.count(r.game.value) > 0;
      exec("SAVEPOINT one_report");
      try {
        insert(r, GameNumber(r, fresh));
        exec("RELEASE SAVEPOINT one_report");
        break;
      } catch (const StoreError& e) {
        if (!e.rowFault) throw;
        exec("ROLLBACK TO SAVEPOINT one_report");
        exec("RELEASE SAVEPOINT one_report");
        if (!known) fresh.erase(r.game.value);
        if (attempt == 0) continue;
        const std::string target = r.query.empty() ? r.path : r.path + "?" + r.query;
        WriteQuery(kQuarantine, {std::to_string(r.receivedMs), r.client, target, CleanText(e.what())});
        ++quarantined;
        break;
      }
    }
  }
  return quarantined;
}

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

std::vector<Cell> ReportParams(const Report& r, const Cell& gameNo) {
  auto field = [](const Report::Field& f) -> Cell { return f.has ? Cell(f.value) : std::nullopt; };
  return {std::to_string(r.receivedMs), std::to_string(r.receivedMs / 86400000), r.client, r.path, r.query,
          field(r.action), field(r.tg), field(r.cg), field(r.cwdm), field(r.game), field(r.mid), field(r.ver),
          std::string(r.malformed ? "1" : "0"), gameNo, field(r.pb), field(r.ps)};
}

std::unique_ptr<Store> OpenStore(const std::string& where) {
  if (where.rfind("postgresql://", 0) == 0 || where.rfind("postgres://", 0) == 0) return OpenPostgresStore(where);
  return OpenSqliteStore(where);
}

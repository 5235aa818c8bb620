#include "schema.h"

#include "sql_words.h"

const std::vector<std::string>& Schema() {
  static const std::vector<std::string> statements = {
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
      "CREATE INDEX IF NOT EXISTS reports_peers ON reports (game_no, day, pb, ps) WHERE " + FinishedDownload(),
      // Reports the database refused, as they came, with its reason; nothing
      // reads them but the publisher.
      "CREATE TABLE IF NOT EXISTS quarantine ("
      " received BIGINT NOT NULL, client TEXT NOT NULL, target TEXT NOT NULL, reason TEXT NOT NULL)",
      // How far each server's journal is stored (one row per journal).
      "CREATE TABLE IF NOT EXISTS journal_marks ("
      " journal TEXT PRIMARY KEY, generation BIGINT NOT NULL, position BIGINT NOT NULL)",
  };
  return statements;
}

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


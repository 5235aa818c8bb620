#include "figures_sql.h"

#include "sql_words.h"

using namespace report_words;

namespace figures_sql {

namespace {

const std::string kInitial = SqlText(kActionInitial.text);
const std::string kStart = SqlText(kActionStartDownload.text);
const std::string kComplete = SqlText(kActionCompleteDownload.text);
const std::string kFailedFlag = SqlText(kFailed);
// The actions of the funnel.
const std::string kMilestones = "action IN (" + kInitial + ", " + kStart + ", " + kComplete + ")";
// The reasons the program sends, and all else as one.
const std::string kReason = "CASE WHEN cwdm IN (" + SqlText(kFailStalled) + ", " + SqlText(kFailCheck) + ", " +
                            SqlText(kFailDownload) + ") THEN cwdm ELSE 'other' END";
const std::string kFailedDownload = "action = " + kComplete + " AND cg = " + kFailedFlag;
const std::string kCompletionFlag = "CASE WHEN action = " + kComplete + " THEN cg END";

}  // namespace

const char kGameFilter[] = " AND game_no = (SELECT no FROM games WHERE game = ?)";

std::string Funnel(const std::string& filter) {
  return "SELECT action, cg, COUNT(DISTINCT mid), game_no FROM reports WHERE " + kMilestones + " AND mid <> ''" +
         filter + " GROUP BY game_no, action, cg";
}

std::string Recount(const std::string& where) {
  return "SELECT COUNT(DISTINCT mid) FROM reports WHERE action = ? AND mid <> '' AND " + where;
}

std::string Unidentified(const std::string& filter) {
  return "SELECT action, " + kCompletionFlag +
         ", COUNT(DISTINCT client || ' ' || COALESCE(ver, '') || ' ' || CAST(day AS TEXT)) FROM reports WHERE " +
         kMilestones + " AND mid = ''" + filter + " GROUP BY game_no, action, " + kCompletionFlag;
}

std::string Failures(const std::string& filter) {
  return "SELECT " + kReason + ", COUNT(*) FROM reports WHERE " + kFailedDownload + filter + " GROUP BY " + kReason +
         " ORDER BY 2 DESC, 1";
}

std::string Days(const std::string& filter) {
  return "SELECT day, SUM(CASE WHEN action = " + kStart + " THEN 1 ELSE 0 END), SUM(CASE WHEN " + FinishedDownload() +
         " THEN 1 ELSE 0 END), SUM(CASE WHEN " + kFailedDownload + " THEN 1 ELSE 0 END) FROM reports WHERE action IN (" +
         kStart + ", " + kComplete + ") AND day >= ?" + filter + " GROUP BY game_no, day";
}

std::string Versions(const std::string& filter, int limit) {
  return "SELECT ver, SUM(n) FROM (SELECT COALESCE(ver, '') AS ver, COUNT(DISTINCT mid) AS n FROM reports WHERE action = " +
         kInitial + " AND mid <> '' AND day >= ?" + filter +
         " GROUP BY game_no, COALESCE(ver, '')) v GROUP BY ver ORDER BY 2 DESC, 1 LIMIT " + std::to_string(limit);
}

std::string Sharing(const std::string& filter, int limit) {
  // The conditions of the index reports_peers.
  return "SELECT r.day, COALESCE(g.game, ''), COUNT(*), SUM(CAST(r.pb AS DOUBLE PRECISION)),"
         " SUM(CAST(r.ps AS DOUBLE PRECISION)) FROM reports r LEFT JOIN games g ON g.no = r.game_no WHERE " +
         FinishedDownload("r.") + " AND r.day >= ?" + filter +
         " GROUP BY r.game_no, r.day, g.game ORDER BY r.day DESC, 3 DESC LIMIT " + std::to_string(limit);
}

std::string Reports(bool game) {
  return std::string("SELECT COUNT(*) FROM reports") + (game ? " WHERE game_no = (SELECT no FROM games WHERE game = ?)" : "");
}

std::string Malformed(const std::string& filter) { return "SELECT COUNT(*) FROM reports WHERE malformed = 1" + filter; }

std::string Games() {
  // Grouped by the bare column so that the index's order does the grouping.
  return "SELECT COALESCE(g.game, ''), r.n FROM (SELECT game_no, COUNT(*) AS n FROM reports GROUP BY game_no) r"
         " LEFT JOIN games g ON g.no = r.game_no ORDER BY 2 DESC, 1 LIMIT 200";
}

}  // namespace figures_sql

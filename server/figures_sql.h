#pragma once

#include <string>

// The dashboard's queries, their words taken from contract/report_words.h.
// `filter` is "" for all games or GameFilter's clause, whose parameter the
// caller appends to the query's others.
namespace figures_sql {

extern const char kGameFilter[];  // " AND game_no = (...)": the game given
// action, cg, players, game_no: the funnel's milestones by game, action and cg.
std::string Funnel(const std::string& filter);
// Players of one action (the parameter) where `where` holds.
std::string Recount(const std::string& where);
// action, cg of a completion, reports without a machine identifier.
std::string Unidentified(const std::string& filter);
// Failure reason (or 'other') and count.
std::string Failures(const std::string& filter);
// day, started, finished, failed; the first parameter is the first day.
std::string Days(const std::string& filter);
// version and players; the first parameter is the first day.
std::string Versions(const std::string& filter, int limit);
// day, game, finished, bytes from players, bytes served of finished
// downloads; the first parameter is the first day.
std::string Sharing(const std::string& filter, int limit);
// All reports, of one game when `game` (its parameter is the game's key).
std::string Reports(bool game);
std::string Malformed(const std::string& filter);
// game key and reports, the most reported first.
std::string Games();

}  // namespace figures_sql

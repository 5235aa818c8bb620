#pragma once

#include <memory>
#include <string>
#include <vector>

#include "journal.h"
#include "report.h"
#include "store.h"

// The statements the SQLite and PostgreSQL stores share (and the ingest's
// retention), and what they bind.
extern const char kInsertReport[];  // 16 parameters, see ReportParams
extern const char kAddGame[];       // game: numbers a new game
extern const char kGameNo[];        // game: its number
extern const char kQuarantine[];    // received, client, target, reason
extern const char kSaveMark[];      // journal, generation, position
extern const char kReadMark[];      // journal
extern const char kDeleteBefore[];  // received: the retention's delete
std::vector<Cell> MarkParams(const JournalMark& mark);
std::vector<Cell> ReportParams(const Report& r, const Cell& gameNo);

// The two stores behind OpenStore.
std::unique_ptr<Store> OpenSqliteStore(const std::string& path);
std::unique_ptr<Store> OpenPostgresStore(const std::string& conninfo);

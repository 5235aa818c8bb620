#include "store.h"

#include "report.h"
#include "store_sql.h"

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

JournalMark Store::ReadMark(const std::string& id) {
  JournalMark mark;
  mark.journal = id;
  const std::vector<Row> rows = Query(kReadMark, {id});
  if (!rows.empty() && rows[0].size() == 2 && rows[0][0] && rows[0][1]) {
    mark.generation = std::stoll(*rows[0][0]);
    mark.position = std::stoll(*rows[0][1]);
  }
  return mark;
}

std::unique_ptr<Store> OpenStore(const std::string& where) {
  if (IsPostgres(where)) return OpenPostgresStore(where);
  return OpenSqliteStore(where);
}

bool IsPostgres(const std::string& where) {
  return where.rfind("postgresql://", 0) == 0 || where.rfind("postgres://", 0) == 0;
}

#include "figures.h"

#include <cstdio>
#include <ctime>

namespace {

// "" for all games, else an AND clause whose parameter the caller appends.
std::string GameFilter(const std::string& game, std::vector<Cell>& params) {
  if (game.empty()) return "";
  params.emplace_back(game);
  return " AND game = ?";
}

int64_t Number(const Cell& c) { return c ? std::stoll(*c) : 0; }

std::vector<Labelled> Labels(const std::vector<Row>& rows) {
  std::vector<Labelled> out;
  for (const Row& r : rows) out.push_back({r[0].value_or(""), Number(r[1])});
  return out;
}

}  // namespace

Funnel QueryFunnel(Store& store, const std::string& game) {
  std::vector<Cell> params;
  const std::string filter = GameFilter(game, params);
  // One pass for the four counts: on a large table this is the query that
  // decides how fast the dashboard opens.
  const auto rows = store.Query(
      "SELECT COUNT(DISTINCT CASE WHEN action = '1' THEN mid END),"
      " COUNT(DISTINCT CASE WHEN action = '2' THEN mid END),"
      " COUNT(DISTINCT CASE WHEN action = '5' AND cg = '1' THEN mid END),"
      " COUNT(DISTINCT CASE WHEN action = '5' AND cg = '0' THEN mid END)"
      " FROM reports WHERE action IN ('1', '2', '5') AND mid <> ''" + filter,
      params);
  Funnel f;
  if (!rows.empty()) {
    f.initial = Number(rows[0][0]);
    f.start = Number(rows[0][1]);
    f.complete = Number(rows[0][2]);
    f.failed = Number(rows[0][3]);
  }
  return f;
}

Figures QueryFigures(Store& store, const std::string& game, int64_t nowMs) {
  Figures f;
  f.funnel = QueryFunnel(store, game);
  {
    std::vector<Cell> params;
    const std::string filter = GameFilter(game, params);
    f.failures = Labels(store.Query("SELECT COALESCE(cwdm, ''), COUNT(*) FROM reports WHERE action = '5' AND cg = '0'" +
                                        filter + " GROUP BY COALESCE(cwdm, '') ORDER BY 2 DESC, 1",
                                    params));
  }
  {
    const int64_t today = nowMs / 86400000;
    std::vector<Cell> params{std::to_string(today - kDays + 1)};
    const std::string filter = GameFilter(game, params);
    const auto rows = store.Query(
        "SELECT day, SUM(CASE WHEN action = '2' THEN 1 ELSE 0 END),"
        " SUM(CASE WHEN action = '5' AND cg = '1' THEN 1 ELSE 0 END),"
        " SUM(CASE WHEN action = '5' AND cg = '0' THEN 1 ELSE 0 END)"
        " FROM reports WHERE action IN ('2', '5') AND day >= ?" + filter + " GROUP BY day ORDER BY day",
        params);
    for (const Row& r : rows) f.days.push_back({Number(r[0]), Number(r[1]), Number(r[2]), Number(r[3])});
  }
  {
    std::vector<Cell> params;
    const std::string filter = GameFilter(game, params);
    f.versions = Labels(store.Query("SELECT COALESCE(ver, ''), COUNT(DISTINCT mid) FROM reports"
                                    " WHERE action = '1' AND mid <> ''" + filter +
                                        " GROUP BY COALESCE(ver, '') ORDER BY 2 DESC, 1 LIMIT 12",
                                    params));
  }
  {
    std::vector<Cell> params;
    std::string where = game.empty() ? "" : " WHERE game = ?";
    if (!game.empty()) params.emplace_back(game);
    const auto rows = store.Query("SELECT COUNT(*), SUM(malformed) FROM reports" + where, params);
    if (!rows.empty()) {
      f.reports = Number(rows[0][0]);
      f.malformed = Number(rows[0][1]);
    }
  }
  return f;
}

std::vector<Labelled> QueryGames(Store& store) {
  return Labels(store.Query("SELECT COALESCE(game, ''), COUNT(*) FROM reports GROUP BY COALESCE(game, '')"
                            " ORDER BY 2 DESC, 1 LIMIT 200",
                            {}));
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string FunnelJson(const Funnel& f) {
  return "{\"initial\": " + std::to_string(f.initial) + ", \"start\": " + std::to_string(f.start) +
         ", \"complete\": " + std::to_string(f.complete) + ", \"failed\": " + std::to_string(f.failed) + "}";
}

namespace {
std::string LabelledJson(const std::vector<Labelled>& items, const char* name) {
  std::string out = "[";
  for (size_t i = 0; i < items.size(); ++i)
    out += (i ? ", {\"" : "{\"") + std::string(name) + "\": " + JsonString(items[i].label) +
           ", \"count\": " + std::to_string(items[i].count) + "}";
  return out + "]";
}
}  // namespace

std::string FiguresJson(const Figures& f) {
  std::string days = "[";
  for (size_t i = 0; i < f.days.size(); ++i) {
    const DayFigures& d = f.days[i];
    char date[16];
    const time_t t = static_cast<time_t>(d.day) * 86400;
    std::tm tm{};
    gmtime_r(&t, &tm);
    std::strftime(date, sizeof date, "%Y-%m-%d", &tm);
    days += (i ? ", " : "") + std::string("{\"date\": \"") + date + "\", \"started\": " + std::to_string(d.started) +
            ", \"finished\": " + std::to_string(d.finished) + ", \"failed\": " + std::to_string(d.failed) + "}";
  }
  days += "]";
  return "{\"funnel\": " + FunnelJson(f.funnel) + ", \"failures\": " + LabelledJson(f.failures, "cwdm") +
         ", \"days\": " + days + ", \"versions\": " + LabelledJson(f.versions, "ver") +
         ", \"reports\": " + std::to_string(f.reports) + ", \"malformed\": " + std::to_string(f.malformed) + "}";
}

std::string GamesJson(const std::vector<Labelled>& games, const std::map<std::string, std::string>& names) {
  std::string out = "[";
  for (size_t i = 0; i < games.size(); ++i) {
    const auto name = names.find(games[i].label);
    out += (i ? ", " : "") + std::string("{\"game\": ") + JsonString(games[i].label) +
           ", \"name\": " + JsonString(name == names.end() ? "" : name->second) +
           ", \"reports\": " + std::to_string(games[i].count) + "}";
  }
  return out + "]";
}

std::string FailureReason(const std::string& cwdm) {
  if (cwdm == "2") return "stalled";
  if (cwdm == "3") return "file check failed";
  if (cwdm == "4") return "download failed";
  if (cwdm.empty()) return "no reason given";
  return "code " + cwdm;
}

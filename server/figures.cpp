#include "figures.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <ctime>

#include "contract/report_words.h"
#include "figures_sql.h"

using namespace report_words;

namespace {

// "" for all games, else an AND clause whose parameter the caller appends.
std::string GameFilter(const std::string& game, std::vector<Cell>& params) {
  if (game.empty()) return "";
  params.emplace_back(game);
  return figures_sql::kGameFilter;
}

int64_t Number(const Cell& c) { return c ? std::stoll(*c) : 0; }

// Sums of byte counts: taken as floating point, so that no number of
// reports makes them overflow (exact up to 2^53 bytes).
double Bytes(const Cell& c) { return c ? std::strtod(c->c_str(), nullptr) : 0; }

Funnel FunnelOf(const std::vector<Row>& rows);

std::vector<Labelled> Labels(const std::vector<Row>& rows) {
  std::vector<Labelled> out;
  for (const Row& r : rows) out.push_back({r[0].value_or(""), Number(r[1])});
  return out;
}

}  // namespace

Funnel QueryFunnel(Store& store, const std::string& game) {
  std::vector<Cell> params;
  const std::string filter = GameFilter(game, params);
  // Grouped in the order of the funnel index, so the distinct count walks the
  // index instead of sorting. Across games the players of each game add up.
  const auto rows = store.Query(figures_sql::Funnel(filter), params);
  // Actions 1 and 2 count a player once whatever cg they carry. The program
  // sends them with one cg value, so a game and action seen with several is
  // rare: only those are counted again across cg, which the index's order
  // does not serve (three times slower).
  std::map<std::pair<Cell, std::string>, int> groups;
  for (const Row& r : rows)
    if (r[0] != std::string(kActionCompleteDownload.text)) ++groups[{r[3], *r[0]}];
  std::vector<Row> out;
  std::map<std::pair<Cell, std::string>, int64_t> recounted;
  for (const auto& [key, n] : groups) {
    if (n < 2) continue;
    const std::string where = key.first ? "game_no = ?" : "game_no IS NULL";
    std::vector<Cell> p{key.second};
    if (key.first) p.push_back(key.first);
    const auto counted = store.Query(figures_sql::Recount(where), p);
    recounted[key] = counted.empty() ? 0 : Number(counted[0][0]);
  }
  for (const Row& r : rows) {
    if (r[0] == std::string(kActionCompleteDownload.text)) {
      out.push_back(r);
      continue;
    }
    const auto again = recounted.find({r[3], *r[0]});
    if (again == recounted.end()) {
      out.push_back({r[0], std::nullopt, r[2]});
    } else if (again->second >= 0) {
      out.push_back({r[0], std::nullopt, std::to_string(again->second)});
      again->second = -1;  // once per game and action
    }
  }
  return FunnelOf(out);
}

Funnel QueryUnidentified(Store& store, const std::string& game) {
  std::vector<Cell> params;
  const std::string filter = GameFilter(game, params);
  return FunnelOf(store.Query(figures_sql::Unidentified(filter), params));
}

namespace {
Funnel FunnelOf(const std::vector<Row>& rows) {
  Funnel f;
  for (const Row& r : rows) {
    const std::string action = r[0].value_or(""), cg = r[1].value_or("");
    const int64_t n = Number(r[2]);
    if (action == kActionInitial.text) f.initial += n;
    else if (action == kActionStartDownload.text) f.start += n;
    else if (cg == std::to_string(kCompleted)) f.complete += n;
    else if (cg == std::to_string(kFailed)) f.failed += n;
  }
  return f;
}
}  // namespace

double SharingFigures::Share() const {
  if (deliveredBytes <= 0) return -1;
  return peerBytesSized / std::max(peerBytesSized, deliveredBytes);
}

void SharingFigures::Add(const SharingFigures& other) {
  finished += other.finished;
  peerBytes += other.peerBytes;
  servedBytes += other.servedBytes;
  deliveredBytes += other.deliveredBytes;
  peerBytesSized += other.peerBytesSized;
}

Figures QueryFigures(Store& store, const std::string& game, int64_t nowMs,
                     const std::map<std::string, uint64_t>& sizes) {
  // Each figure is its own query on its own connection; they run side by
  // side, so the page takes about as long as the slowest of them.
  Figures f;
  auto funnel = std::async(std::launch::async, [&] { return QueryFunnel(store, game); });
  auto unidentified = std::async(std::launch::async, [&] { return QueryUnidentified(store, game); });
  auto failures = std::async(std::launch::async, [&] {
    std::vector<Cell> params;
    const std::string filter = GameFilter(game, params);
    return Labels(store.Query(figures_sql::Failures(filter), params));
  });
  const std::string since = std::to_string(nowMs / 86400000 - kDays + 1);
  auto days = std::async(std::launch::async, [&] {
    std::vector<Cell> params{since};
    const std::string filter = GameFilter(game, params);
    return store.Query(figures_sql::Days(filter), params);
  });
  auto versions = std::async(std::launch::async, [&] {
    // Players by the version they ran in the last kDays days.
    std::vector<Cell> params{since};
    const std::string filter = GameFilter(game, params);
    return store.Query(figures_sql::Versions(filter, kVersions), params);
  });
  auto sharing = std::async(std::launch::async, [&] {
    std::vector<Cell> params{since};
    const std::string filter = GameFilter(game, params);
    return store.Query(figures_sql::Sharing(filter, kSharingRows), params);
  });
  {
    std::map<int64_t, DayFigures> byDay;
    const auto rows = days.get();
    for (const Row& r : rows) {
      DayFigures& d = byDay[Number(r[0])];
      d.day = Number(r[0]);
      d.started += Number(r[1]);
      d.finished += Number(r[2]);
      d.failed += Number(r[3]);
    }
    for (const auto& entry : byDay) f.days.push_back(entry.second);
  }
  for (const Row& r : sharing.get()) {
    SharingFigures s;
    s.day = Number(r[0]);
    s.game = r[1].value_or("");
    s.finished = Number(r[2]);
    s.peerBytes = Bytes(r[3]);
    s.servedBytes = Bytes(r[4]);
    const auto size = sizes.find(s.game);
    if (size != sizes.end()) {
      s.deliveredBytes = static_cast<double>(size->second) * static_cast<double>(s.finished);
      s.peerBytesSized = s.peerBytes;
    }
    f.sharingTotal.Add(s);
    f.sharing.push_back(s);
  }
  std::sort(f.sharing.begin(), f.sharing.end(), [](const SharingFigures& a, const SharingFigures& b) {
    return a.day != b.day ? a.day < b.day : a.game < b.game;
  });
  f.versions = Labels(versions.get());
  f.unidentified = unidentified.get();
  {
    std::vector<Cell> params;
    if (!game.empty()) params.emplace_back(game);
    auto rows = store.Query(figures_sql::Reports(!game.empty()), params);
    if (!rows.empty()) f.reports = Number(rows[0][0]);
    std::vector<Cell> malformedParams;
    const std::string filter = GameFilter(game, malformedParams);
    rows = store.Query(figures_sql::Malformed(filter), malformedParams);
    if (!rows.empty()) f.malformed = Number(rows[0][0]);
  }
  f.funnel = funnel.get();
  f.failures = failures.get();
  return f;
}

std::vector<Labelled> QueryGames(Store& store) {
  return Labels(store.Query(figures_sql::Games(), {}));
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

namespace {
std::string DateOf(int64_t day) {
  char date[16];
  const time_t t = static_cast<time_t>(day) * 86400;
  std::tm tm{};
  gmtime_r(&t, &tm);
  std::strftime(date, sizeof date, "%Y-%m-%d", &tm);
  return date;
}

std::string SharingJson(const SharingFigures& s) {
  char buf[256];
  const double share = s.Share();
  char shareText[32] = "null";
  if (share >= 0) std::snprintf(shareText, sizeof shareText, "%.4f", share);
  std::snprintf(buf, sizeof buf,
                "\"finished\": %lld, \"peerBytes\": %.0f, \"servedBytes\": %.0f, \"deliveredBytes\": %.0f, \"share\": %s",
                static_cast<long long>(s.finished), s.peerBytes, s.servedBytes, s.deliveredBytes, shareText);
  return buf;
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
  std::string sharing = "{" + SharingJson(f.sharingTotal) + ", \"days\": [";
  for (size_t i = 0; i < f.sharing.size(); ++i)
    sharing += (i ? ", " : "") + std::string("{\"date\": \"") + DateOf(f.sharing[i].day) +
               "\", \"game\": " + JsonString(f.sharing[i].game) + ", " + SharingJson(f.sharing[i]) + "}";
  sharing += "]}";
  return "{\"funnel\": " + FunnelJson(f.funnel) + ", \"unidentified\": " + FunnelJson(f.unidentified) +
         ", \"failures\": " + LabelledJson(f.failures, "cwdm") +
         ", \"days\": " + days + ", \"versions\": " + LabelledJson(f.versions, "ver") +
         ", \"reports\": " + std::to_string(f.reports) + ", \"malformed\": " + std::to_string(f.malformed) +
         ", \"sharing\": " + sharing + "}";
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
  if (cwdm == std::to_string(kFailStalled)) return "stalled";
  if (cwdm == std::to_string(kFailCheck)) return "file check failed";
  if (cwdm == std::to_string(kFailDownload)) return "download failed";
  return "other or no reason";
}

#include "service.h"

#include <future>

#include "dashboard.h"
#include "figures.h"
#include "log.h"
#include "report.h"

namespace {

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// When the cores are all busy, storing what was answered comes before
// answering more: the event loops yield to the ingest thread (and the
// queries), which otherwise fall behind while the journal grows. On an
// idle machine the value changes nothing.
constexpr int kLoopNice = 8;
constexpr int kWorkers = 4;

HttpAnswer Json(const std::string& text) { return HttpAnswer{200, text + "\n", "application/json"}; }

}  // namespace

std::string ClientAddress(const std::string& socketAddress, const std::string& forwardedFor,
                          const std::string& trustedProxy) {
  if (trustedProxy.empty() || socketAddress != trustedProxy) return socketAddress;
  const size_t comma = forwardedFor.rfind(',');
  std::string last = forwardedFor.substr(comma == std::string::npos ? 0 : comma + 1);
  const size_t start = last.find_first_not_of(" \t"), end = last.find_last_not_of(" \t");
  return start == std::string::npos ? std::string() : NormalAddress(last.substr(start, end - start + 1));
}

Service::Service(const Options& options, const GameDirectory& games, const std::set<std::string>& reportPaths,
                 Store& store, Journal& journal, Ingest& ingest)
    : m_options(options),
      m_games(games),
      m_reportPaths(reportPaths),
      m_store(store),
      m_journal(journal),
      m_ingest(ingest),
      m_mirrors(options.mirrors),
      m_http(options.threads, kWorkers, kLoopNice, Routes()) {}

std::vector<HttpRoute> Service::Routes() {
  using Speed = HttpRoute::Speed;
  // With --dashboard-listen, the first address takes reports and seed
  // queries only, the second the dashboard only.
  const int reportsAt = 0;
  const int dashboardAt = m_options.dashboardHost.empty() ? 0 : 1;
  std::vector<HttpRoute> routes;
  for (const std::string& path : m_reportPaths)
    routes.push_back({path, Speed::kQuick, [this](const HttpRequest& req) { return AnswerReport(req); }, reportsAt});
  routes.push_back({"/seed", Speed::kQuick, [this](const HttpRequest& req) { return AnswerSeed(req); }, reportsAt});
  routes.push_back({"/", Speed::kQuick, [](const HttpRequest&) { return HttpAnswer{302, "", "text/plain", "/dashboard"}; },
                    dashboardAt});
  routes.push_back({"/api/server", Speed::kSlow, [this](const HttpRequest& req) { return AnswerCounts(req); }, dashboardAt});
  const auto figures = [this](std::function<HttpAnswer(const std::string&)> compute) {
    return [this, compute](const HttpRequest& req) { return AnswerFigures(req, compute); };
  };
  routes.push_back({"/api/funnel", Speed::kSlow,
                    figures([this](const std::string& game) { return Json(FunnelJson(QueryFunnel(m_store, game))); }),
                    dashboardAt});
  routes.push_back({"/api/figures", Speed::kSlow, figures([this](const std::string& game) {
                      return Json(FiguresJson(QueryFigures(m_store, game, NowMs(), m_games.sizes)));
                    }),
                    dashboardAt});
  routes.push_back({"/api/games", Speed::kSlow,
                    figures([this](const std::string&) { return Json(GamesJson(QueryGames(m_store), m_games.names)); }),
                    dashboardAt});
  const auto page = figures([this](const std::string& game) {
    auto list = std::async(std::launch::async,
                           [&] { return game.empty() ? QueryGames(m_store) : std::vector<Labelled>{}; });
    const ::Figures f = QueryFigures(m_store, game, NowMs(), m_games.sizes);
    return HttpAnswer{200, RenderDashboard(game, f, list.get(), m_games.names), "text/html; charset=utf-8"};
  });
  routes.push_back({"/dashboard", Speed::kSlow, page, dashboardAt});
  routes.push_back({"/dashboard/", Speed::kSlow, page, dashboardAt});
  return routes;
}

bool Service::Listen() {
  const int port = m_http.Bind(m_options.host, m_options.port);
  if (port == 0) {
    Log("cannot listen on %s:%d (in use, or not an address of this machine)", m_options.host.c_str(), m_options.port);
    return false;
  }
  const bool ownDashboard = !m_options.dashboardHost.empty();
  int dashboardPort = 0;
  if (ownDashboard && (dashboardPort = m_http.Bind(m_options.dashboardHost, m_options.dashboardPort, 1)) == 0) {
    Log("cannot listen on %s:%d (in use, or not an address of this machine)", m_options.dashboardHost.c_str(),
        m_options.dashboardPort);
    return false;
  }
  std::string paths;
  for (const std::string& p : m_reportPaths) paths += (paths.empty() ? "" : " ") + p;
  Log("listening on http://%s:%d/ (reports on %s, database %s %s)", m_options.host.c_str(), port, paths.c_str(),
      m_store.Kind(), m_options.db.rfind("postgres", 0) == 0 ? "(connection string)" : m_options.db.c_str());
  if (ownDashboard)
    Log("dashboard and /api/ on http://%s:%d/dashboard only", m_options.dashboardHost.c_str(), dashboardPort);
  return true;
}

HttpAnswer Service::AnswerReport(const HttpRequest& req) {
  if (req.head) return HttpAnswer{405, "reports are sent with GET\n"};
  // Parsed in full where it is stored; the answer only says whether it is well formed.
  const bool malformed = ReportMalformed(req.target);
  ++m_received;
  if (malformed) ++m_malformed;
  // Behind the trusted proxy, a report without a forwarded address keeps the proxy's.
  const std::string client = ClientAddress(req.client, req.forwardedFor, m_options.trustProxy);
  if (!m_journal.Append(NowMs(), client.empty() ? req.client : client, req.target)) {
    ++m_unstored;
    return HttpAnswer{503, "not stored, try again\n"};
  }
  m_ingest.Poke();
  return malformed ? HttpAnswer{400, "malformed report kept\n"} : HttpAnswer{200, "ok\n"};
}

HttpAnswer Service::AnswerSeed(const HttpRequest& req) {
  ++m_seeds;
  std::string answer = m_options.mirrors.empty() ? "" : m_mirrors.Answer(req.Param("h1"), req.Param("name"));
  // A newer engine names the file by its SHA-256 and, when it shares, its
  // port: it becomes a peer of the file and hears of others.
  const std::string file = PeerBook::FileKey(req.Param("sha256"));
  if (!file.empty()) {
    const std::string portText = req.Param("port");
    const long port = portText.size() <= 5 && !portText.empty() &&
                              portText.find_first_not_of("0123456789") == std::string::npos
                          ? std::stol(portText)
                          : 0;
    // Behind the trusted proxy, an asker without a forwarded address is
    // answered but not kept: the proxy's address would name nobody.
    const std::string client = ClientAddress(req.client, req.forwardedFor, m_options.trustProxy);
    const uint16_t sharing = port > 0 && port <= 65535 && !client.empty() ? static_cast<uint16_t>(port) : 0;
    for (const PeerBook::Peer& peer : m_peers.Meet(file, client, sharing, NowMs())) answer += PeerBook::Line(peer);
  }
  return HttpAnswer{200, answer};
}

HttpAnswer Service::AnswerCounts(const HttpRequest& req) {
  if (!m_ingest.WaitStored(m_journal.Now(), 2000))
    Log("%s: answering before the last reports are stored", req.path.c_str());
  return Json("{\"received\": " + std::to_string(m_received.load()) + ", \"malformed\": " +
              std::to_string(m_malformed.load()) + ", \"stored\": " + std::to_string(m_ingest.Stored()) +
              ", \"quarantined\": " + std::to_string(m_ingest.Quarantined()) +
              ", \"unstored\": " + std::to_string(m_unstored.load()) + ", \"seed\": " + std::to_string(m_seeds.load()) +
              ", \"dropped\": " + std::to_string(m_http.Dropped()) + ", \"busy\": " + std::to_string(m_http.Refused()) +
              ", \"db\": \"" + m_store.Kind() + "\"}");
}

HttpAnswer Service::AnswerFigures(const HttpRequest& req,
                                  const std::function<HttpAnswer(const std::string& game)>& compute) {
  // Stored game keys are clean text; so is what is looked up.
  const std::string game = CleanText(req.Param("game"));
  const std::string key = req.path + "\n" + game;
  const Journal::Tip tip = m_journal.Now();
  {
    std::unique_lock<std::mutex> lock(m_computedLock);
    // The same figures being computed by another worker: wait for them
    // rather than count them twice.
    const bool waited = m_computing.count(key) > 0;
    m_computedWake.wait(lock, [&] { return m_computing.count(key) == 0; });
    const auto found = m_computed.find(key);
    if (found != m_computed.end()) {
      const auto age = std::chrono::steady_clock::now() - found->second.at;
      const bool same = found->second.tip.generation == tip.generation && found->second.tip.end == tip.end;
      if ((same && age < std::chrono::seconds(15)) || (age < std::chrono::seconds(3) && (waited || m_http.Queued() > 0)))
        return found->second.answer;
    }
    m_computing.insert(key);
  }
  struct Done {
    Service& service;
    const std::string& key;
    ~Done() {
      {
        std::lock_guard<std::mutex> guard(service.m_computedLock);
        service.m_computing.erase(key);
      }
      service.m_computedWake.notify_all();
    }
  } done{*this, key};
  if (!m_ingest.WaitStored(tip, 2000)) Log("%s: answering before the last reports are stored", req.path.c_str());
  const HttpAnswer answer = compute(game);
  std::lock_guard<std::mutex> lock(m_computedLock);
  if (m_computed.size() >= 256) m_computed.clear();
  m_computed[key] = Computed{answer, tip, std::chrono::steady_clock::now()};
  return answer;
}

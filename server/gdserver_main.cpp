// gdserver: receives the downloader's statistics reports, answers its seed
// queries and shows the figures as a dashboard.
#include <pthread.h>
#include <sys/resource.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <condition_variable>
#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <memory>
#include <set>
#include <string>
#include <thread>

#include "dashboard.h"
#include "figures.h"
#include "games.h"
#include "http_server.h"
#include "ingest.h"
#include "journal.h"
#include "log.h"
#include "mirrors.h"
#include "peer_book.h"
#include "report.h"
#include "store.h"

namespace {

const char kUsage[] =
    "usage: gdserver [--listen HOST:PORT] [--db FILE|postgresql://...] [--mirrors FILE]\n"
    "                [--configs DIR] [--report-path PATH]... [--retention-days N] [--threads N]\n"
    "                [--journal FILE] [--journal-max-kib N] [--dashboard-listen HOST:PORT]\n"
    "  --listen          address to serve on (default 127.0.0.1:8080; port 0 picks a free one)\n"
    "  --dashboard-listen  serve /dashboard and /api/ only on this address (it has no login:\n"
    "                    keep it private, e.g. 127.0.0.1:8081), reports and /seed only on --listen\n"
    "  --db              SQLite file (default gdserver.sqlite) or a PostgreSQL connection string\n"
    "  --mirrors         mirrors file for GET /seed: \"<file name or h1> <base URL>\" a line\n"
    "  --configs         folder of <game key>.html configurations: game names and report paths\n"
    "  --report-path     a path that takes reports (default /s.php; DomainName paths are added)\n"
    "  --retention-days  delete reports older than N days (checked hourly)\n"
    "  --threads         event loops, each on a thread of its own (default: one per core)\n"
    "  --journal         file where reports wait for the database (default: the SQLite file\n"
    "                    + .incoming, or gdserver.incoming for PostgreSQL); one per server\n"
    "  --journal-max-kib empty the journal when more than this much of it is stored (default 65536)\n";

struct Options {
  std::string host = "127.0.0.1";
  int port = 8080;
  std::string db = "gdserver.sqlite";
  std::string mirrors;
  std::string configs;
  std::set<std::string> reportPaths;
  int retentionDays = 0;
  int threads = 0;  // one per core
  std::string journal;
  int journalMaxKib = 65536;
  std::string dashboardHost;  // empty: the dashboard is served on --listen
  int dashboardPort = 0;
};

[[noreturn]] void Usage(const char* message) {
  if (message) std::fprintf(stderr, "gdserver: %s\n", message);
  std::fputs(kUsage, stderr);
  std::exit(2);
}

int ParseInt(const char* text, int low, int high, const char* what) {
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (!*text || *end || v < low || v > high) Usage((std::string("bad ") + what + ": " + text).c_str());
  return static_cast<int>(v);
}

Options ParseArgs(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "-h" || a == "--help") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    }
    if (i + 1 >= argc) Usage(("missing value for " + a).c_str());
    const char* v = argv[++i];
    if (a == "--listen" || a == "--dashboard-listen") {
      const std::string s = v;
      const size_t colon = s.rfind(':');
      if (colon == std::string::npos || colon == 0) Usage((a + " wants HOST:PORT").c_str());
      (a == "--listen" ? o.host : o.dashboardHost) = s.substr(0, colon);
      (a == "--listen" ? o.port : o.dashboardPort) = ParseInt(s.c_str() + colon + 1, 0, 65535, "port");
    } else if (a == "--db") {
      o.db = v;
    } else if (a == "--mirrors") {
      o.mirrors = v;
    } else if (a == "--configs") {
      o.configs = v;
    } else if (a == "--report-path") {
      if (v[0] != '/') Usage("--report-path must start with /");
      o.reportPaths.insert(v);
    } else if (a == "--retention-days") {
      o.retentionDays = ParseInt(v, 1, 100000, "--retention-days");
    } else if (a == "--journal") {
      o.journal = v;
    } else if (a == "--journal-max-kib") {
      o.journalMaxKib = ParseInt(v, 1, 1 << 30, "--journal-max-kib");
    } else if (a == "--threads") {
      o.threads = ParseInt(v, 1, 256, "--threads");
    } else {
      Usage(("unknown option " + a).c_str());
    }
  }
  if (o.reportPaths.empty()) o.reportPaths.insert("/s.php");
  if (o.threads == 0) o.threads = static_cast<int>(std::max(1u, std::min(64u, std::thread::hardware_concurrency())));
  return o;
}

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// Paths the server answers itself, which no report path may take.
bool Reserved(const std::string& path) {
  return path == "/" || path == "/seed" || path == "/dashboard" || path == "/dashboard/" || path.rfind("/api/", 0) == 0;
}

bool IsDashboardPath(const std::string& path) {
  return path == "/dashboard" || path == "/dashboard/" || path == "/api/funnel" || path == "/api/figures" ||
         path == "/api/games" || path == "/api/server";
}

std::string DefaultJournal(const std::string& db) {
  if (db.rfind("postgresql://", 0) == 0 || db.rfind("postgres://", 0) == 0) return "gdserver.incoming";
  return db + ".incoming";
}

}  // namespace

int main(int argc, char** argv) {
  Options options = ParseArgs(argc, argv);

  // SIGTERM and SIGINT are taken by one thread with sigwait, so they are
  // blocked before any other thread exists.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);
  // A file-size limit makes the journal refuse reports (answered 503)
  // rather than end the server.
  signal(SIGXFSZ, SIG_IGN);
  // Each connection is a descriptor: take all the system allows.
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
  }

  GameDirectory games;
  if (!options.configs.empty()) games = ReadConfigurations(options.configs);
  std::set<std::string> reportPaths = options.reportPaths;
  reportPaths.insert(games.reportPaths.begin(), games.reportPaths.end());
  for (const std::string& p : reportPaths) {
    if (Reserved(p)) {
      Log("report path %s is one of the server's own pages; give the configuration's DomainName or --report-path "
          "another path", CleanText(p).c_str());
      return 2;
    }
  }

  std::unique_ptr<Store> store;
  std::unique_ptr<Journal> journal;
  try {
    store = OpenStore(options.db);
    journal = std::make_unique<Journal>(options.journal.empty() ? DefaultJournal(options.db) : options.journal);
    // A journal shorter than the database's mark for it would have its
    // records stored a second time.
    const JournalMark mark = store->ReadMark(journal->Id());
    if (mark.generation == journal->Generation() && mark.position > journal->End()) {
      Log("journal %s ends at byte %lld but the database stored it up to byte %lld: it was cut or replaced; "
          "not storing it again (move it away to start with a new journal)",
          (options.journal.empty() ? DefaultJournal(options.db) : options.journal).c_str(),
          static_cast<long long>(journal->End()), static_cast<long long>(mark.position));
      return 1;
    }
  } catch (const std::exception& e) {
    Log("%s", e.what());
    return 1;
  }
  Ingest ingest(*store, *journal, static_cast<int64_t>(options.retentionDays) * 86400000,
                static_cast<int64_t>(options.journalMaxKib) * 1024);
  Mirrors mirrors(options.mirrors);
  PeerBook peers;
  std::atomic<uint64_t> received{0}, malformed{0}, unstored{0}, seeds{0};
  const bool ownDashboard = !options.dashboardHost.empty();

  // When the cores are all busy, storing what was answered comes before
  // answering more: the event loops yield to the ingest thread (and the
  // queries), which otherwise fall behind while the journal grows. On an
  // idle machine the value changes nothing.
  const int kLoopNice = 8;
  HttpServer server(options.threads, 4, kLoopNice);

  // Reports and seed answers are made on the event loops; a report is
  // answered once the journal has it. Pages and figures read the database on
  // a worker, after the reports that came before them are stored.
  auto quick = [&](const HttpRequest& req) -> std::optional<HttpAnswer> {
    const std::string& path = req.path;
    // With --dashboard-listen, the first address takes reports and seed
    // queries only, the second the dashboard only.
    const bool dashboardHere = !ownDashboard || req.listener == 1;
    const bool reportsHere = req.listener == 0;
    if (reportsHere && reportPaths.count(path)) {
      if (req.head) return HttpAnswer{405, "reports are sent with GET\n"};
      const Report report = ParseReportTarget(req.target);
      ++received;
      if (report.malformed) ++malformed;
      if (!journal->Append(NowMs(), req.client, req.target)) {
        ++unstored;
        return HttpAnswer{503, "not stored, try again\n"};
      }
      ingest.Poke();
      return report.malformed ? HttpAnswer{400, "malformed report kept\n"} : HttpAnswer{200, "ok\n"};
    }
    if (reportsHere && path == "/seed") {
      ++seeds;
      std::string answer = options.mirrors.empty() ? "" : mirrors.Answer(req.Param("h1"), req.Param("name"));
      // A newer engine names the file by its SHA-256 and, when it shares, its
      // port: it becomes a peer of the file and hears of others.
      const std::string file = PeerBook::FileKey(req.Param("sha256"));
      if (!file.empty()) {
        const std::string portText = req.Param("port");
        const long port = portText.size() <= 5 && !portText.empty() &&
                                  portText.find_first_not_of("0123456789") == std::string::npos
                              ? std::stol(portText)
                              : 0;
        const uint16_t sharing = port > 0 && port <= 65535 ? static_cast<uint16_t>(port) : 0;
        for (const PeerBook::Peer& peer : peers.Meet(file, req.client, sharing, NowMs())) answer += PeerBook::Line(peer);
      }
      return HttpAnswer{200, answer};
    }
    if (dashboardHere && path == "/") return HttpAnswer{302, "", "text/plain", "/dashboard"};
    if (dashboardHere && IsDashboardPath(path)) return std::nullopt;
    return HttpAnswer{404, "not found\n"};
  };
  // Figures computed lately are answered again: while no report came since
  // (they are exact), or for a few seconds when requests queue up (a crowd
  // reloading the page, or one asking for it over and over).
  struct Computed {
    HttpAnswer answer;
    Journal::Tip tip;
    std::chrono::steady_clock::time_point at;
  };
  std::mutex computedLock;
  std::condition_variable computedWake;
  std::map<std::string, Computed> computed;
  std::set<std::string> computing;  // keys a worker is computing now
  auto slow = [&](const HttpRequest& req) -> HttpAnswer {
    const std::string& path = req.path;
    if (path == "/api/server") {
      if (!ingest.WaitStored(journal->Now(), 2000)) Log("%s: answering before the last reports are stored", path.c_str());
      return HttpAnswer{200,
                        "{\"received\": " + std::to_string(received.load()) + ", \"malformed\": " +
                            std::to_string(malformed.load()) + ", \"stored\": " + std::to_string(ingest.Stored()) +
                            ", \"quarantined\": " + std::to_string(ingest.Quarantined()) +
                            ", \"unstored\": " + std::to_string(unstored.load()) +
                            ", \"seed\": " + std::to_string(seeds.load()) +
                            ", \"dropped\": " + std::to_string(server.Dropped()) +
                            ", \"busy\": " + std::to_string(server.Refused()) + ", \"db\": \"" + store->Kind() +
                            "\"}\n",
                        "application/json"};
    }
    // Stored game keys are clean text; so is what is looked up.
    const std::string game = CleanText(req.Param("game"));
    const std::string key = path + "\n" + game;
    const Journal::Tip tip = journal->Now();
    {
      std::unique_lock<std::mutex> lock(computedLock);
      // The same figures being computed by another worker: wait for them
      // rather than count them twice.
      const bool waited = computing.count(key) > 0;
      computedWake.wait(lock, [&] { return computing.count(key) == 0; });
      const auto found = computed.find(key);
      if (found != computed.end()) {
        const auto age = std::chrono::steady_clock::now() - found->second.at;
        const bool same = found->second.tip.generation == tip.generation && found->second.tip.end == tip.end;
        if ((same && age < std::chrono::seconds(15)) ||
            (age < std::chrono::seconds(3) && (waited || server.Queued() > 0)))
          return found->second.answer;
      }
      computing.insert(key);
    }
    struct Done {
      std::mutex& lock;
      std::condition_variable& wake;
      std::set<std::string>& computing;
      const std::string& key;
      ~Done() {
        {
          std::lock_guard<std::mutex> guard(lock);
          computing.erase(key);
        }
        wake.notify_all();
      }
    } done{computedLock, computedWake, computing, key};
    if (!ingest.WaitStored(tip, 2000)) Log("%s: answering before the last reports are stored", path.c_str());
    HttpAnswer answer;
    if (path == "/api/funnel") {
      answer = HttpAnswer{200, FunnelJson(QueryFunnel(*store, game)) + "\n", "application/json"};
    } else if (path == "/api/figures") {
      answer = HttpAnswer{200, FiguresJson(QueryFigures(*store, game, NowMs(), games.sizes)) + "\n", "application/json"};
    } else if (path == "/api/games") {
      answer = HttpAnswer{200, GamesJson(QueryGames(*store), games.names) + "\n", "application/json"};
    } else {
      auto list =
          std::async(std::launch::async, [&] { return game.empty() ? QueryGames(*store) : std::vector<Labelled>{}; });
      const Figures f = QueryFigures(*store, game, NowMs(), games.sizes);
      answer = HttpAnswer{200, RenderDashboard(game, f, list.get(), games.names), "text/html; charset=utf-8"};
    }
    std::lock_guard<std::mutex> lock(computedLock);
    if (computed.size() >= 256) computed.clear();
    computed[key] = Computed{answer, tip, std::chrono::steady_clock::now()};
    return answer;
  };

  const int port = server.Bind(options.host, options.port);
  if (port == 0) {
    Log("cannot listen on %s:%d (in use, or not an address of this machine)", options.host.c_str(), options.port);
    ingest.Stop();
    return 1;
  }
  int dashboardPort = 0;
  if (ownDashboard && (dashboardPort = server.Bind(options.dashboardHost, options.dashboardPort, 1)) == 0) {
    Log("cannot listen on %s:%d (in use, or not an address of this machine)", options.dashboardHost.c_str(),
        options.dashboardPort);
    ingest.Stop();
    return 1;
  }
  std::string paths;
  for (const std::string& p : reportPaths) paths += (paths.empty() ? "" : " ") + p;
  Log("listening on http://%s:%d/ (reports on %s, database %s %s)", options.host.c_str(), port, paths.c_str(),
      store->Kind(), options.db.rfind("postgres", 0) == 0 ? "(connection string)" : options.db.c_str());
  if (ownDashboard)
    Log("dashboard and /api/ on http://%s:%d/dashboard only", options.dashboardHost.c_str(), dashboardPort);

  std::thread signalThread([&server, stopSignals] {
    int sig = 0;
    sigwait(&stopSignals, &sig);
    Log("stopping on signal %d", sig);
    server.Stop();
  });

  server.Serve(quick, slow);
  // Every report read has been answered; store what the journal holds.
  ingest.Stop();
  Log("stopped: %llu reports received, %llu stored, %llu malformed", static_cast<unsigned long long>(received.load()),
      static_cast<unsigned long long>(ingest.Stored()), static_cast<unsigned long long>(malformed.load()));
  if (signalThread.joinable()) {
    // listen ended without a signal (socket error): wake the waiting thread.
    pthread_kill(signalThread.native_handle(), SIGTERM);
    signalThread.join();
  }
  return 0;
}

// gdserver: receives the downloader's statistics reports, answers its seed
// queries and shows the figures as a dashboard.
#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
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
#include "report.h"
#include "store.h"

namespace {

const char kUsage[] =
    "usage: gdserver [--listen HOST:PORT] [--db FILE|postgresql://...] [--mirrors FILE]\n"
    "                [--configs DIR] [--report-path PATH]... [--retention-days N] [--threads N]\n"
    "                [--journal FILE] [--journal-max-kib N]\n"
    "  --listen          address to serve on (default 127.0.0.1:8080; port 0 picks a free one)\n"
    "  --db              SQLite file (default gdserver.sqlite) or a PostgreSQL connection string\n"
    "  --mirrors         mirrors file for GET /seed: \"<file name or h1> <base URL>\" a line\n"
    "  --configs         folder of <game key>.html configurations: game names and report paths\n"
    "  --report-path     a path that takes reports (default /s.php; DomainName paths are added)\n"
    "  --retention-days  delete reports older than N days (checked hourly)\n"
    "  --threads         event loops, each on a thread of its own (default: one per core)\n"
    "  --journal         file where reports wait for the database (default: the SQLite file\n"
    "                    + .incoming, or gdserver.incoming for PostgreSQL); one per server\n"
    "  --journal-max-kib empty the journal when it is longer and all of it stored (default 65536)\n";

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
    if (a == "--listen") {
      const std::string s = v;
      const size_t colon = s.rfind(':');
      if (colon == std::string::npos) Usage("--listen wants HOST:PORT");
      o.host = s.substr(0, colon);
      o.port = ParseInt(s.c_str() + colon + 1, 0, 65535, "port");
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
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);
  // A file-size limit makes the journal refuse reports (answered 503)
  // rather than end the server.
  signal(SIGXFSZ, SIG_IGN);

  GameDirectory games;
  if (!options.configs.empty()) games = ReadConfigurations(options.configs);
  std::set<std::string> reportPaths = options.reportPaths;
  reportPaths.insert(games.reportPaths.begin(), games.reportPaths.end());

  std::unique_ptr<Store> store;
  std::unique_ptr<Journal> journal;
  try {
    store = OpenStore(options.db);
    journal = std::make_unique<Journal>(options.journal.empty() ? DefaultJournal(options.db) : options.journal);
  } catch (const std::exception& e) {
    Log("%s", e.what());
    return 1;
  }
  Ingest ingest(*store, *journal, static_cast<int64_t>(options.retentionDays) * 86400000,
                static_cast<int64_t>(options.journalMaxKib) * 1024);
  Mirrors mirrors(options.mirrors);
  std::atomic<uint64_t> received{0}, malformed{0}, unstored{0};

  // Reports and seed answers are made on the event loops; a report is
  // answered once the journal has it. Pages and figures read the database on
  // a worker, after the reports that came before them are stored.
  auto quick = [&](const HttpRequest& req) -> std::optional<HttpAnswer> {
    const std::string& path = req.path;
    if (reportPaths.count(path)) {
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
    if (path == "/seed") {
      const std::string name = req.Param("name");
      const std::string answer = options.mirrors.empty() ? "" : mirrors.Answer(req.Param("h1"), name);
      Log("seed: %s from %s: %zu sources", CleanText(name).c_str(), req.client.c_str(),
          static_cast<size_t>(std::count(answer.begin(), answer.end(), '\n')));
      return HttpAnswer{200, answer};
    }
    if (path == "/") return HttpAnswer{302, "", "text/plain", "/dashboard"};
    if (path == "/dashboard" || path == "/dashboard/" || path == "/api/funnel" || path == "/api/figures" ||
        path == "/api/games" || path == "/api/server")
      return std::nullopt;
    return HttpAnswer{404, "not found\n"};
  };
  auto slow = [&](const HttpRequest& req) -> HttpAnswer {
    const std::string& path = req.path;
    if (!ingest.WaitStored(journal->Now(), 2000)) Log("%s: answering before the last reports are stored", path.c_str());
    if (path == "/api/funnel")
      return HttpAnswer{200, FunnelJson(QueryFunnel(*store, req.Param("game"))) + "\n", "application/json"};
    if (path == "/api/figures")
      return HttpAnswer{200, FiguresJson(QueryFigures(*store, req.Param("game"), NowMs())) + "\n", "application/json"};
    if (path == "/api/games") return HttpAnswer{200, GamesJson(QueryGames(*store), games.names) + "\n", "application/json"};
    if (path == "/api/server")
      return HttpAnswer{200,
                        "{\"received\": " + std::to_string(received.load()) + ", \"malformed\": " +
                            std::to_string(malformed.load()) + ", \"stored\": " + std::to_string(ingest.Stored()) +
                            ", \"unstored\": " + std::to_string(unstored.load()) + ", \"db\": \"" + store->Kind() +
                            "\"}\n",
                        "application/json"};
    const std::string game = req.Param("game");
    auto list = std::async(std::launch::async, [&] { return game.empty() ? QueryGames(*store) : std::vector<Labelled>{}; });
    const Figures f = QueryFigures(*store, game, NowMs());
    return HttpAnswer{200, RenderDashboard(game, f, list.get(), games.names), "text/html; charset=utf-8"};
  };

  // When the cores are all busy, storing what was answered comes before
  // answering more: the event loops yield to the ingest thread (and the
  // queries), which otherwise fall behind while the journal grows. On an
  // idle machine the value changes nothing.
  const int kLoopNice = 8;
  HttpServer server(options.threads, 4, kLoopNice);
  const int port = server.Bind(options.host, options.port);
  if (port == 0) {
    Log("cannot listen on %s:%d", options.host.c_str(), options.port);
    ingest.Stop();
    return 1;
  }
  std::string paths;
  for (const std::string& p : reportPaths) paths += (paths.empty() ? "" : " ") + p;
  Log("listening on http://%s:%d/ (reports on %s, database %s %s)", options.host.c_str(), port, paths.c_str(),
      store->Kind(), options.db.rfind("postgres", 0) == 0 ? "(connection string)" : options.db.c_str());

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

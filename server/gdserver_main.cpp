// gdserver: receives the downloader's statistics reports, answers its seed
// queries and shows the figures as a dashboard.
#include <httplib.h>
#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <memory>
#include <set>
#include <string>
#include <thread>

#include "dashboard.h"
#include "figures.h"
#include "games.h"
#include "log.h"
#include "mirrors.h"
#include "report.h"
#include "store.h"
#include "writer.h"

namespace {

const char kUsage[] =
    "usage: gdserver [--listen HOST:PORT] [--db FILE|postgresql://...] [--mirrors FILE]\n"
    "                [--configs DIR] [--report-path PATH]... [--retention-days N] [--threads N]\n"
    "                [--answer-wait-ms N]\n"
    "  --listen          address to serve on (default 127.0.0.1:8080; port 0 picks a free one)\n"
    "  --db              SQLite file (default gdserver.sqlite) or a PostgreSQL connection string\n"
    "  --mirrors         mirrors file for GET /seed: \"<file name or h1> <base URL>\" a line\n"
    "  --configs         folder of <game key>.html configurations: game names and report paths\n"
    "  --report-path     a path that takes reports (default /s.php; DomainName paths are added)\n"
    "  --retention-days  delete reports older than N days (checked hourly)\n"
    "  --threads         connections served at once (default 64)\n"
    "  --answer-wait-ms  how long a report waits for the database before it is answered 503\n"
    "                    (default 10000); it is stored later all the same\n";

struct Options {
  std::string host = "127.0.0.1";
  int port = 8080;
  std::string db = "gdserver.sqlite";
  std::string mirrors;
  std::string configs;
  std::set<std::string> reportPaths;
  int retentionDays = 0;
  int threads = 64;
  int answerWaitMs = 10000;
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
    } else if (a == "--answer-wait-ms") {
      o.answerWaitMs = ParseInt(v, 1, 3600000, "--answer-wait-ms");
    } else if (a == "--threads") {
      o.threads = ParseInt(v, 1, 4096, "--threads");
    } else {
      Usage(("unknown option " + a).c_str());
    }
  }
  if (o.reportPaths.empty()) o.reportPaths.insert("/s.php");
  return o;
}

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

void Reply(httplib::Response& res, int status, const std::string& body, const char* type) {
  res.status = status;
  res.set_content(body, type);
  res.set_header("Cache-Control", "no-store");
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

  GameDirectory games;
  if (!options.configs.empty()) games = ReadConfigurations(options.configs);
  std::set<std::string> reportPaths = options.reportPaths;
  reportPaths.insert(games.reportPaths.begin(), games.reportPaths.end());

  std::unique_ptr<Store> store;
  try {
    store = OpenStore(options.db);
  } catch (const StoreError& e) {
    Log("%s", e.what());
    return 1;
  }
  Writer writer(*store, static_cast<int64_t>(options.retentionDays) * 86400000);
  Mirrors mirrors(options.mirrors);
  std::atomic<uint64_t> received{0}, malformed{0}, unstored{0};

  httplib::Server server;
  const int threads = options.threads;
  server.new_task_queue = [threads] { return new httplib::ThreadPool(static_cast<size_t>(threads)); };
  server.set_keep_alive_max_count(100000);
  // Headers and body go out in separate writes; without this each answer
  // waits for the delayed acknowledgement of the first.
  server.set_tcp_nodelay(true);
  server.set_payload_max_length(64 * 1024);

  server.Get(".*", [&](const httplib::Request& req, httplib::Response& res) {
    const std::string& path = req.path;
    try {
      if (reportPaths.count(path)) {
        Report report = ParseReportTarget(req.target);
        report.receivedMs = NowMs();
        report.client = req.remote_addr;
        const bool bad = report.malformed;
        ++received;
        if (bad) ++malformed;
        if (!writer.Submit(std::move(report), options.answerWaitMs)) {
          ++unstored;
          Reply(res, 503, "not stored, try again\n", "text/plain");
        } else {
          Reply(res, bad ? 400 : 200, bad ? "malformed report kept\n" : "ok\n", "text/plain");
        }
      } else if (path == "/seed") {
        const std::string name = req.get_param_value("name");
        const std::string answer = options.mirrors.empty() ? "" : mirrors.Answer(req.get_param_value("h1"), name);
        Log("seed: %s from %s: %zu sources", CleanText(name).c_str(), req.remote_addr.c_str(),
            static_cast<size_t>(std::count(answer.begin(), answer.end(), '\n')));
        Reply(res, 200, answer, "text/plain");
      } else if (path == "/dashboard" || path == "/dashboard/") {
        const std::string game = req.get_param_value("game");
        auto list = std::async(std::launch::async, [&] {
          return game.empty() ? QueryGames(*store) : std::vector<Labelled>{};
        });
        const Figures f = QueryFigures(*store, game, NowMs());
        Reply(res, 200, RenderDashboard(game, f, list.get(), games.names), "text/html; charset=utf-8");
      } else if (path == "/api/funnel") {
        Reply(res, 200, FunnelJson(QueryFunnel(*store, req.get_param_value("game"))) + "\n", "application/json");
      } else if (path == "/api/figures") {
        Reply(res, 200, FiguresJson(QueryFigures(*store, req.get_param_value("game"), NowMs())) + "\n",
              "application/json");
      } else if (path == "/api/games") {
        Reply(res, 200, GamesJson(QueryGames(*store), games.names) + "\n", "application/json");
      } else if (path == "/api/server") {
        Reply(res, 200,
              "{\"received\": " + std::to_string(received.load()) + ", \"malformed\": " +
                  std::to_string(malformed.load()) + ", \"stored\": " + std::to_string(writer.Committed()) +
                  ", \"unstored\": " + std::to_string(unstored.load()) + ", \"db\": \"" + store->Kind() + "\"}\n",
              "application/json");
      } else if (path == "/") {
        res.set_redirect("/dashboard");
      } else {
        Reply(res, 404, "not found\n", "text/plain");
      }
    } catch (const std::exception& e) {
      Log("%s %s: %s", req.method.c_str(), path.c_str(), e.what());
      Reply(res, 500, "server error\n", "text/plain");
    }
  });

  int port = options.port;
  if (port == 0) {
    port = server.bind_to_any_port(options.host);
    if (port < 0) port = 0;
  } else if (!server.bind_to_port(options.host, port)) {
    port = 0;
  }
  if (port == 0) {
    Log("cannot listen on %s:%d", options.host.c_str(), options.port);
    writer.Stop();
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
    server.stop();
  });

  server.listen_after_bind();
  // Requests in progress have had their answers; commit whatever is queued.
  writer.Stop();
  Log("stopped: %llu reports received, %llu stored, %llu malformed", static_cast<unsigned long long>(received.load()),
      static_cast<unsigned long long>(writer.Committed()), static_cast<unsigned long long>(malformed.load()));
  if (signalThread.joinable()) {
    // listen ended without a signal (socket error): wake the waiting thread.
    pthread_kill(signalThread.native_handle(), SIGTERM);
    signalThread.join();
  }
  return 0;
}

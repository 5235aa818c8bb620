// gdserver: receives the downloader's statistics reports, answers its seed
// queries and shows the figures as a dashboard.
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>

#include <exception>
#include <memory>
#include <set>
#include <string>
#include <thread>

#include "games.h"
#include "ingest.h"
#include "journal.h"
#include "log.h"
#include "options.h"
#include "report.h"
#include "service.h"
#include "store.h"

namespace {

// SIGTERM, SIGINT and SIGHUP are taken by one thread with sigwait, so they
// are blocked before any other thread exists; returns them.
sigset_t PrepareProcess() {
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
  return stopSignals;
}

// Paths the server answers itself, which no report path may take.
bool Reserved(const std::string& path) {
  return path == "/" || path == "/seed" || path == "/dashboard" || path == "/dashboard/" || path.rfind("/api/", 0) == 0;
}

// The paths that take reports: the options' and the configurations'; empty
// (logged) when one of them is a page of the server's own.
std::set<std::string> ReportPaths(const Options& options, const GameDirectory& games) {
  std::set<std::string> paths = options.reportPaths;
  paths.insert(games.reportPaths.begin(), games.reportPaths.end());
  for (const std::string& p : paths) {
    if (Reserved(p)) {
      Log("report path %s is one of the server's own pages; give the configuration's DomainName or --report-path "
          "another path", CleanText(p).c_str());
      return {};
    }
  }
  return paths;
}

// The database and the journal; false (logged) when either cannot be used.
bool OpenStorage(const Options& options, std::unique_ptr<Store>& store, std::unique_ptr<Journal>& journal) {
  try {
    store = OpenStore(options.db);
    journal = std::make_unique<Journal>(JournalPath(options));
    // A journal shorter than the database's mark for it would have its
    // records stored a second time.
    const JournalMark mark = store->ReadMark(journal->Id());
    if (mark.generation == journal->Generation() && mark.position > journal->End()) {
      Log("journal %s ends at byte %lld but the database stored it up to byte %lld: it was cut or replaced; "
          "not storing it again (move it away to start with a new journal)",
          JournalPath(options).c_str(), static_cast<long long>(journal->End()), static_cast<long long>(mark.position));
      return false;
    }
  } catch (const std::exception& e) {
    Log("%s", e.what());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = ParseArgs(argc, argv);
  const sigset_t stopSignals = PrepareProcess();
  GameDirectory games;
  if (!options.configs.empty()) games = ReadConfigurations(options.configs);
  const std::set<std::string> reportPaths = ReportPaths(options, games);
  if (reportPaths.empty()) return 2;
  std::unique_ptr<Store> store;
  std::unique_ptr<Journal> journal;
  if (!OpenStorage(options, store, journal)) return 1;
  Ingest ingest(*store, *journal, static_cast<int64_t>(options.retentionDays) * 86400000,
                static_cast<int64_t>(options.journalMaxKib) * 1024);
  Service service(options, games, reportPaths, *store, *journal, ingest);
  if (!service.Listen()) {
    ingest.Stop();
    return 1;
  }
  std::thread signalThread([&service, stopSignals] {
    int sig = 0;
    sigwait(&stopSignals, &sig);
    Log("stopping on signal %d", sig);
    service.Stop();
  });
  service.Serve();
  // Every report read has been answered; store what the journal holds.
  ingest.Stop();
  Log("stopped: %llu reports received, %llu stored, %llu malformed", static_cast<unsigned long long>(service.Received()),
      static_cast<unsigned long long>(ingest.Stored()), static_cast<unsigned long long>(service.Malformed()));
  if (signalThread.joinable()) {
    // Serving ended without a signal (socket error): wake the waiting thread.
    pthread_kill(signalThread.native_handle(), SIGTERM);
    signalThread.join();
  }
  return 0;
}

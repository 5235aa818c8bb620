#include "options.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "store.h"

namespace {

const char kUsage[] =
    "usage: gdserver [--listen HOST:PORT] [--db FILE|postgresql://...] [--mirrors FILE]\n"
    "                [--configs DIR] [--report-path PATH]... [--retention-days N] [--threads N]\n"
    "                [--journal FILE] [--journal-max-kib N] [--dashboard-listen HOST:PORT]\n"
    "                [--trust-proxy ADDRESS]\n"
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
    "  --journal-max-kib empty the journal when more than this much of it is stored (default 65536)\n"
    "  --trust-proxy     a reverse proxy's address (e.g. 127.0.0.1): a request that comes from it\n"
    "                    is the client's that the last X-Forwarded-For entry names\n";

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

}  // namespace

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
    } else if (a == "--trust-proxy") {
      o.trustProxy = NormalAddress(v);
      if (o.trustProxy.empty()) Usage((std::string("--trust-proxy wants an IP address: ") + v).c_str());
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

std::string NormalAddress(const std::string& text) {
  unsigned char bytes[sizeof(in6_addr)];
  char out[INET6_ADDRSTRLEN] = "";
  for (const int family : {AF_INET, AF_INET6}) {
    if (inet_pton(family, text.c_str(), bytes) == 1 && inet_ntop(family, bytes, out, sizeof out)) return out;
  }
  return std::string();
}

std::string JournalPath(const Options& options) {
  if (!options.journal.empty()) return options.journal;
  return IsPostgres(options.db) ? "gdserver.incoming" : options.db + ".incoming";
}

#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "games.h"
#include "http_server.h"
#include "ingest.h"
#include "journal.h"
#include "mirrors.h"
#include "options.h"
#include "peer_book.h"
#include "store.h"

// The address a request is the client's: the socket's, unless it comes from
// the trusted proxy (--trust-proxy, normalised), whose X-Forwarded-For ends
// with the address it took the connection from (what comes before that
// entry the client may have written itself). Empty when the trusted proxy
// names no valid address.
std::string ClientAddress(const std::string& socketAddress, const std::string& forwardedFor,
                          const std::string& trustedProxy);

// What gdserver serves, as a route table: the report paths and /seed are
// answered on the event loops (a report once the journal has it); the
// dashboard and its figures read the database on a worker, after the
// reports that came before them are stored.
class Service {
 public:
  Service(const Options& options, const GameDirectory& games, const std::set<std::string>& reportPaths, Store& store,
          Journal& journal, Ingest& ingest);

  // Binds --listen (and --dashboard-listen) and logs where; false (logged)
  // when an address cannot be had.
  bool Listen();
  // Serves until Stop (from any thread).
  void Serve() { m_http.Serve(); }
  void Stop() { m_http.Stop(); }

  uint64_t Received() const { return m_received.load(); }
  uint64_t Malformed() const { return m_malformed.load(); }

 private:
  std::vector<HttpRoute> Routes();
  HttpAnswer AnswerReport(const HttpRequest& req);
  HttpAnswer AnswerSeed(const HttpRequest& req);
  HttpAnswer AnswerCounts(const HttpRequest& req);
  // A figures page: computed by `compute` for the request's game, or the
  // same answer again while it is fresh.
  HttpAnswer AnswerFigures(const HttpRequest& req, const std::function<HttpAnswer(const std::string& game)>& compute);

  const Options& m_options;
  const GameDirectory& m_games;
  const std::set<std::string> m_reportPaths;
  Store& m_store;
  Journal& m_journal;
  Ingest& m_ingest;
  Mirrors m_mirrors;
  PeerBook m_peers;
  std::atomic<uint64_t> m_received{0}, m_malformed{0}, m_unstored{0}, m_seeds{0};

  // Figures computed lately are answered again: while no report came since
  // (they are exact), or for a few seconds when requests queue up (a crowd
  // reloading the page, or one asking for it over and over).
  struct Computed {
    HttpAnswer answer;
    Journal::Tip tip;
    std::chrono::steady_clock::time_point at;
  };
  std::mutex m_computedLock;
  std::condition_variable m_computedWake;
  std::map<std::string, Computed> m_computed;
  std::set<std::string> m_computing;  // keys a worker is computing now

  HttpServer m_http;  // last: its routes call the members above
};

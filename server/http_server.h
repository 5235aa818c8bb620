#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// One request as the handlers see it.
struct HttpRequest {
  std::string target;  // exactly as sent: path and query
  std::string path;    // the path, percent-decoded
  std::string client;  // peer address
  // The X-Forwarded-For lines as sent, joined with commas; who may be
  // believed is the handler's business.
  std::string forwardedFor;
  bool head = false;   // HEAD rather than GET
  int listener = 0;    // the Bind call whose address it came to, from 0
  // The first query parameter `name`, decoded ('+' is a space); "" when absent.
  std::string Param(const std::string& name) const;
};

struct HttpAnswer {
  HttpAnswer(int status_ = 200, std::string body_ = "", std::string type_ = "text/plain", std::string location_ = "")
      : status(status_), body(std::move(body_)), type(std::move(type_)), location(std::move(location_)) {}
  int status;
  std::string body;
  std::string type;
  std::string location;  // for redirects
};

// One path the server answers, and how: a quick handler runs on the event
// loop's thread; a slow one (database queries) runs on a worker thread and
// is answered on the loop's thread when done. A handler that throws is
// answered 500.
struct HttpRoute {
  enum class Speed { kQuick, kSlow };
  std::string path;  // the decoded path, matched exactly
  Speed speed;
  std::function<HttpAnswer(const HttpRequest&)> handler;
  int listener = -1;  // the Bind whose address takes it (-1: every one)
};

// An HTTP/1.1 and HTTP/2 server on h2o: one event loop per thread, each with
// its own listening socket on the same port (SO_REUSEPORT), so that
// connections spread over the cores without a lock between them. Each route
// is an h2o handler of its own; a path no route takes (on that address) is
// answered 404. Request targets longer than kMaxTarget are answered 414; at
// most kMaxQueued requests wait for a worker (more are answered 503), and
// one whose client has gone is dropped without running.
class HttpServer {
 public:
  // The loops' threads run at nice value `loopNice` (0: as the process).
  HttpServer(int loops, int workers, int loopNice, std::vector<HttpRoute> routes);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  static constexpr size_t kMaxTarget = 4096;
  static constexpr size_t kMaxQueued = 64;

  // Returns the port (port 0 picks a free one), or 0 when it cannot listen
  // (a port another process listens on included). `loops` event loops take
  // its connections (0: as many as the server was made with).
  int Bind(const std::string& host, int port, int loops = 0);
  // Requests that waited for a worker and were dropped: their client had gone.
  uint64_t Dropped() const;
  // Requests waiting for a worker now.
  size_t Queued() const;
  // Requests answered 503 because the queue was full.
  uint64_t Refused() const;
  // Serves until Stop; requests already read are answered before it returns.
  void Serve();
  // From any thread.
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> m;
};

#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

// One request as the handlers see it.
struct HttpRequest {
  std::string target;  // exactly as sent: path and query
  std::string path;    // the path, percent-decoded
  std::string client;  // peer address
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

// An HTTP/1.1 server on h2o: one event loop per thread, each with its own
// listening socket on the same port (SO_REUSEPORT), so that connections
// spread over the cores without a lock between them. A quick handler runs on
// the loop's thread; what it passes on (database queries) runs on a worker
// thread and is answered on the loop's thread when done.
class HttpServer {
 public:
  using Quick = std::function<std::optional<HttpAnswer>(const HttpRequest&)>;
  using Slow = std::function<HttpAnswer(const HttpRequest&)>;

  // The loops' threads run at nice value `loopNice` (0: as the process).
  HttpServer(int loops, int workers, int loopNice);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Returns the port (port 0 picks a free one), or 0 when it cannot listen.
  int Bind(const std::string& host, int port);
  // Serves until Stop; requests already read are answered before it returns.
  void Serve(Quick quick, Slow slow);
  // From any thread.
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> m;
};

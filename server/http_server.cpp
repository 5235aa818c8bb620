#include "http_server.h"

#include <event2/buffer.h>
#include <event2/bufferevent.h>
#include <event2/event.h>
#include <event2/http.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "log.h"

namespace {

std::string Decode(const std::string& text, bool plusIsSpace) {
  size_t size = 0;
  char* decoded = evhttp_uridecode(text.c_str(), plusIsSpace ? 1 : 0, &size);
  if (!decoded) return text;
  std::string out(decoded, size);
  std::free(decoded);
  return out;
}

const char* Reason(int status) {
  switch (status) {
    case 200: return "OK";
    case 302: return "Found";
    case 400: return "Bad Request";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "";
  }
}

}  // namespace

std::string HttpRequest::Param(const std::string& name) const {
  const size_t q = target.find('?');
  if (q == std::string::npos) return "";
  size_t start = q + 1;
  while (start <= target.size()) {
    size_t end = target.find('&', start);
    if (end == std::string::npos) end = target.size();
    const size_t eq = target.find('=', start);
    const size_t keyEnd = (eq == std::string::npos || eq > end) ? end : eq;
    if (Decode(target.substr(start, keyEnd - start), true) == name)
      return keyEnd == end ? "" : Decode(target.substr(keyEnd + 1, end - keyEnd - 1), true);
    start = end + 1;
  }
  return "";
}

struct HttpServer::Impl {
  struct Loop;
  // A slow request on its way to a worker and back.
  struct Job {
    Loop* loop;
    evhttp_request* req;
    HttpRequest request;
    HttpAnswer answer;
  };
  struct Loop {
    Impl* owner = nullptr;
    event_base* base = nullptr;
    evhttp* http = nullptr;
    evhttp_bound_socket* bound = nullptr;
    int fd = -1;
    std::thread thread;
    // Other threads hand answers and the stop over through `done` and
    // `stopAsked` (under the owner's jobLock) and wake the loop by `wakeFd`;
    // libevent itself is then used by the loop's thread alone.
    int wakeFd = -1;
    event* wake = nullptr;
    std::vector<Job*> done;
    bool stopAsked = false;
  };

  int loopCount;
  int workerCount;
  std::vector<std::unique_ptr<Loop>> loops;
  Quick quick;
  Slow slow;

  std::mutex jobLock;
  std::condition_variable jobWake;
  std::deque<Job*> queue;
  std::set<Job*> jobs;  // every job not yet answered, freed at the end
  bool stopping = false;
  std::vector<std::thread> workers;

  static void Send(evhttp_request* req, const HttpAnswer& a, bool nodelay) {
    if (nodelay) {
      // A page of several segments would otherwise wait for an acknowledgement.
      evhttp_connection* conn = evhttp_request_get_connection(req);
      bufferevent* bev = conn ? evhttp_connection_get_bufferevent(conn) : nullptr;
      const int fd = bev ? static_cast<int>(bufferevent_getfd(bev)) : -1;
      const int one = 1;
      if (fd >= 0) setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
    evkeyvalq* headers = evhttp_request_get_output_headers(req);
    evhttp_add_header(headers, "Content-Type", a.type.c_str());
    evhttp_add_header(headers, "Cache-Control", "no-store");
    if (!a.location.empty()) evhttp_add_header(headers, "Location", a.location.c_str());
    evbuffer* body = evbuffer_new();
    evbuffer_add(body, a.body.data(), a.body.size());
    evhttp_send_reply(req, a.status, Reason(a.status), body);
    evbuffer_free(body);
  }

  static void OnRequest(evhttp_request* req, void* arg) {
    Loop* loop = static_cast<Loop*>(arg);
    Impl* self = loop->owner;
    HttpRequest r;
    r.target = evhttp_request_get_uri(req);
    r.path = Decode(r.target.substr(0, r.target.find('?')), false);
    char* address = nullptr;
    ev_uint16_t port = 0;
    if (evhttp_connection* conn = evhttp_request_get_connection(req)) evhttp_connection_get_peer(conn, &address, &port);
    if (address) r.client = address;
    std::optional<HttpAnswer> answer;
    try {
      answer = self->quick(r);
    } catch (const std::exception& e) {
      Log("GET %s: %s", r.path.c_str(), e.what());
      answer = HttpAnswer{500, "server error\n"};
    }
    if (answer) {
      Send(req, *answer, false);
      return;
    }
    Job* job = new Job{loop, req, std::move(r), {}};
    {
      std::lock_guard<std::mutex> lock(self->jobLock);
      self->jobs.insert(job);
      self->queue.push_back(job);
    }
    self->jobWake.notify_one();
  }

  static void Wake(Loop* loop) {
    const uint64_t one = 1;
    if (write(loop->wakeFd, &one, sizeof one) != sizeof one) {
      // The counter is full: the loop has wake-ups waiting already.
    }
  }

  // On the loop's thread: answers the workers finished, and the stop.
  static void OnWake(evutil_socket_t fd, short, void* arg) {
    Loop* loop = static_cast<Loop*>(arg);
    uint64_t count = 0;
    if (read(fd, &count, sizeof count) < 0) count = 0;
    std::vector<Job*> done;
    bool stop;
    {
      std::lock_guard<std::mutex> lock(loop->owner->jobLock);
      done.swap(loop->done);
      stop = loop->stopAsked;
    }
    for (Job* job : done) {
      Send(job->req, job->answer, true);
      std::lock_guard<std::mutex> lock(loop->owner->jobLock);
      loop->owner->jobs.erase(job);
      delete job;
    }
    if (stop && loop->bound) {
      // No new connections; the loop ends once what was read has been
      // answered and sent.
      evhttp_del_accept_socket(loop->http, loop->bound);
      loop->bound = nullptr;
      const timeval grace{0, 200000};
      event_base_loopexit(loop->base, &grace);
    }
  }

  void Work() {
    for (;;) {
      Job* job;
      {
        std::unique_lock<std::mutex> lock(jobLock);
        jobWake.wait(lock, [&] { return stopping || !queue.empty(); });
        if (stopping) return;
        job = queue.front();
        queue.pop_front();
      }
      try {
        job->answer = slow(job->request);
      } catch (const std::exception& e) {
        Log("GET %s: %s", job->request.path.c_str(), e.what());
        job->answer = HttpAnswer{500, "server error\n"};
      }
      {
        std::lock_guard<std::mutex> lock(jobLock);
        job->loop->done.push_back(job);
      }
      Wake(job->loop);
    }
  }
};

HttpServer::HttpServer(int loops, int workers) : m(std::make_unique<Impl>()) {
  m->loopCount = loops < 1 ? 1 : loops;
  m->workerCount = workers < 1 ? 1 : workers;
}

HttpServer::~HttpServer() {
  for (auto& loop : m->loops)
    if (loop->http) evhttp_free(loop->http);  // closes the connections and the listening socket
  for (Impl::Job* job : m->jobs) delete job;
  for (auto& loop : m->loops) {
    if (loop->wake) event_free(loop->wake);
    if (loop->wakeFd >= 0) close(loop->wakeFd);
    if (loop->base) event_base_free(loop->base);
  }
}

int HttpServer::Bind(const std::string& host, int port) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || !found) return 0;
  sockaddr_storage address{};
  std::memcpy(&address, found->ai_addr, found->ai_addrlen);
  const socklen_t length = found->ai_addrlen;
  const int family = found->ai_family;
  freeaddrinfo(found);
  for (int i = 0; i < m->loopCount; ++i) {
    const int fd = socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return 0;
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &one, sizeof one);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(fd, 1024) != 0) {
      close(fd);
      return 0;
    }
    if (i == 0) {
      // Port 0 took a free port: the other loops listen on the same one.
      socklen_t got = sizeof address;
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &got);
    }
    auto loop = std::make_unique<Impl::Loop>();
    loop->owner = m.get();
    loop->fd = fd;
    // Interest in a socket is switched on and off around each answer; the
    // change list hands the kernel only the net change of a loop turn.
    event_config* config = event_config_new();
    event_config_set_flag(config, EVENT_BASE_FLAG_EPOLL_USE_CHANGELIST);
    loop->base = event_base_new_with_config(config);
    event_config_free(config);
    loop->http = evhttp_new(loop->base);
    if (!loop->base || !loop->http) return 0;
    evhttp_set_allowed_methods(loop->http, EVHTTP_REQ_GET | EVHTTP_REQ_HEAD);
    evhttp_set_max_headers_size(loop->http, 64 * 1024);
    evhttp_set_max_body_size(loop->http, 64 * 1024);
    evhttp_set_timeout(loop->http, 120);
    evhttp_set_gencb(loop->http, Impl::OnRequest, loop.get());
    loop->wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (loop->wakeFd < 0) return 0;
    loop->wake = event_new(loop->base, loop->wakeFd, EV_READ | EV_PERSIST, Impl::OnWake, loop.get());
    if (!loop->wake || event_add(loop->wake, nullptr) != 0) return 0;
    loop->bound = evhttp_accept_socket_with_handle(loop->http, fd);
    if (!loop->bound) return 0;
    m->loops.push_back(std::move(loop));
  }
  return ntohs(address.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&address)->sin6_port
                                             : reinterpret_cast<sockaddr_in*>(&address)->sin_port);
}

void HttpServer::Serve(Quick quick, Slow slow) {
  m->quick = std::move(quick);
  m->slow = std::move(slow);
  for (int i = 0; i < m->workerCount; ++i)
    m->workers.emplace_back([this] {
      pthread_setname_np(pthread_self(), "gd-query");
      m->Work();
    });
  for (auto& loop : m->loops) {
    Impl::Loop* l = loop.get();
    l->thread = std::thread([l] {
      pthread_setname_np(pthread_self(), "gd-http");
      event_base_dispatch(l->base);
    });
  }
  for (auto& loop : m->loops) loop->thread.join();
  {
    std::lock_guard<std::mutex> lock(m->jobLock);
    m->stopping = true;
  }
  m->jobWake.notify_all();
  for (std::thread& t : m->workers) t.join();
  m->workers.clear();
}

void HttpServer::Stop() {
  for (auto& loop : m->loops) {
    {
      std::lock_guard<std::mutex> lock(m->jobLock);
      loop->stopAsked = true;
    }
    Impl::Wake(loop.get());
  }
}

#include "http_server.h"

#define H2O_USE_LIBUV 0
#include <arpa/inet.h>
#include <fcntl.h>
#include <h2o.h>
#include <h2o/socket/evloop.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <set>
#include <mutex>
#include <thread>
#include <vector>

#include "log.h"

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// %XX decoding of a path or a query value; a '%' without two hex digits
// stays as it is.
std::string Decode(const std::string& text, bool plusIsSpace) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      out += (plusIsSpace && c == '+') ? ' ' : c;
    }
  }
  return out;
}

const char* Reason(int status) {
  switch (status) {
    case 200: return "OK";
    case 302: return "Found";
    case 400: return "Bad Request";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 414: return "URI Too Long";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "";
  }
}

std::string PeerOf(h2o_req_t* req) {
  sockaddr_storage address{};
  const socklen_t length = req->conn->callbacks->get_peername(req->conn, reinterpret_cast<sockaddr*>(&address));
  if (length == 0) return "";
  char text[INET6_ADDRSTRLEN] = "";
  if (address.ss_family == AF_INET)
    inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(&address)->sin_addr, text, sizeof text);
  else if (address.ss_family == AF_INET6)
    inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(&address)->sin6_addr, text, sizeof text);
  return text;
}

std::string ForwardedFor(h2o_req_t* req) {
  std::string joined;
  for (ssize_t i = -1; (i = h2o_find_header(&req->headers, H2O_TOKEN_X_FORWARDED_FOR, i)) != -1;) {
    const h2o_iovec_t& value = req->headers.entries[i].value;
    if (!joined.empty()) joined += ',';
    joined.append(value.base, value.len);
  }
  return joined;
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
  // A slow request on its way to a worker and back to its loop.
  struct Job {
    Loop* loop = nullptr;
    h2o_req_t* req = nullptr;  // null once the request is gone (the loop's thread)
    std::atomic<bool> gone{false};  // the client went away: not worth running
    Job** slot = nullptr;      // in the request's memory: how the request finds its job
    const HttpRoute* route = nullptr;
    HttpRequest request;
    HttpAnswer answer;
  };
  // What other threads send a loop: a finished job, or (job null) the stop.
  struct Message {
    h2o_multithread_message_t message;  // first: messages are found from it
    Job* job;
  };
  struct Handler {
    h2o_handler_t base;  // first: h2o hands this back as an h2o_handler_t*
    Impl* owner;
    const HttpRoute* route;  // null: the handler of every other path
  };
  struct Loop {
    Impl* owner = nullptr;
    int fd = -1;
    h2o_context_t context{};
    h2o_accept_ctx_t accept{};
    h2o_socket_t* listener = nullptr;
    h2o_multithread_queue_t* queue = nullptr;
    h2o_multithread_receiver_t receiver{};
    std::thread thread;
    bool stopping = false;  // on the loop's thread
    std::chrono::steady_clock::time_point end;
    int bindIndex = 0;  // which Bind made it
    std::set<Job*>* pending = new std::set<Job*>;  // jobs at a worker, on the loop's thread
    std::chrono::steady_clock::time_point nextCheck;
    bool acceptPaused = false;  // out of file descriptors
    std::chrono::steady_clock::time_point acceptAgain;
  };

  int loopCount = 1;
  int binds = 0;
  std::atomic<uint64_t> dropped{0}, refused{0};
  int workerCount = 1;
  int loopNice = 0;
  h2o_globalconf_t config{};
  std::vector<Loop*> loops;
  std::vector<HttpRoute> routes;
  std::map<std::string, const HttpRoute*> byPath;

  std::mutex jobLock;
  std::condition_variable jobWake;
  std::deque<Job*> queue;
  bool stopping = false;
  std::vector<std::thread> workers;

  static void Send(h2o_req_t* req, const HttpAnswer& a) {
    req->res.status = a.status;
    req->res.reason = Reason(a.status);
    req->res.content_length = a.body.size();
    h2o_add_header(&req->pool, &req->res.headers, H2O_TOKEN_CONTENT_TYPE, nullptr,
                   h2o_strdup(&req->pool, a.type.data(), a.type.size()).base, a.type.size());
    h2o_add_header(&req->pool, &req->res.headers, H2O_TOKEN_CACHE_CONTROL, nullptr, H2O_STRLIT("no-store"));
    h2o_add_header_by_str(&req->pool, &req->res.headers, H2O_STRLIT("x-content-type-options"), 0, nullptr,
                          H2O_STRLIT("nosniff"));
    if (!a.location.empty())
      h2o_add_header(&req->pool, &req->res.headers, H2O_TOKEN_LOCATION, nullptr,
                     h2o_strdup(&req->pool, a.location.data(), a.location.size()).base, a.location.size());
    h2o_send_inline(req, a.body.data(), a.body.size());  // copies the body
  }

  // The request's memory is freed: its job must not answer it.
  static void OnRequestGone(void* slot) {
    Job* job = *static_cast<Job**>(slot);
    if (!job) return;
    job->req = nullptr;
    job->gone = true;
    job->loop->pending->erase(job);
  }

  // On the loop's thread: a client that closed its connection while its
  // request waits (HTTP/1 does not read again before answering, so h2o does
  // not see it) will not read the answer. Cancelled HTTP/2 streams free
  // their requests, which OnRequestGone sees.
  static void CheckPending(Loop* loop) {
    for (Job* job : *loop->pending) {
      h2o_socket_t* sock = job->req->conn->callbacks->get_socket(job->req->conn);
      if (!sock) continue;
      pollfd p{h2o_socket_get_fd(sock), POLLRDHUP, 0};
      if (poll(&p, 1, 0) == 1 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR))) job->gone = true;
    }
  }

  // The route of a decoded path. h2o picks a handler by the path it
  // normalized, which may not be ours (or may only begin with its path).
  const HttpRoute* RouteOf(const Handler* handler, const HttpRequest& r) const {
    const HttpRoute* route = handler->route;
    if (!route || route->path != r.path) {
      const auto found = byPath.find(r.path);
      route = found == byPath.end() ? nullptr : found->second;
    }
    if (route && route->listener >= 0 && route->listener != r.listener) return nullptr;
    return route;
  }

  static int OnRequest(h2o_handler_t* base, h2o_req_t* req) {
    Impl* self = reinterpret_cast<Handler*>(base)->owner;
    Loop* loop = static_cast<Loop*>(h2o_context_get_handler_context(req->conn->ctx, base));
    if (!h2o_memis(req->method.base, req->method.len, H2O_STRLIT("GET")) &&
        !h2o_memis(req->method.base, req->method.len, H2O_STRLIT("HEAD"))) {
      Send(req, HttpAnswer{405, "method not allowed\n"});
      return 0;
    }
    if (req->path.len > kMaxTarget) {
      Send(req, HttpAnswer{414, "request target too long\n"});
      return 0;
    }
    HttpRequest r;
    r.head = h2o_memis(req->method.base, req->method.len, H2O_STRLIT("HEAD"));
    r.listener = loop->bindIndex;
    r.target.assign(req->path.base, req->path.len);
    r.path = Decode(r.target.substr(0, r.target.find('?')), false);
    r.client = PeerOf(req);
    r.forwardedFor = ForwardedFor(req);
    const HttpRoute* route = self->RouteOf(reinterpret_cast<Handler*>(base), r);
    if (!route) {
      Send(req, HttpAnswer{404, "not found\n"});
      return 0;
    }
    if (route->speed == HttpRoute::Speed::kQuick) {
      HttpAnswer answer;
      try {
        answer = route->handler(r);
      } catch (const std::exception& e) {
        Log("GET %s: %s", r.path.c_str(), e.what());
        answer = HttpAnswer{500, "server error\n"};
      }
      Send(req, answer);
      return 0;
    }
    {
      std::lock_guard<std::mutex> lock(self->jobLock);
      if (self->queue.size() >= kMaxQueued) {
        ++self->refused;
        Send(req, HttpAnswer{503, "busy, try again\n"});
        return 0;
      }
    }
    Job* job = new Job;
    job->loop = loop;
    job->req = req;
    job->route = route;
    job->slot = static_cast<Job**>(h2o_mem_alloc_shared(&req->pool, sizeof(Job*), OnRequestGone));
    *job->slot = job;
    job->request = std::move(r);
    loop->pending->insert(job);
    {
      std::lock_guard<std::mutex> lock(self->jobLock);
      self->queue.push_back(job);
    }
    self->jobWake.notify_one();
    return 0;
  }

  static void OnAccept(h2o_socket_t* listener, const char* err) {
    if (err) return;
    errno = 0;
    h2o_socket_t* sock = h2o_evloop_socket_accept(listener);
    if (sock) {
      h2o_accept(static_cast<h2o_accept_ctx_t*>(listener->data), sock);
    } else if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
      // The connection stays in the backlog and the socket stays readable:
      // rather than spin on it, take no connections for a while.
      Loop* loop = H2O_STRUCT_FROM_MEMBER(Loop, accept, static_cast<h2o_accept_ctx_t*>(listener->data));
      h2o_socket_read_stop(listener);
      loop->acceptPaused = true;
      loop->acceptAgain = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
      static std::atomic<int> logged{0};
      if (logged++ % 100 == 0) Log("out of file descriptors: taking no connections for 100 ms");
    }
  }

  // On the loop's thread: answers the workers finished, and the stop.
  static void OnMessages(h2o_multithread_receiver_t* receiver, h2o_linklist_t* messages) {
    Loop* loop = H2O_STRUCT_FROM_MEMBER(Loop, receiver, receiver);
    while (!h2o_linklist_is_empty(messages)) {
      h2o_multithread_message_t* m = H2O_STRUCT_FROM_MEMBER(h2o_multithread_message_t, link, messages->next);
      h2o_linklist_unlink(&m->link);
      Message* message = reinterpret_cast<Message*>(m);
      Job* job = message->job;
      delete message;
      if (job) {
        if (job->req) {
          *job->slot = nullptr;
          loop->pending->erase(job);
          Send(job->req, job->answer);
        }
        delete job;
      } else if (!loop->stopping) {
        // No new connections; what was read is answered and sent meanwhile.
        loop->stopping = true;
        loop->end = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
        h2o_socket_read_stop(loop->listener);
        h2o_socket_close(loop->listener);
        loop->listener = nullptr;
      }
    }
  }

  static void Post(Loop* loop, Job* job) {
    Message* message = new Message{{}, job};
    h2o_multithread_send_message(&loop->receiver, &message->message);
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
      if (job->gone) {
        ++dropped;
        job->answer = HttpAnswer{503, "client gone\n"};
        Post(job->loop, job);
        continue;
      }
      try {
        job->answer = job->route->handler(job->request);
      } catch (const std::exception& e) {
        Log("GET %s: %s", job->request.path.c_str(), e.what());
        job->answer = HttpAnswer{500, "server error\n"};
      }
      Post(job->loop, job);
    }
  }

  static void Run(Loop* loop) {
    pthread_setname_np(pthread_self(), "gd-http");
    // Raising a thread's nice value needs no privilege; a failure leaves it as it is.
    if (loop->owner->loopNice > 0)
      setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), loop->owner->loopNice);
    while (!loop->stopping || std::chrono::steady_clock::now() < loop->end) {
      h2o_evloop_run(loop->context.loop, 50);
      const auto now = std::chrono::steady_clock::now();
      if (now >= loop->nextCheck) {
        if (!loop->pending->empty()) CheckPending(loop);
        loop->nextCheck = now + std::chrono::milliseconds(50);
      }
      if (loop->acceptPaused && now >= loop->acceptAgain) {
        loop->acceptPaused = false;
        if (loop->listener) h2o_socket_read_start(loop->listener, OnAccept);
      }
    }
  }
};

HttpServer::HttpServer(int loops, int workers, int loopNice, std::vector<HttpRoute> routes)
    : m(std::make_unique<Impl>()) {
  m->loopNice = loopNice;
  m->loopCount = loops < 1 ? 1 : loops;
  m->workerCount = workers < 1 ? 1 : workers;
  h2o_config_init(&m->config);
  m->config.server_name = h2o_iovec_init(H2O_STRLIT("gdserver"));
  m->config.max_request_entity_size = 64 * 1024;
  h2o_hostconf_t* host = h2o_config_register_host(&m->config, h2o_iovec_init(H2O_STRLIT("default")), 65535);
  m->routes = std::move(routes);
  for (const HttpRoute& route : m->routes) m->byPath.emplace(route.path, &route);
  // h2o takes the first path that matches the start of the request's: the
  // longest first, and "/" (every other path) last.
  std::vector<const HttpRoute*> order;
  for (const auto& entry : m->byPath) order.push_back(entry.second);
  std::stable_sort(order.begin(), order.end(),
                   [](const HttpRoute* a, const HttpRoute* b) { return a->path.size() > b->path.size(); });
  if (!m->byPath.count("/")) order.push_back(nullptr);
  for (const HttpRoute* route : order) {
    h2o_pathconf_t* path = h2o_config_register_path(host, route ? route->path.c_str() : "/", 0);
    auto* handler = reinterpret_cast<Impl::Handler*>(h2o_create_handler(path, sizeof(Impl::Handler)));
    handler->owner = m.get();
    handler->route = route;
    handler->base.on_req = Impl::OnRequest;
  }
}

HttpServer::~HttpServer() {
  // h2o 2.2 has no way to close the connections still open, so the loops,
  // their contexts and the configuration they point to stay as they are;
  // the process is ending.
  for (Impl::Job* job : m->queue) delete job;
  m->queue.clear();
  static std::vector<Impl*>* ending = new std::vector<Impl*>;
  ending->push_back(m.release());
}

uint64_t HttpServer::Dropped() const { return m->dropped.load(); }
uint64_t HttpServer::Refused() const { return m->refused.load(); }
size_t HttpServer::Queued() const {
  std::lock_guard<std::mutex> lock(m->jobLock);
  return m->queue.size();
}

int HttpServer::Bind(const std::string& host, int port, int loops) {
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
  {
    // SO_REUSEPORT would let a second server share the port and take half
    // of its connections: a socket without it finds the port in use (and
    // picks the free port when asked for port 0).
    const int probe = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe < 0) return 0;
    const int one = 1;
    setsockopt(probe, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    socklen_t got = sizeof address;
    const bool free = bind(probe, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
                      getsockname(probe, reinterpret_cast<sockaddr*>(&address), &got) == 0;
    close(probe);
    if (!free) return 0;
  }
  const int bindIndex = m->binds++;
  for (int i = 0; i < (loops > 0 ? loops : m->loopCount); ++i) {
    const int fd = socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return 0;
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &one, sizeof one);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(fd, 1024) != 0) {
      close(fd);
      return 0;
    }
    auto* loop = new Impl::Loop;
    loop->owner = m.get();
    loop->bindIndex = bindIndex;
    loop->fd = fd;
    h2o_context_init(&loop->context, h2o_evloop_create(), &m->config);
    // Each loop finds itself from the handlers' per-context slots.
    const h2o_hostconf_t* host = m->config.hosts[0];
    for (size_t i = 0; i < host->paths.size; ++i)
      h2o_context_set_handler_context(&loop->context, host->paths.entries[i].handlers.entries[0], loop);
    loop->accept.ctx = &loop->context;
    loop->accept.hosts = m->config.hosts;
    loop->queue = h2o_multithread_create_queue(loop->context.loop);
    h2o_multithread_register_receiver(loop->queue, &loop->receiver, Impl::OnMessages);
    loop->listener = h2o_evloop_socket_create(loop->context.loop, fd, H2O_SOCKET_FLAG_DONT_READ);
    loop->listener->data = &loop->accept;
    h2o_socket_read_start(loop->listener, Impl::OnAccept);
    m->loops.push_back(loop);
  }
  return ntohs(address.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&address)->sin6_port
                                             : reinterpret_cast<sockaddr_in*>(&address)->sin_port);
}

void HttpServer::Serve() {
  for (int i = 0; i < m->workerCount; ++i)
    m->workers.emplace_back([this] {
      pthread_setname_np(pthread_self(), "gd-query");
      m->Work();
    });
  for (Impl::Loop* loop : m->loops) loop->thread = std::thread([loop] { Impl::Run(loop); });
  for (Impl::Loop* loop : m->loops) loop->thread.join();
  {
    std::lock_guard<std::mutex> lock(m->jobLock);
    m->stopping = true;
  }
  m->jobWake.notify_all();
  for (std::thread& t : m->workers) t.join();
  m->workers.clear();
}

void HttpServer::Stop() {
  for (Impl::Loop* loop : m->loops) Impl::Post(loop, nullptr);
}

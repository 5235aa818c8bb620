// A task stopped after its last byte and started again at once, while its
// check and rename are still under way. Natively only: the server is a plain
// loopback socket.
#ifndef _WIN32
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "core/download_task.h"
#include "verify/md5.h"

namespace p2sp {
namespace {

bool Exists(const std::string& path) { return std::ifstream(path).good(); }

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Serves `body` to the first request only; later connections are closed
// unanswered, as a server that has gone away.
class OneShotServer {
 public:
  explicit OneShotServer(std::string body) : m_body(std::move(body)) {
    m_listen = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ::bind(m_listen, reinterpret_cast<sockaddr*>(&addr), len);
    ::listen(m_listen, 8);
    ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&addr), &len);
    m_port = ntohs(addr.sin_port);
    m_thread = std::thread([this] { Serve(); });
  }
  ~OneShotServer() {
    m_done = true;
    ::shutdown(m_listen, SHUT_RDWR);
    ::close(m_listen);
    m_thread.join();
  }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(m_port) + "/data1.bin"; }
  int Requests() const { return m_requests; }

 private:
  void Serve() {
    while (!m_done) {
      int c = ::accept(m_listen, nullptr, nullptr);
      if (c < 0) return;
      std::string request;
      char buf[4096];
      while (request.find("\r\n\r\n") == std::string::npos) {
        ssize_t n = ::recv(c, buf, sizeof buf, 0);
        if (n <= 0) break;
        request.append(buf, static_cast<size_t>(n));
      }
      if (m_requests++ == 0) {
        std::string head = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(m_body.size()) +
                           "\r\nConnection: close\r\n\r\n";
        std::string all = head + m_body;
        for (size_t sent = 0; sent < all.size();) {
          ssize_t n = ::send(c, all.data() + sent, all.size() - sent, MSG_NOSIGNAL);
          if (n <= 0) break;
          sent += static_cast<size_t>(n);
        }
      }
      ::close(c);
    }
  }

  std::string m_body;
  int m_listen = -1;
  int m_port = 0;
  std::atomic<bool> m_done{false};
  std::atomic<int> m_requests{0};
  std::thread m_thread;
};

TEST(TaskRestart, StartRightAfterAStopDuringTheCheckLeavesTheFinishedFileAlone) {
  // Big enough that hashing and flushing it after the last byte take a while.
  std::string body(24 << 20, '\0');
  for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>((i * 2654435761u) >> 13);
  const std::string h1 = FormatMd5Text(Md5Of(body.data(), body.size()));
  const std::string target = ::testing::TempDir() + "/task_restart_data1.bin";

  int caught = 0;  // tries whose stop and start came while the run was still on
  for (int attempt = 0; attempt < 10 && caught < 3; ++attempt) {
    SCOPED_TRACE("attempt " + std::to_string(attempt));
    std::remove(target.c_str());
    std::remove(SidePath(target).c_str());
    OneShotServer server(body);
    TaskOptions options;
    options.retries = 1;
    options.connectSeconds = 2;
    DownloadTask task("PDown://b7=1|" + server.Url() + "|h1=" + h1, target, options);
    ASSERT_TRUE(task.Start());
    TaskProgress s = task.Status();
    for (int i = 0; i < 20000 && !(s.total != 0 && s.done == s.total) && s.state == kTaskStateRunning; ++i) {
      std::this_thread::sleep_for(std::chrono::microseconds(500));
      s = task.Status();
    }
    // Every byte is in: the task checks and renames the file now.
    const bool onItsWay = s.active && s.state == kTaskStateRunning && !Exists(target);
    task.Stop();
    task.Start();
    for (int i = 0; i < 2000 && task.Status().active; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    s = task.Status();
    // A stop that lands before the loop has seen the end of the transfer
    // leaves a complete record; the next run then finishes from it.
    caught += onItsWay;
    EXPECT_FALSE(s.active);
    EXPECT_EQ(s.state, kTaskStateFinished);
    EXPECT_FALSE(Exists(SidePath(target))) << "a side file beside the finished file";
    EXPECT_TRUE(ReadAll(target) == body);
  }
  EXPECT_GT(caught, 0) << "no try stopped the task between its last byte and its rename";
  std::remove(target.c_str());
}

}  // namespace
}  // namespace p2sp
#endif

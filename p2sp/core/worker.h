#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace p2sp {

// Runs jobs one after the other on its own thread, so that slow disk work
// (flushes, write-back) never holds up the transfer loop.
class Worker {
 public:
  Worker() = default;
  ~Worker();
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  void Post(std::function<void()> job);
  // Until every job posted so far has run.
  void Wait();
  bool Idle();

 private:
  void Loop();

  std::mutex m_mutex;
  std::condition_variable m_wake;
  std::condition_variable m_idle;
  std::deque<std::function<void()>> m_jobs;
  bool m_running = false;  // a job is out of the queue and running
  bool m_quit = false;
  std::thread m_thread;
};

}  // namespace p2sp

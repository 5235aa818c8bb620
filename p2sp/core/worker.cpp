#include "worker.h"

namespace p2sp {

Worker::~Worker() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_quit = true;
  }
  m_wake.notify_all();
  if (m_thread.joinable()) m_thread.join();
}

void Worker::Post(std::function<void()> job) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_jobs.push_back(std::move(job));
    if (!m_thread.joinable()) m_thread = std::thread(&Worker::Loop, this);
  }
  m_wake.notify_one();
}

void Worker::Wait() {
  std::unique_lock<std::mutex> lock(m_mutex);
  m_idle.wait(lock, [this] { return m_jobs.empty() && !m_running; });
}

bool Worker::Idle() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_jobs.empty() && !m_running;
}

void Worker::Loop() {
  std::unique_lock<std::mutex> lock(m_mutex);
  for (;;) {
    m_wake.wait(lock, [this] { return m_quit || !m_jobs.empty(); });
    // Jobs already posted still run: a flush asked for must not be lost.
    if (m_jobs.empty()) return;
    std::function<void()> job = std::move(m_jobs.front());
    m_jobs.pop_front();
    m_running = true;
    lock.unlock();
    job();
    lock.lock();
    m_running = false;
    if (m_jobs.empty()) m_idle.notify_all();
  }
}

}  // namespace p2sp

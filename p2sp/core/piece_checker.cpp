#include "piece_checker.h"

#include <algorithm>

#include "file_io.h"
#include "sha256.h"

namespace p2sp {

PieceChecker::PieceChecker(RandomFile& file) : m_file(file) {}

PieceChecker::~PieceChecker() { Stop(); }

void PieceChecker::Check(uint64_t index, uint64_t begin, uint64_t end, const std::string& sha256) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_queue.push_back({index, begin, end, sha256});
    m_quit = false;
    if (!m_thread.joinable()) m_thread = std::thread(&PieceChecker::Loop, this);
  }
  m_wake.notify_one();
}

std::vector<PieceChecker::Result> PieceChecker::Take() {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::vector<Result> out;
  out.swap(m_results);
  return out;
}

size_t PieceChecker::Pending() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_queue.size() + m_busy;
}

void PieceChecker::Stop() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_quit = true;
    ++m_generation;
    m_queue.clear();
    m_results.clear();
  }
  m_wake.notify_all();
  if (m_thread.joinable()) m_thread.join();
  m_busy = 0;
}

void PieceChecker::Loop() {
  constexpr size_t kBlock = 1 << 20;
  std::vector<char> buffer(kBlock);
  Sha256 hash;
  std::unique_lock<std::mutex> lock(m_mutex);
  for (;;) {
    m_wake.wait(lock, [this] { return m_quit || !m_queue.empty(); });
    if (m_quit) return;
    Job job = std::move(m_queue.front());
    m_queue.pop_front();
    uint64_t generation = m_generation;
    m_busy = 1;
    lock.unlock();
    Result r;
    r.index = job.index;
    bool read = true;
    for (uint64_t pos = job.begin; read && pos < job.end;) {
      size_t n = static_cast<size_t>(std::min<uint64_t>(kBlock, job.end - pos));
      read = m_file.ReadAt(pos, buffer.data(), n);
      if (read) hash.Update(buffer.data(), n);
      pos += n;
    }
    Sha256Digest digest{};
    bool hashed = hash.Final(&digest);
    r.readFailed = !read || !hashed;
    r.match = !r.readFailed && Sha256Text(digest) == job.sha256;
    lock.lock();
    m_busy = 0;
    if (generation == m_generation) m_results.push_back(r);
  }
}

}  // namespace p2sp

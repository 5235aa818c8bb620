#include "tail_hasher.h"

#include <algorithm>
#include <vector>

#include "file_io.h"
#include "verify/md5.h"

namespace p2sp {

TailHasher::TailHasher(RandomFile& file) : m_file(file) {}

TailHasher::~TailHasher() { Stop(); }

void TailHasher::Restart(uint64_t begin, uint64_t end) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_generation;
    m_active = true;
    m_failed = false;
    m_begin = m_pos = m_allowed = begin;
    m_end = std::max(begin, end);
    m_text = m_begin == m_end ? FormatMd5Text(Md5().Final()) : std::string();
    m_quit = false;
    if (!m_thread.joinable()) m_thread = std::thread(&TailHasher::Loop, this);
  }
  m_wake.notify_one();
}

void TailHasher::Allow(uint64_t upTo) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    upTo = std::min(upTo, m_end);
    if (!m_active || upTo <= m_allowed) return;
    m_allowed = upTo;
  }
  m_wake.notify_one();
}

bool TailHasher::Active(uint64_t begin, uint64_t end) {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_active && m_begin == begin && m_end == end;
}

std::string TailHasher::Finish(bool* ok) {
  Allow(UINT64_MAX);
  std::unique_lock<std::mutex> lock(m_mutex);
  m_progress.wait(lock, [this] { return !m_active || m_failed || m_pos >= m_end; });
  *ok = m_active && !m_failed;
  return *ok ? m_text : std::string();
}

void TailHasher::Stop() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_quit = true;
    m_active = false;
  }
  m_wake.notify_all();
  m_progress.notify_all();
  if (m_thread.joinable()) m_thread.join();
}

void TailHasher::Loop() {
  constexpr size_t kBlock = 1 << 20;
  std::vector<char> buffer(kBlock);
  Md5 md5;
  uint64_t generation = 0;
  std::unique_lock<std::mutex> lock(m_mutex);
  for (;;) {
    m_wake.wait(
        lock, [&] { return m_quit || (m_active && (generation != m_generation || (!m_failed && m_pos < m_allowed))); });
    if (m_quit) return;
    if (generation != m_generation) {
      generation = m_generation;
      md5 = Md5();
    }
    if (m_failed || m_pos >= m_allowed) continue;
    uint64_t pos = m_pos;
    size_t n = static_cast<size_t>(std::min<uint64_t>(kBlock, m_allowed - pos));
    lock.unlock();
    bool read = m_file.ReadAt(pos, buffer.data(), n);
    lock.lock();
    // A restart while the block was read makes it worthless.
    if (generation != m_generation) continue;
    if (!read) {
      m_failed = true;
    } else {
      md5.Update(buffer.data(), n);
      m_pos = pos + n;
      if (m_pos >= m_end) m_text = FormatMd5Text(md5.Final());
    }
    m_progress.notify_all();
  }
}

}  // namespace p2sp

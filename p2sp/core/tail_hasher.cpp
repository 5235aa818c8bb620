#include "tail_hasher.h"

#include <algorithm>
#include <vector>

#include "file_io.h"
#include "sha256.h"
#include "verify/md5.h"

namespace p2sp {
namespace {

struct Digester {
  explicit Digester(TailHasher::Kind k) : kind(k) {}
  void Reset() {
    md5 = Md5();
    Sha256Digest ignored;
    sha.Final(&ignored);
  }
  void Update(const char* data, size_t n) {
    if (kind == TailHasher::Kind::kMd5)
      md5.Update(data, n);
    else
      sha.Update(data, n);
  }
  // "" when the library failed.
  std::string Text() {
    if (kind == TailHasher::Kind::kMd5) return FormatMd5Text(md5.Final());
    Sha256Digest d;
    return sha.Final(&d) ? Sha256Text(d) : std::string();
  }
  TailHasher::Kind kind;
  Md5 md5;
  Sha256 sha;
};

}  // namespace

TailHasher::TailHasher(RandomFile& file, Kind kind) : m_file(file), m_kind(kind) {}

TailHasher::~TailHasher() { Stop(); }

void TailHasher::Restart(uint64_t begin, uint64_t end) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_generation;
    m_active = true;
    m_failed = false;
    m_begin = m_pos = m_allowed = begin;
    m_end = std::max(begin, end);
    m_text = m_begin == m_end ? Digester(m_kind).Text() : std::string();
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
  Digester digester(m_kind);
  uint64_t generation = 0;
  std::unique_lock<std::mutex> lock(m_mutex);
  for (;;) {
    m_wake.wait(
        lock, [&] { return m_quit || (m_active && (generation != m_generation || (!m_failed && m_pos < m_allowed))); });
    if (m_quit) return;
    if (generation != m_generation) {
      generation = m_generation;
      digester.Reset();
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
      digester.Update(buffer.data(), n);
      m_pos = pos + n;
      if (m_pos >= m_end) {
        m_text = digester.Text();
        m_failed = m_text.empty();
      }
    }
    m_progress.notify_all();
  }
}

}  // namespace p2sp

#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace p2sp {

class RandomFile;

// MD5 (or SHA-256) of one part of a file, computed on its own thread while
// the file is still being written: the owner says how far the bytes are final,
// the hasher reads them in order behind it. So the check after the last byte
// only has to read what arrived last.
class TailHasher {
 public:
  enum class Kind { kMd5, kSha256 };
  explicit TailHasher(RandomFile& file, Kind kind = Kind::kMd5);
  ~TailHasher();
  TailHasher(const TailHasher&) = delete;
  TailHasher& operator=(const TailHasher&) = delete;

  // Throws away what was hashed and starts on [begin, end).
  void Restart(uint64_t begin, uint64_t end);
  // Bytes before `upTo` will not change again (until the next Restart).
  void Allow(uint64_t upTo);
  bool Active(uint64_t begin, uint64_t end);
  // Waits until the whole part is hashed and returns its lower-case hex; "" and
  // *ok = false when a read failed or nothing was started.
  std::string Finish(bool* ok);
  // Ends the thread; a later Restart starts it again.
  void Stop();

 private:
  void Loop();

  RandomFile& m_file;
  const Kind m_kind;
  std::mutex m_mutex;
  std::condition_variable m_wake;
  std::condition_variable m_progress;
  std::thread m_thread;
  bool m_quit = false;
  bool m_active = false;
  bool m_failed = false;
  uint64_t m_generation = 0;
  uint64_t m_begin = 0, m_end = 0;
  uint64_t m_allowed = 0;
  uint64_t m_pos = 0;
  std::string m_text;  // set once m_pos reaches m_end
};

}  // namespace p2sp

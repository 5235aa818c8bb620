#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace p2sp {

class RandomFile;

// Hashes whole pieces of the side file on its own thread, so that the
// transfer never waits for a check: the session queues a piece once all its
// bytes are written and collects the verdicts later.
class PieceChecker {
 public:
  struct Result {
    uint64_t index = 0;
    bool match = false;
    bool readFailed = false;
  };

  explicit PieceChecker(RandomFile& file);
  ~PieceChecker();
  PieceChecker(const PieceChecker&) = delete;
  PieceChecker& operator=(const PieceChecker&) = delete;

  // `sha256` is the expected lower-case hex of bytes [begin, end).
  void Check(uint64_t index, uint64_t begin, uint64_t end, const std::string& sha256);
  // The verdicts reached since the last call.
  std::vector<Result> Take();
  // Queued or being hashed.
  size_t Pending();
  // Forgets the queue and whatever is being hashed; ends the thread.
  void Stop();

 private:
  struct Job {
    uint64_t index, begin, end;
    std::string sha256;
  };
  void Loop();

  RandomFile& m_file;
  std::mutex m_mutex;
  std::condition_variable m_wake;
  std::thread m_thread;
  bool m_quit = false;
  uint64_t m_generation = 0;
  size_t m_busy = 0;
  std::deque<Job> m_queue;
  std::vector<Result> m_results;
};

}  // namespace p2sp

#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "contract/engine_contract.h"

namespace p2sp {

class SharingHub;
class SpeedCap;

// Task states as the status record carries them.
constexpr uint8_t kStateRunning = engine_contract::kStateRunning;  // running, stopped or not finished
constexpr uint8_t kStateFinished = engine_contract::kStateFinished;
constexpr uint8_t kStateFailedDownload = engine_contract::kStateFailed;
constexpr uint8_t kStateFailedCheck = engine_contract::kStateDamaged;

struct TaskOptions {
  int maxConnections = 16;
  int initialConnections = 8;
  // Failed rounds of attempts on a source, without a byte gained, before the
  // source is given up (answers that fail together are one round).
  int retries = 6;
  int stallSeconds = 15;
  int connectSeconds = 15;
  std::string seedUrl;
  std::string proxy;  // empty: the system's setting (environment here, Internet options on Windows)
  // The process's cap on download speed, shared by its tasks (null: none).
  std::shared_ptr<SpeedCap> speedCap;
};

struct TaskStatus {
  uint64_t total = 0;  // 0 while unknown
  uint64_t done = 0;
  uint32_t serverSpeed = 0;  // bytes per second from the task's own link
  uint32_t peerSpeed = 0;    // bytes per second from sources the seed service named
  uint64_t peerBytes = 0;    // bytes of this file that came from other players
  uint64_t servedBytes = 0;  // bytes the whole process served to other players
  uint8_t state = kStateRunning;
  bool active = false;
};

// One file: a link, a target path, and a thread while it runs. All members
// return at once; the transfer runs on the task's own thread.
class DownloadTask {
 public:
  // `hub` (may be null: no sharing) serves the verified pieces of a file
  // with a manifest to other players and tells of the players heard nearby.
  DownloadTask(const std::string& link, const std::string& target, const TaskOptions& options,
               std::shared_ptr<SharingHub> hub = nullptr);
  ~DownloadTask();
  DownloadTask(const DownloadTask&) = delete;
  DownloadTask& operator=(const DownloadTask&) = delete;

  bool Start();
  // Asks the thread to stop; it flushes the progress record on its way out.
  bool Stop();
  void Join();
  TaskStatus Status() const;
  const std::string& Link() const { return m_link; }
  const std::string& Target() const { return m_target; }

 private:
  friend class Session;
  void Run();

  const std::string m_link;
  const std::string m_target;
  const TaskOptions m_options;
  const std::shared_ptr<SharingHub> m_hub;

  std::mutex m_lifeMutex;
  std::thread m_thread;
  std::atomic<bool> m_stop{false};
  std::atomic<bool> m_active{false};
  std::atomic<uint8_t> m_state{kStateRunning};
  std::atomic<uint64_t> m_total{0};
  std::atomic<uint64_t> m_done{0};
  std::atomic<uint32_t> m_serverSpeed{0};
  std::atomic<uint32_t> m_peerSpeed{0};
  std::atomic<uint64_t> m_peerBytes{0};
};

// The name of the side file that holds a download until it is complete.
std::string SidePath(const std::string& target);
// MD5 text of the whole file when it is at most 52428800 bytes, else of its last
// 52428800 bytes; reads `size` bytes of data from the start of `path`.
std::string ComputeH1Text(const std::string& path, uint64_t size, bool* ok);
class RandomFile;
std::string ComputeH1Text(RandomFile& file, uint64_t size, bool* ok);
constexpr uint64_t kH1TailBytes = engine_contract::kMd5TailBytes;

}  // namespace p2sp

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

// Task states and the status as the record carries them.
using engine_contract::kTaskStateFailedCheck;
using engine_contract::kTaskStateFailedDownload;
using engine_contract::kTaskStateFinished;
using engine_contract::kTaskStateRunning;
using engine_contract::TaskStatus;

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
  // A file found at the target goes once its pieces are read (see
  // kOptionDiscardOldTarget); false: it stays until the new file replaces it.
  bool discardOldTarget = false;
};

// The status, and whether the task's thread still runs.
struct TaskProgress : TaskStatus {
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
  TaskProgress Status() const;
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
  std::atomic<uint8_t> m_state{kTaskStateRunning};
  std::atomic<uint64_t> m_total{0};
  std::atomic<uint64_t> m_done{0};
  std::atomic<uint32_t> m_linkSpeed{0};
  std::atomic<uint32_t> m_otherSpeed{0};
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

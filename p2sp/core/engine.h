#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "contract/engine_contract.h"
#include "download_task.h"
#include "sharing_hub.h"

namespace p2sp {

using engine_contract::kOptionDownloadCap;
using engine_contract::kOptionDiscardOldTarget;
using engine_contract::kOptionMaxConnections;
using engine_contract::kOptionMaxPeersServed;
using engine_contract::kOptionPeerSharing;
using engine_contract::kOptionUploadCap;
using engine_contract::kOptionRetries;
using engine_contract::kOptionSeedUrl;
using engine_contract::kOptionServePaused;
using engine_contract::kOptionShareAddress;
using engine_contract::kOptionStallSeconds;
using engine_contract::kStatusRecordSize;

// The task table behind the exports. Every call returns at once.

class Engine {
 public:
  Engine();
  ~Engine();

  void Init();
  // Stops every task and waits until each has flushed its progress.
  void Uninit();
  void SetOption(int option, const void* value, int bytes);
  TaskOptions Options() const;
  SharingOptions Sharing() const;

  // > 0; a link that cannot be used still gets a task, which fails at once, so
  // the caller sees state 5 rather than a task that never moves.
  int CreateTask(const std::string& link, const std::string& target);
  int StartTask(int id);
  int StopTask(int id);
  void RemoveTask(int id);
  bool QueryTask(int id, TaskProgress* status);
  // Bytes served to other players since Init.
  uint64_t ServedBytes() const;

 private:
  std::shared_ptr<DownloadTask> Find(int id);

  mutable std::mutex m_mutex;
  TaskOptions m_options;
  SharingOptions m_sharing;
  std::shared_ptr<SharingHub> m_hub;
  std::map<int, std::shared_ptr<DownloadTask>> m_tasks;
  std::vector<std::shared_ptr<DownloadTask>> m_removed;  // joined at Uninit
  int m_nextId = 1;
};

}  // namespace p2sp

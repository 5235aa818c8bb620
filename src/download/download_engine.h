#pragma once

#include <cstdint>
#include <string>

#include "engine/download_manager.h"

// The fields of the engine's 596-byte status record that the program reads.
struct TaskStatus {
  uint64_t total = 0;  // 0 while the engine does not know the size
  uint64_t downloaded = 0;
  uint32_t speed1 = 0;  // bytes per second from the task's link
  uint32_t speed2 = 0;  // bytes per second from other sources
  uint8_t state = 0;    // 0 running, 1 finished, 5 and 6 failed
  uint64_t peerBytes = 0;    // bytes of this task that came from other players
  uint64_t servedBytes = 0;  // bytes the engine served to other players since Init (any task tells it)

  uint64_t Speed() const { return static_cast<uint64_t>(speed1) + speed2; }
};

// Reads the record as the engine fills it (little-endian).
TaskStatus ParseTaskStatus(const unsigned char* record);

// The engine calls the download window makes; tests put a fake behind it.
class IDownloadEngine {
 public:
  // False when the engine could not be loaded: no task can be made.
  virtual bool IsLoaded() = 0;
  virtual void Init() = 0;
  virtual void SetSeedUrl(const std::wstring& seedUrl) = 0;
  // Whether other players may fetch verified pieces from this process.
  virtual void SetPeerSharing(bool on) { (void)on; }
  // While a full-screen program runs no piece leaves this process.
  virtual void SetServePaused(bool paused) { (void)paused; }
  // Download speed over all tasks, in bytes per second; 0: no cap. At once.
  virtual void SetSpeedCap(uint32_t bytesPerSecond) { (void)bytesPerSecond; }
  // Task identifier, > 0 when created.
  virtual int CreateP2SPTask(void* notifyWindow, const std::wstring& url, const std::wstring& path) = 0;
  virtual TaskStatus QueryTask(int taskId) = 0;
  virtual int StartTask(int taskId) = 0;
  virtual int StopTask(int taskId) = 0;
  virtual void RemoveTask(int taskId) = 0;
  virtual void Uninit() = 0;

 protected:
  ~IDownloadEngine() = default;
};

// The process's engine through CDownloadManager, so that starts and stops
// reach its listener.
class CManagerEngine : public IDownloadEngine {
 public:
  explicit CManagerEngine(CDownloadManager& manager) : m_manager(manager) {}

  bool IsLoaded() override;
  void Init() override;
  void SetSeedUrl(const std::wstring& seedUrl) override;
  void SetPeerSharing(bool on) override;
  void SetServePaused(bool paused) override;
  void SetSpeedCap(uint32_t bytesPerSecond) override;
  int CreateP2SPTask(void* notifyWindow, const std::wstring& url, const std::wstring& path) override;
  TaskStatus QueryTask(int taskId) override;
  int StartTask(int taskId) override;
  int StopTask(int taskId) override;
  void RemoveTask(int taskId) override;
  void Uninit() override;

 private:
  CDownloadManager& m_manager;
};

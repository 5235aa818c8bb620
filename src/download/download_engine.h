#pragma once

#include <cstdint>
#include <string>

#include "engine/download_manager.h"

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
  // A file found at a task's target is read for the pieces that match its
  // manifest and then removed (at once without a manifest), rather than kept
  // until the new file replaces it.
  virtual void DiscardOldTargets() {}
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
  void DiscardOldTargets() override;
  int CreateP2SPTask(void* notifyWindow, const std::wstring& url, const std::wstring& path) override;
  TaskStatus QueryTask(int taskId) override;
  int StartTask(int taskId) override;
  int StopTask(int taskId) override;
  void RemoveTask(int taskId) override;
  void Uninit() override;

 private:
  CDownloadManager& m_manager;
};

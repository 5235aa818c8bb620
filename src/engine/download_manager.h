#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "contract/engine_contract.h"
#include "contract/engine_exports.h"

// The status record and the task states, as the engine's contract fixes them.
constexpr size_t kTaskStatusSize = engine_contract::kStatusRecordSize;
constexpr size_t kTaskStatusStateOffset = engine_contract::kStateOffset;
using engine_contract::kTaskStateFailedCheck;
using engine_contract::kTaskStateFailedDownload;
using engine_contract::kTaskStateFinished;
using engine_contract::kTaskStateRunning;
using engine_contract::TaskStatus;

// The engine DLL's thirteen exports, with the signatures of the contract.
using EngineEntryPoints = engine_contract::EngineExports;

// The process-wide wrapper of the download engine DLL. The DLL is extracted
// from the program's resources and bound when Instance() is first called.
// A failed load is remembered: no export is called then, every operation
// answers failure, and a queried task reads as failed (state 5), so the
// download window shows a download failure instead of crashing.
class CDownloadManager {
 public:
  class ICDownloadManagerCallback {
   public:
    // 0: a task has been started; 1: a task has been stopped.
    virtual void OnTaskStateChanged(int state) = 0;

   protected:
    ~ICDownloadManagerCallback() = default;
  };

  static CDownloadManager& Instance();

  // An engine already bound by other means (tests, hosts without DLLs).
  explicit CDownloadManager(const EngineEntryPoints& entryPoints);
#if defined(_WIN32)
  // Deletes a stale copy at enginePath, extracts the engine resource there and
  // binds it. The file is removed again by the destructor.
  explicit CDownloadManager(const std::wstring& enginePath);
#endif
  ~CDownloadManager();
  CDownloadManager(const CDownloadManager&) = delete;
  CDownloadManager& operator=(const CDownloadManager&) = delete;

  // The listener is not owned; null clears it.
  void SetCallback(ICDownloadManagerCallback* callback) { m_callback = callback; }
  ICDownloadManagerCallback* GetCallback() const { return m_callback; }

  // True when all thirteen exports were bound.
  bool IsLoaded() const { return m_loaded; }

  // Each returns 0 without calling anything when the engine is not loaded.
  int Init(int reserved);
  int Uninit();
  int SetP2spOption(int option, const void* value, int bytes);
  // The seed URL as the engine wants it: UTF-16 without terminator.
  int SetSeedUrl(const std::wstring& seedUrl);
  // Task identifier (> 0), or 0.
  int CreateP2SPTask(void* notifyWindow, const wchar_t* url, const wchar_t* path);
  // record must hold kTaskStatusSize bytes; it is zeroed first. Without an
  // engine the record reports state 5 (failed download).
  int QueryTask(int taskId, void* record);
  int RemoveTask(int taskId);
  // Return the engine's own answer; the listener hears of a start (0) or stop
  // (1) only when that answer is exactly 1.
  int StartTask(int taskId);
  int StopTask(int taskId);

 private:
  EngineEntryPoints m_entry;
  ICDownloadManagerCallback* m_callback = nullptr;
#if defined(_WIN32)
  // The extracted engine file and the library loaded from it; going, it
  // unloads the library and deletes the file.
  class EngineLibrary;
  struct EngineLibraryDeleter {
    void operator()(EngineLibrary* library) const;
  };
  std::unique_ptr<EngineLibrary, EngineLibraryDeleter> m_library;
#endif
  bool m_loaded = false;
};

#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "contract/engine_contract.h"

#if defined(_WIN32)
#define GD_ENGINE_CALL __cdecl
#else
#define GD_ENGINE_CALL
#endif

// The status record and the task states, as the engine's contract fixes them.
constexpr size_t kTaskStatusSize = engine_contract::kStatusRecordSize;
constexpr size_t kTaskStatusStateOffset = engine_contract::kStateOffset;
constexpr uint8_t kTaskStateRunning = engine_contract::kStateRunning;
constexpr uint8_t kTaskStateFinished = engine_contract::kStateFinished;
constexpr uint8_t kTaskStateFailedDownload = engine_contract::kStateFailed;
constexpr uint8_t kTaskStateFailedCheck = engine_contract::kStateDamaged;

// The engine DLL's exports. The five that the program never calls have no
// fixed signature; they are bound only because a complete engine has them.
using EngineInitFn = void(GD_ENGINE_CALL*)(int);
using EngineUninitFn = void(GD_ENGINE_CALL*)();
using EngineCreateP2SPTaskFn = int(GD_ENGINE_CALL*)(void* notifyWindow, const wchar_t* url, const wchar_t* path);
using EngineQueryTaskFn = void(GD_ENGINE_CALL*)(int taskId, void* record);
using EngineTaskFn = int(GD_ENGINE_CALL*)(int taskId);
using EngineRemoveTaskFn = void(GD_ENGINE_CALL*)(int taskId);
using EngineSetP2spOptionFn = void(GD_ENGINE_CALL*)(int option, const void* value, int bytes);
using EngineUnusedFn = void(GD_ENGINE_CALL*)();

// The thirteen entry points, in the order the manager keeps them.
struct EngineEntryPoints {
  EngineInitFn Init = nullptr;
  EngineUnusedFn Login = nullptr;
  EngineUninitFn Uninit = nullptr;
  EngineCreateP2SPTaskFn CreateP2SPTask = nullptr;
  EngineQueryTaskFn QueryTask = nullptr;
  EngineUnusedFn StopSeed = nullptr;
  EngineUnusedFn GetFinishMessage = nullptr;
  EngineRemoveTaskFn RemoveTask = nullptr;
  EngineUnusedFn SetConfigInfo = nullptr;
  EngineUnusedFn UpdateRegInfo = nullptr;
  EngineSetP2spOptionFn SetP2spOption = nullptr;
  EngineTaskFn StartTask = nullptr;
  EngineTaskFn StopTask = nullptr;

  bool Complete() const;
};

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

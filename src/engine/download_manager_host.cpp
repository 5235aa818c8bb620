// Hosts without Win32 have no engine DLL to load: the process-wide manager is
// one whose load has failed, so portable callers behave as they would on
// Windows when the engine is missing.
#if !defined(_WIN32)
#include "engine/download_manager.h"

CDownloadManager::~CDownloadManager() = default;

CDownloadManager& CDownloadManager::Instance() {
  static CDownloadManager manager{EngineEntryPoints{}};
  return manager;
}
#endif

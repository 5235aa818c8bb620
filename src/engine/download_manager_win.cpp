#include <windows.h>

#include "base/scoped_win.h"
#include "engine/download_manager.h"
#include "engine/resource_extract.h"

CDownloadManager::CDownloadManager(const std::wstring& enginePath) : m_enginePath(enginePath) {
  // A copy left by an earlier run would make the new file impossible to create.
  ::DeleteFileW(m_enginePath.c_str());
  if (!ExtractResourceToFile(kEngineLibraryResourceId, kEngineLibraryResourceType, m_enginePath)) return;
  HMODULE module = ::LoadLibraryW(m_enginePath.c_str());
  m_module = module;
  if (!module) return;
  // GetProcAddress hands back a generic function pointer; going through
  // void(*)() keeps the compiler from warning about the cast to the real type.
  engine_contract::ResolveExports(
      [module](const char* name) { return reinterpret_cast<void (*)()>(::GetProcAddress(module, name)); }, &m_entry);
  m_loaded = m_entry.Complete();
  if (m_loaded) m_callback = nullptr;
}

CDownloadManager::~CDownloadManager() {
  // The engine keeps itself loaded while its threads may run; stopping it
  // first lets the library go and its file be deleted.
  if (m_loaded) m_entry.Uninit();
  ScopedModule(static_cast<HMODULE>(m_module)).Reset();
  if (!m_enginePath.empty()) ::DeleteFileW(m_enginePath.c_str());
}

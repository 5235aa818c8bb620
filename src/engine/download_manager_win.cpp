#include <windows.h>

#include <utility>

#include "base/scoped_win.h"
#include "engine/download_manager.h"
#include "engine/resource_extract.h"

class CDownloadManager::EngineLibrary {
 public:
  // A copy left by an earlier run would make the new file impossible to create.
  explicit EngineLibrary(std::wstring path) : m_path(std::move(path)) { ::DeleteFileW(m_path.c_str()); }
  ~EngineLibrary() {
    m_module.Reset();
    ::DeleteFileW(m_path.c_str());
  }
  EngineLibrary(const EngineLibrary&) = delete;
  EngineLibrary& operator=(const EngineLibrary&) = delete;

  HMODULE Load() {
    if (ExtractResourceToFile(kEngineLibraryResourceId, kEngineLibraryResourceType, m_path)) {
      m_module.Reset(::LoadLibraryW(m_path.c_str()));
    }
    return m_module.Get();
  }

 private:
  std::wstring m_path;
  ScopedModule m_module;
};

void CDownloadManager::EngineLibraryDeleter::operator()(EngineLibrary* library) const { delete library; }

CDownloadManager::CDownloadManager(const std::wstring& enginePath) : m_library(new EngineLibrary(enginePath)) {
  HMODULE module = m_library->Load();
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
}

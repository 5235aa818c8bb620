#include <windows.h>

#include <utility>

#include "base/scoped_win.h"
#include "engine/download_manager.h"
#include "engine/resource_extract.h"

namespace {

// GetProcAddress hands back a generic function pointer; going through
// void(*)() keeps the compiler from warning about the cast to the real type.
template <typename Fn>
void Bind(HMODULE module, const char* name, Fn& slot) {
  slot = reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}

}  // namespace

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
  Bind(module, "Init", m_entry.Init);
  Bind(module, "Login", m_entry.Login);
  Bind(module, "Uninit", m_entry.Uninit);
  Bind(module, "CreateP2SPTask", m_entry.CreateP2SPTask);
  Bind(module, "QueryTask", m_entry.QueryTask);
  Bind(module, "StartTask", m_entry.StartTask);
  Bind(module, "StopTask", m_entry.StopTask);
  Bind(module, "StopSeed", m_entry.StopSeed);
  Bind(module, "GetFinishMessage", m_entry.GetFinishMessage);
  Bind(module, "RemoveTask", m_entry.RemoveTask);
  Bind(module, "SetConfigInfo", m_entry.SetConfigInfo);
  Bind(module, "UpdateRegInfo", m_entry.UpdateRegInfo);
  Bind(module, "SetP2spOption", m_entry.SetP2spOption);
  m_loaded = m_entry.Complete();
  if (m_loaded) m_callback = nullptr;
}

CDownloadManager::~CDownloadManager() {
  // The engine keeps itself loaded while its threads may run; stopping it
  // first lets the library go and its file be deleted.
  if (m_loaded) m_entry.Uninit();
}

#include <windows.h>

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

CDownloadManager::CDownloadManager(const std::wstring& enginePath) : m_enginePath(enginePath) {
  // A copy left by an earlier run would make the new file impossible to create.
  ::DeleteFileW(m_enginePath.c_str());
  if (!ExtractResourceToFile(kEngineLibraryResourceId, kEngineLibraryResourceType, m_enginePath)) return;
  HMODULE module = ::LoadLibraryW(m_enginePath.c_str());
  m_module = module;
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
  ScopedModule(static_cast<HMODULE>(m_module)).Reset();
  if (!m_enginePath.empty()) ::DeleteFileW(m_enginePath.c_str());
}
